// The simulated bus behind the driver calls: discovery, addressing, reads in
// chunks, time-outs on the virtual clock, serial polls and service-request
// waits with the simulated technician.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "link/gpib_driver.h"
#include "sim/script_technician.h"
#include "sim/sim_bus.h"
#include "sim/sim_devices.h"
#include "sim/sim_scope.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using gpib::CMPL;
using gpib::END;
using gpib::ERR;
using gpib::RQS;
using gpib::TIMO;

class BusTest : public ::testing::Test {
 protected:
  BusTest() { bus_.RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_); }

  SimScope& AddScope(int pad, const std::string& model = "2440") {
    auto scope = std::make_unique<SimScope>(model, platform_.clock());
    SimScope& ref = *scope;
    bus_.Attach(pad, std::move(scope));
    return ref;
  }
  int Open(int pad) { return bus_.ibdev(0, pad, 0, gpib::T1s, 1, 0); }
  void Write(int ud, const std::string& text) {
    bus_.ibwrt(ud, text.data(), static_cast<long>(text.size()));
  }
  // One ibrd of at most `count` bytes; what arrived.
  std::string Read(int ud, long count = 512) {
    std::string buffer(static_cast<std::size_t>(count), ' ');
    bus_.ibrd(ud, buffer.data(), count);
    return buffer.substr(0, static_cast<std::size_t>(count_long_));
  }
  std::string Query(int ud, const std::string& text) {
    Write(ud, text);
    return Read(ud);
  }
  int Poll(int ud) {
    char byte = 0;
    bus_.ibrsp(ud, &byte);
    return static_cast<unsigned char>(byte);
  }
  double Now() { return platform_.clock().Elapsed(); }

  TestPlatform platform_{0};
  SimBus bus_{platform_};
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

// The address list of the program's discovery: 0, 1 to 30, NOADDR.
std::vector<Addr4882_t> FullList() {
  std::vector<Addr4882_t> list;
  for (Addr4882_t pad = 0; pad <= 30; ++pad) list.push_back(pad);
  list.push_back(gpib::NOADDR);
  return list;
}

TEST_F(BusTest, FindLstnPutsTheControllerFirstThenTheDevicesInListOrder) {
  bus_.Attach(12, std::make_unique<SilentListener>());
  AddScope(3);
  bus_.Attach(7, std::make_unique<IdDevice>("AB/2430,V1"));
  std::array<Addr4882_t, 15> results{};
  bus_.FindLstn(0, FullList().data(), results.data(), 15);
  EXPECT_EQ(status_ & ERR, 0);
  EXPECT_EQ(count_long_, 4);
  EXPECT_EQ(results, (std::array<Addr4882_t, 15>{0, 3, 7, 12}));

  // A list without address 0 finds only the devices, in the list's order.
  std::array<Addr4882_t, 4> list = {12, 5, 3, gpib::NOADDR};
  std::array<Addr4882_t, 15> only{};
  bus_.FindLstn(0, list.data(), only.data(), 15);
  EXPECT_EQ(count_long_, 2);
  EXPECT_EQ(only, (std::array<Addr4882_t, 15>{12, 3}));
}

TEST_F(BusTest, FindLstnWithNoDeviceIsABusError) {
  std::array<Addr4882_t, 15> results{};
  bus_.FindLstn(0, FullList().data(), results.data(), 15);
  EXPECT_EQ(status_, ERR);
  EXPECT_EQ(error_, gpib::EBUS);
  // The controller alone does not count as an answer.
  EXPECT_EQ(results, (std::array<Addr4882_t, 15>{}));
}

TEST_F(BusTest, FindLstnCountsTheControllerAgainstTheLimit) {
  // Fourteen devices and the controller fill fifteen entries exactly.
  for (int pad = 1; pad <= 14; ++pad) bus_.Attach(pad, std::make_unique<SilentListener>());
  std::array<Addr4882_t, 15> results{};
  bus_.FindLstn(0, FullList().data(), results.data(), 15);
  EXPECT_EQ(status_ & ERR, 0);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[14], 14);

  // A fifteenth device is one too many.
  bus_.Attach(30, std::make_unique<SilentListener>());
  std::array<Addr4882_t, 16> guarded{};
  guarded[15] = 0xBEEF;
  bus_.FindLstn(0, FullList().data(), guarded.data(), 15);
  EXPECT_EQ(status_, ERR);
  EXPECT_EQ(error_, gpib::ETAB);
  EXPECT_EQ(guarded[15], 0xBEEF);  // nothing written past the limit
}

TEST_F(BusTest, ReadsHandOutAReplyInChunksWithEndOnTheLast) {
  const std::string identity(600, 'x');
  bus_.Attach(4, std::make_unique<IdDevice>(identity));
  int ud = Open(4);
  Write(ud, "ID?");
  EXPECT_EQ(status_, CMPL);
  EXPECT_EQ(count_long_, 3);
  std::string reply = Read(ud, 256);
  EXPECT_EQ(status_, CMPL);
  EXPECT_EQ(reply.size(), 256u);
  reply += Read(ud, 256);
  EXPECT_EQ(status_, CMPL);
  reply += Read(ud, 256);
  EXPECT_EQ(status_, CMPL | END);
  EXPECT_EQ(count_long_, 89);
  EXPECT_EQ(reply, identity + "\n");
  EXPECT_EQ(Now(), 0.0);
}

TEST_F(BusTest, ReadWithoutReplyTimesOutAfterTheDescriptorsTimeOut) {
  bus_.Attach(5, std::make_unique<SilentListener>());
  int ud = Open(5);
  Write(ud, "ID?");
  std::string buffer(256, ' ');
  bus_.ibrd(ud, buffer.data(), 256);
  EXPECT_EQ(status_, ERR | TIMO);
  EXPECT_EQ(error_, gpib::EABO);
  EXPECT_DOUBLE_EQ(Now(), 1.0);  // T1s, as opened
  EXPECT_EQ(buffer, std::string(256, ' '));

  bus_.ibtmo(ud, gpib::T3s);
  int code = 0;
  bus_.ibask(ud, gpib::IbaTMO, &code);
  EXPECT_EQ(code, gpib::T3s);
  bus_.ibrd(ud, buffer.data(), 256);
  EXPECT_DOUBLE_EQ(Now(), 4.0);
}

TEST_F(BusTest, TimeOutRunsInFullEvenWhenACloseRequestArrives) {
  bus_.Attach(5, std::make_unique<SilentListener>());
  int ud = Open(5);
  platform_.close_at = 0.4;
  Read(ud);
  EXPECT_EQ(status_, ERR | TIMO);
  EXPECT_DOUBLE_EQ(Now(), 1.0);
  EXPECT_TRUE(platform_.close_pending());
}

TEST_F(BusTest, WriteToAnAbsentListenerFailsAtOnce) {
  AddScope(1);
  int ud = Open(9);
  Write(ud, "ID?");
  EXPECT_EQ(status_, ERR);
  EXPECT_EQ(error_, gpib::ENOL);
  EXPECT_EQ(Now(), 0.0);
  // Readdressed to the instrument the same descriptor works.
  bus_.ibpad(ud, 1);
  EXPECT_EQ(Query(ud, "ID?"), "ID AB/2440,V81.1\n");
}

TEST_F(BusTest, DescriptorsAreNumberedFromOneAndCheckTheirArguments) {
  EXPECT_EQ(Open(1), 1);
  EXPECT_EQ(Open(2), 2);
  EXPECT_EQ(bus_.ibdev(0, 31, 0, gpib::T1s, 1, 0), -1);
  EXPECT_EQ(error_, gpib::EARG);
  EXPECT_EQ(bus_.ibwrt(7, "x", 1), ERR);
  EXPECT_EQ(error_, gpib::EDVR);
  EXPECT_EQ(bus_.ibtmo(1, 18), ERR);
  EXPECT_EQ(error_, gpib::EARG);
}

TEST_F(BusTest, SerialPollGives65ForARequestThenZero) {
  SimScope& scope = AddScope(2);
  int ud = Open(2);
  EXPECT_EQ(Poll(ud), 0);
  scope.PressBezel(1);
  EXPECT_EQ(Poll(ud), 65);
  EXPECT_EQ(status_, CMPL);
  EXPECT_EQ(Poll(ud), 0);
}

TEST_F(BusTest, DeviceClearDropsAnUnreadReply) {
  SimScope& scope = AddScope(2);
  int ud = Open(2);
  Write(ud, "ID?");
  EXPECT_EQ(Read(ud, 3), "ID ");
  bus_.ibclr(ud);
  Read(ud);
  EXPECT_EQ(status_, ERR | TIMO);
  EXPECT_EQ(scope.received(), (std::vector<std::string>{"ID?"}));
}

TEST_F(BusTest, WaitForCompletionReturnsAtOnce) {
  AddScope(1);
  int ud = Open(1);
  EXPECT_EQ(bus_.ibwait(ud, TIMO | CMPL), CMPL);
  EXPECT_EQ(Now(), 0.0);
}

TEST_F(BusTest, ServiceWaitEndsWhenTheSelfCalibrationFinishes) {
  SimScope& scope = AddScope(1);
  ScriptTechnician technician(scope, platform_.clock(), "b1");
  bus_.SetTechnician(&technician);
  int ud = Open(1);
  platform_.clock().Pass(10);
  Write(ud, "TESTT SELFC;EXE");
  EXPECT_EQ(bus_.ibwait(ud, RQS), RQS | CMPL);
  EXPECT_DOUBLE_EQ(Now(), 18.0);
  // Nothing was asked of the technician.
  EXPECT_EQ(technician.remaining(), 1u);
  EXPECT_EQ(Poll(ud), 65);
}

TEST_F(BusTest, ServiceWaitAsksTheTechnicianForUntimedTokens) {
  SimScope& scope = AddScope(1);
  ScriptTechnician technician(scope, platform_.clock(), "b1,b3,leave");
  bus_.SetTechnician(&technician);
  int ud = Open(1);
  Write(ud, "PATH OFF");
  std::vector<std::string> events;
  for (int i = 0; i < 3; ++i) {
    while (Poll(ud) != 0) {
    }
    EXPECT_EQ(bus_.ibwait(ud, RQS), RQS | CMPL);
    events.push_back(Query(ud, "EVE?"));
  }
  EXPECT_EQ(events, (std::vector<std::string>{"450\n", "452\n", "650\n"}));
  EXPECT_EQ(Now(), 0.0);  // untimed tokens take no time

  // The script is used up: the next wait ends the program.
  Poll(ud);
  try {
    bus_.ibwait(ud, RQS);
    FAIL() << "the wait returned";
  } catch (const ProgramEnd& end) {
    EXPECT_EQ(end.code, kExitOperatorDone);
    EXPECT_EQ(end.message,
              "The simulated technician's script ran out while the program waited for a bezel "
              "button.");
  }
}

TEST_F(BusTest, DelayedTokenFiresWhileTheProgramOnlyPollsTheEventRegister) {
  SimScope& scope = AddScope(1);
  ScriptTechnician technician(scope, platform_.clock(), "b2@3.5");
  bus_.SetTechnician(&technician);
  int ud = Open(1);
  Write(ud, "PATH OFF");
  // A check that polls "EVE?" once a second without waiting for service.
  std::vector<std::string> events;
  for (int second = 0; second <= 5; ++second) {
    events.push_back(Query(ud, "EVE?"));
    platform_.clock().Pass(1.0);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"0\n", "0\n", "0\n", "0\n", "451\n", "0\n"}));
  ASSERT_EQ(technician.done().size(), 1u);
  // Done at the first driver call after it fell due.
  EXPECT_DOUBLE_EQ(technician.done()[0].time, 4.0);
}

TEST_F(BusTest, DelayedTokensCountFromThePreviousAction) {
  SimScope& scope = AddScope(1);
  ScriptTechnician technician(scope, platform_.clock(), "b4@2.5,b5,b1@1");
  bus_.SetTechnician(&technician);
  int ud = Open(1);
  std::vector<double> returns;
  for (int i = 0; i < 3; ++i) {
    while (Poll(ud) != 0) {
    }
    EXPECT_EQ(bus_.ibwait(ud, RQS), RQS | CMPL);
    returns.push_back(Now());
  }
  EXPECT_EQ(returns, (std::vector<double>{2.5, 2.5, 3.5}));
}

TEST_F(BusTest, ADelayedPressBeatsALongerOperation) {
  SimScope& scope = AddScope(1);
  ScriptTechnician technician(scope, platform_.clock(), "b2@1");
  bus_.SetTechnician(&technician);
  int ud = Open(1);
  Write(ud, "TESTT SELFC;EXE;PATH OFF");
  EXPECT_EQ(bus_.ibwait(ud, RQS), RQS | CMPL);
  EXPECT_DOUBLE_EQ(Now(), 1.0);
  EXPECT_EQ(Query(ud, "EVE?"), "451\n");
  EXPECT_TRUE(scope.selfcal_running());
}

TEST_F(BusTest, ACloseRequestCutsAServiceWaitShort) {
  SimScope& scope = AddScope(1);
  ScriptTechnician technician(scope, platform_.clock(), "b1@60");
  bus_.SetTechnician(&technician);
  int ud = Open(1);
  platform_.close_at = 10;
  EXPECT_EQ(bus_.ibwait(ud, RQS), CMPL);
  EXPECT_DOUBLE_EQ(Now(), 10.0);
  EXPECT_EQ(technician.remaining(), 1u);
  // A request already under way still wins over the close request.
  scope.PressBezel(2);
  EXPECT_EQ(bus_.ibwait(ud, RQS), RQS | CMPL);
}

TEST_F(BusTest, ServiceWaitWithoutAnyoneAtTheInstrumentEndsTheProgram) {
  AddScope(1);
  int ud = Open(1);
  try {
    bus_.ibwait(ud, RQS);
    FAIL() << "the wait returned";
  } catch (const ProgramEnd& end) {
    EXPECT_EQ(end.code, kExitOperatorDone);
  }
}

TEST_F(BusTest, AnotherDevicesRequestDoesNotEndTheWait) {
  SimScope& scope = AddScope(1);
  SimScope& other = AddScope(2, "2430");
  ScriptTechnician technician(scope, platform_.clock(), "b3@2");
  bus_.SetTechnician(&technician);
  int ud = Open(1);
  other.PressBezel(1);
  EXPECT_EQ(bus_.ibwait(ud, RQS), RQS | CMPL);
  EXPECT_DOUBLE_EQ(Now(), 2.0);
}

// A test platform with a keyboard: keys arrive at chosen times during waits.
class KeyPlatform : public TestPlatform {
 public:
  KeyPlatform() : TestPlatform(0) {}
  bool WaitIdle(double max_seconds) override {
    bool close = TestPlatform::WaitIdle(max_seconds);
    while (!keys.empty() && keys.front().first <= clock().Elapsed()) {
      DeliverKey(keys.front().second);
      keys.pop_front();
    }
    return close;
  }
  std::deque<std::pair<double, int>> keys;
};

TEST(KeyboardTechnician, KeysPressTheButtonsAndACloseRequestEndsTheWait) {
  KeyPlatform platform;
  SimBus bus(platform);
  auto owned = std::make_unique<SimScope>("2440", platform.clock());
  SimScope& scope = *owned;
  bus.Attach(1, std::move(owned));
  KeyboardTechnician technician(platform, scope);
  bus.SetTechnician(&technician);
  int ud = bus.ibdev(0, 1, 0, gpib::T1s, 1, 0);

  platform.keys = {{0.5, 'x'}, {1.0, 'm'}, {1.5, 'M'}};
  EXPECT_EQ(bus.ibwait(ud, RQS), RQS | CMPL);
  EXPECT_NEAR(platform.clock().Elapsed(), 1.5, 1e-6);
  EXPECT_EQ(scope.event(), 650);
  char byte = 0;
  bus.ibrsp(ud, &byte);

  platform.keys = {{2.0, '4'}};
  EXPECT_EQ(bus.ibwait(ud, RQS), RQS | CMPL);
  EXPECT_EQ(scope.event(), 453);
  bus.ibrsp(ud, &byte);

  // The window is asked to close: the wait gives up without a request.
  platform.close_at = 3.0;
  EXPECT_EQ(bus.ibwait(ud, RQS), CMPL);
  EXPECT_NEAR(platform.clock().Elapsed(), 3.0, 1e-6);
}

}  // namespace
}  // namespace kc
