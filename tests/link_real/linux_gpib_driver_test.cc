#include "link/linux_gpib_driver.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "support/test_platform.h"

namespace kc {
namespace {

const std::array<Addr4882_t, 32> kAllAddresses = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
    16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, gpib::NOADDR};
const char kSearched[] =
    "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30";

// The fake library's own controls, reached through a handle of our own.
template <typename Function>
Function* Control(const char* name) {
  static void* handle = dlopen(KC_FAKE_GPIB, RTLD_NOW | RTLD_LOCAL);
  void* symbol = handle == nullptr ? nullptr : dlsym(handle, name);
  if (symbol == nullptr) throw std::runtime_error(name);
  Function* function = nullptr;
  std::memcpy(&function, &symbol, sizeof(function));
  return function;
}
std::string FakeLog() {
  return Control<const char*()>("kc_fake_gpib_log")();
}
void RequestService(int after_waits, bool autopoll) {
  Control<void(int, int)>("kc_fake_gpib_request_service")(after_waits, autopoll);
}

class LinuxGpibDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Control<void()>("kc_fake_gpib_reset")();
    // The library is found by the environment variable, as a user's test
    // set-up would do it.
    ::setenv("KC_LIBGPIB", KC_FAKE_GPIB, 1);
    driver_ = std::make_unique<LinuxGpibDriver>(3, platform_);
    driver_->RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
  }
  void TearDown() override { ::unsetenv("KC_LIBGPIB"); }

  TestPlatform platform_;
  std::unique_ptr<LinuxGpibDriver> driver_;
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

TEST(LinuxGpibLoadTest, MissingLibraryOrCallIsAClearStartUpError) {
  TestPlatform platform;
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"/nonexistent/libgpib.so.0",
       {"linux-gpib library could not be loaded", "/nonexistent/libgpib.so.0"}},
      {KC_FAKE_GPIB_PARTIAL, {"has no call ibwait"}},
  };
  for (const auto& [library, says] : cases) {
    try {
      LinuxGpibDriver driver(0, platform, library);
      ADD_FAILURE() << "loaded " << library;
    } catch (const std::runtime_error& error) {
      const std::string message = error.what();
      for (const std::string& part : says)
        EXPECT_NE(message.find(part), std::string::npos) << message;
      EXPECT_NE(message.find("Install linux-gpib"), std::string::npos) << message;
    }
  }
}

TEST_F(LinuxGpibDriverTest, ForwardsTheProgramsCallsOnItsBoard) {
  EXPECT_EQ(driver_->library(), KC_FAKE_GPIB);
  driver_->SendIFC(0);
  driver_->ibsre(0, 1);
  std::array<Addr4882_t, 15> listeners{};
  driver_->FindLstn(0, kAllAddresses.data(), listeners.data(), 15);
  EXPECT_EQ(status_ & gpib::ERR, 0);
  EXPECT_EQ(count_, 3);
  EXPECT_EQ((std::array<int, 4>{listeners[0], listeners[1], listeners[2], listeners[3]}),
            (std::array<int, 4>{0, 1, 7, 0}));

  int ud = driver_->ibdev(0, 1, 0, gpib::T1s, 1, 0);
  driver_->ibpad(ud, 7);
  driver_->ibclr(ud);
  char poll = 'x';
  driver_->ibrsp(ud, &poll);
  EXPECT_EQ(poll, 0);
  driver_->ibwrt(ud, "ID?", 3);
  EXPECT_EQ(count_, 3);
  std::string buffer(256, ' ');
  driver_->ibrd(ud, buffer.data(), 256);
  EXPECT_EQ(status_, gpib::CMPL | gpib::END);
  EXPECT_EQ(buffer.substr(0, static_cast<std::size_t>(count_long_)), "ID FAKE/7\n");
  int tmo = 0;
  driver_->ibask(ud, gpib::IbaTMO, &tmo);
  EXPECT_EQ(tmo, gpib::T1s);
  driver_->ibtmo(ud, gpib::T3s);

  // Board 3 everywhere the program says 0; address 0 is not searched.
  const std::string expected = std::string("SendIFC(3)\nibsre(3,1)\nFindLstn(3,[") + kSearched +
                               "],14)\n"
                               "ibdev(3,1,0,11,1,0)\nibpad(16,7)\nibclr(16)\nibrsp(16)\n"
                               "ibwrt(16,ID?)\nibrd(16,256)\nibask(16,3)\nibtmo(16,12)\n";
  EXPECT_EQ(FakeLog(), expected);
}

TEST_F(LinuxGpibDriverTest, StatusAndErrorComeFromTheLibrary) {
  int ud = driver_->ibdev(0, 7, 0, gpib::T1s, 1, 0);
  std::string buffer(16, ' ');
  EXPECT_EQ(driver_->ibrd(ud, buffer.data(), 16), gpib::ERR | gpib::TIMO | gpib::CMPL);
  EXPECT_EQ(status_, gpib::ERR | gpib::TIMO | gpib::CMPL);
  EXPECT_EQ(error_, gpib::EABO);
}

TEST_F(LinuxGpibDriverTest, ServiceRequestWaitWithAndWithoutAutomaticPolling) {
  int ud = driver_->ibdev(0, 7, 0, gpib::T1s, 1, 0);
  RequestService(2, /*autopoll=*/true);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS), gpib::RQS | gpib::CMPL);
  // The board without automatic polling: the device's own poll shows it.
  RequestService(4, /*autopoll=*/false);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS), gpib::RQS | gpib::CMPL);
  // Waits go in 10 ms slices and the device's time-out is put back after.
  const std::string expected =
      "ibdev(3,7,0,11,1,0)\n"
      "ibask(16,3)\nibtmo(16,7)\nibwait(16,0x4800)\nibrsp(16)\nibwait(16,0x4800)\nibtmo(16,11)\n"
      "ibask(16,3)\nibtmo(16,7)\nibwait(16,0x4800)\nibrsp(16)\nibwait(16,0x4800)\nibrsp(16)\n"
      "ibtmo(16,11)\n";
  EXPECT_EQ(FakeLog(), expected);

  // No service request, but a close request: the wait ends without RQS.
  RequestService(0, true);
  platform_.close_at = platform_.clock().Elapsed() + 0.5;
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS), gpib::CMPL);
  EXPECT_TRUE(platform_.close_pending());
  int tmo = 0;
  driver_->ibask(ud, gpib::IbaTMO, &tmo);
  EXPECT_EQ(tmo, gpib::T1s);
}

}  // namespace
}  // namespace kc
