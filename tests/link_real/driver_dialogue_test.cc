// The GPIB drivers, each case a dialogue written by hand: the program's calls
// with what each returns and, between them, the driver's far side. Under
// tests/transcripts/adapter the Prologix driver and its adapter's side of the
// dialogue (see scripted_adapter.h), the whole stream the driver sent held to
// the file's; under tests/transcripts/linux-gpib the linux-gpib driver on
// board 3 over the fake library (tests/fakes/libgpib), which logs its calls.
//
//   options listeners A B...   the addresses named with the bus
//   $ CALL ARGS [=> OUTCOME]   a driver call; descriptors are numbered 1, 2...
//                              in the order ibdev made them
//   diagnostic TEXT            the driver's next fault line (one the file does
//                              not name fails the case)
//   detail TEXT                the message detail now
//   close-after SECONDS        a close request comes then
//   close-pending              it has come
//   log CALL                   the library's next call ("log ..." last: the
//                              calls after it are not held to anything)
//   service-request N [no-autopoll]   the library's device asks for service
//                              after N waits (0: never)
//
// Calls: SendIFC, ibsre V, FindLstn [PAD... | limit N], ibdev PAD [TMO],
// ibpad D PAD, ibclr D, ibtmo D TMO, ibask D, ibrsp D, ibwrt D DATA,
// ibrd D SIZE, ibwait D BIT...; TMO as TNONE, T100ms, T1s, T3s or T10s. OUTCOME: the
// status bits and the error by name, then as the call has them: count N,
// poll N (without it a poll leaves its byte alone), found PAD..., value TMO,
// data BYTES (last, escaped as the adapter's). With ERR only the bits written
// and TIMO are held to it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "link/linux_gpib_driver.h"
#include "link/prologix_driver.h"
#include "link_real/scripted_adapter.h"
#include "support/dialogue_files.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using testing::ScriptedAdapter;
using Texts = std::vector<std::string>;

const std::string kDir = std::string(KC_SOURCE_DIR) + "/tests/transcripts/";
const std::string kLinuxGpib = "linux-gpib/";
const std::map<std::string, int> kBits = {{"ERR", gpib::ERR},
                                          {"TIMO", gpib::TIMO},
                                          {"END", gpib::END},
                                          {"RQS", gpib::RQS},
                                          {"CMPL", gpib::CMPL}};
const std::map<std::string, int> kErrors = {{"EDVR", gpib::EDVR}, {"EARG", gpib::EARG},
                                            {"EABO", gpib::EABO}, {"ENEB", gpib::ENEB},
                                            {"EBUS", gpib::EBUS}, {"ETAB", gpib::ETAB}};
const std::map<std::string, int> kTimeouts = {
    {"TNONE", gpib::TNONE}, {"T100ms", 9}, {"T1s", gpib::T1s}, {"T3s", gpib::T3s}, {"T10s", 13}};

std::vector<std::string> Dialogues() {
  std::vector<std::string> names;
  for (const std::string folder : {"adapter/", "linux-gpib/"})
    for (const std::string& name : harness::DialogueNames(folder)) names.push_back(folder + name);
  return names;
}

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
std::vector<std::string> LibraryLog() {
  std::istringstream log(Control<const char*()>("kc_fake_gpib_log")());
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

// What follows the first word.
std::string Rest(const std::string& line) {
  std::size_t blank = line.find(' ');
  return blank == std::string::npos ? "" : line.substr(blank + 1);
}

class DriverDialogueTest : public ::testing::TestWithParam<std::string> {
 protected:
  void Play(const std::string& name) {
    std::ifstream file(kDir + name + ".txt");
    ASSERT_TRUE(file) << name;
    std::vector<std::string> adapter_lines;
    std::vector<std::string> program;
    PrologixOptions options;
    options.diagnostic = [this](const std::string& line) { diagnostics_.push_back(line); };
    for (std::string line; std::getline(file, line);) {
      const std::string word = line.substr(0, line.find(' '));
      if (ScriptedAdapter::IsAdapterLine(word)) {
        adapter_lines.push_back(line);
      } else if (line.rfind("options listeners ", 0) == 0) {
        std::istringstream pads(Rest(Rest(line)));
        for (int pad = 0; pads >> pad;) options.listeners.push_back(pad);
      } else if (!word.empty() && word != "#") {
        program.push_back(line);
      }
    }
    if (name.rfind(kLinuxGpib, 0) == 0) {
      Control<void()>("kc_fake_gpib_reset")();
      // The library is found by the environment variable, as a user's test
      // set-up would do it.
      ::setenv("KC_LIBGPIB", KC_FAKE_GPIB, 1);
      auto driver = std::make_unique<LinuxGpibDriver>(3, platform_);
      ::unsetenv("KC_LIBGPIB");
      EXPECT_EQ(driver->library(), KC_FAKE_GPIB);
      driver_ = std::move(driver);
    } else {
      auto adapter = std::make_unique<ScriptedAdapter>(adapter_lines);
      adapter_ = adapter.get();
      driver_ = std::make_unique<PrologixDriver>(std::move(adapter), platform_, std::move(options));
    }
    driver_->RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
    for (const std::string& line : program) {
      SCOPED_TRACE(line);
      Step(line);
    }
    if (adapter_ != nullptr) {
      EXPECT_EQ(adapter_->Received(), adapter_->Expected());
    }
    const std::vector<std::string> log = adapter_ == nullptr ? LibraryLog() : Texts{};
    for (std::size_t i = next_log_; i < log.size() && !rest_of_log_free_; ++i)
      ADD_FAILURE() << "a library call the file does not name: " << log[i];
    for (std::size_t i = next_diagnostic_; i < diagnostics_.size(); ++i)
      ADD_FAILURE() << "a diagnostic the file does not name: " << diagnostics_[i];
  }

  void Step(const std::string& line) {
    const std::string word = line.substr(0, line.find(' '));
    if (word == "$") {
      Call(Rest(line));
    } else if (word == "diagnostic") {
      ASSERT_LT(next_diagnostic_, diagnostics_.size());
      EXPECT_EQ(diagnostics_[next_diagnostic_++], Rest(line));
    } else if (word == "detail") {
      EXPECT_EQ(platform_.message_detail(), Rest(line));
    } else if (word == "log" && Rest(line) == "...") {
      rest_of_log_free_ = true;
    } else if (word == "log") {
      const std::vector<std::string> log = LibraryLog();
      ASSERT_LT(next_log_, log.size());
      EXPECT_EQ(log[next_log_++], Rest(line));
    } else if (word == "service-request") {
      const bool autopoll = Rest(Rest(line)) != "no-autopoll";
      Control<void(int, int)>("kc_fake_gpib_request_service")(std::stoi(Rest(line)), autopoll);
    } else if (word == "close-after") {
      platform_.close_at = platform_.clock().Elapsed() + std::stod(Rest(line));
    } else if (word == "close-pending") {
      EXPECT_TRUE(platform_.close_pending());
    } else {
      ADD_FAILURE() << "cannot read this line";
    }
  }

  void Call(const std::string& text) {
    const std::size_t arrow = text.find(" => ");
    std::istringstream in(text.substr(0, arrow));
    std::string name;
    in >> name;
    auto number = [&in] {
      int value = 0;
      in >> value;
      return value;
    };
    auto descriptor = [&] { return uds_.at(static_cast<std::size_t>(number() - 1)); };
    auto timeout = [&in] {
      std::string code = "T1s";
      in >> code;
      return kTimeouts.at(code);
    };
    char poll = 'x';
    int value = -1;
    std::string data;
    std::vector<Addr4882_t> results;
    if (name == "SendIFC") {
      driver_->SendIFC(0);
    } else if (name == "ibsre") {
      driver_->ibsre(0, number());
    } else if (name == "FindLstn") {
      std::vector<Addr4882_t> pads;
      int limit = 15;
      for (std::string pad; in >> pad;) {
        if (pad == "limit") limit = number();
        if (pad != "limit") pads.push_back(static_cast<Addr4882_t>(std::stoi(pad)));
      }
      const bool all = pads.empty();
      for (int pad = 0; all && pad <= 30; ++pad) pads.push_back(static_cast<Addr4882_t>(pad));
      pads.push_back(gpib::NOADDR);
      results.resize(static_cast<std::size_t>(limit));
      driver_->FindLstn(0, pads.data(), results.data(), limit);
    } else if (name == "ibdev") {
      int pad = number();
      uds_.push_back(driver_->ibdev(0, pad, 0, timeout(), 1, 0));
    } else if (name == "ibpad" || name == "ibtmo") {
      int ud = descriptor();
      name == "ibpad" ? driver_->ibpad(ud, number()) : driver_->ibtmo(ud, timeout());
    } else if (name == "ibask") {
      driver_->ibask(descriptor(), gpib::IbaTMO, &value);
    } else if (name == "ibclr") {
      driver_->ibclr(descriptor());
    } else if (name == "ibrsp") {
      driver_->ibrsp(descriptor(), &poll);
    } else if (name == "ibwrt") {
      int ud = descriptor();
      const std::string bytes = harness::DialogueBytes(Rest(Rest(text.substr(0, arrow))));
      driver_->ibwrt(ud, bytes.data(), static_cast<long>(bytes.size()));
    } else if (name == "ibrd") {
      int ud = descriptor();
      std::string buffer(static_cast<std::size_t>(number()), ' ');
      driver_->ibrd(ud, buffer.data(), static_cast<long>(buffer.size()));
      data = buffer.substr(0, static_cast<std::size_t>(count_long_));
    } else if (name == "ibwait") {
      int ud = descriptor();
      int mask = 0;
      for (std::string bit; in >> bit;) mask |= kBits.at(bit);
      driver_->ibwait(ud, mask);
    } else {
      ADD_FAILURE() << "no such call";
    }
    if (arrow == std::string::npos) return;
    std::istringstream outcome(text.substr(arrow + 4));
    int status = 0;
    int error = 0;
    int expected_poll = 'x';
    for (std::string word; outcome >> word;) {
      if (kBits.count(word) > 0) status |= kBits.at(word);
      if (kErrors.count(word) > 0) error = kErrors.at(word);
      long count = -1;
      if (word == "count" && outcome >> count) {
        EXPECT_EQ(count_long_, count);
      }
      if (word == "poll") outcome >> expected_poll;
      if (word == "value" && outcome >> word) {
        EXPECT_EQ(value, kTimeouts.at(word));
      }
      if (word == "found") {
        std::vector<int> found;
        for (int pad = 0; outcome >> pad;) found.push_back(pad);
        const auto stored = std::min<std::size_t>(results.size(), count_long_);
        EXPECT_EQ(std::vector<int>(results.begin(), results.begin() + stored), found);
      }
      if (word == "data") {
        std::string bytes;
        std::getline(outcome, bytes);
        EXPECT_EQ(data, harness::DialogueBytes(bytes.empty() ? "" : bytes.substr(1)));
      }
    }
    if (name == "ibrsp") {
      EXPECT_EQ(static_cast<unsigned char>(poll), expected_poll);
    }
    const int bits = (status & gpib::ERR) != 0 ? status | gpib::TIMO : ~0;
    EXPECT_EQ(status_ & bits, status);
    if ((status & gpib::ERR) != 0) {
      EXPECT_EQ(error_, error);
    }
  }

  TestPlatform platform_;
  ScriptedAdapter* adapter_ = nullptr;  // owned by the driver
  std::unique_ptr<GpibDriver> driver_;
  std::vector<int> uds_;
  std::vector<std::string> diagnostics_;
  std::size_t next_diagnostic_ = 0;
  std::size_t next_log_ = 0;
  bool rest_of_log_free_ = false;
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

TEST_P(DriverDialogueTest, RunsAsWritten) {
  Play(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverDialogueTest, ::testing::ValuesIn(Dialogues()),
                         harness::DialogueCaseName);

TEST(PrologixDriverTest, AdapterKindsAndListenerListsFromTheirTexts) {
  // A user's own version text on an AR488 counts as the main line.
  EXPECT_EQ(PrologixDriver::FlavorOf("Bench 3 GPIB"), PrologixDriver::Flavor::kAr488);
  using List = std::vector<int>;
  EXPECT_EQ(PrologixDriver::ParseListenerList("3,4,6"), List({3, 4, 6}));
  EXPECT_EQ(PrologixDriver::ParseListenerList("3 4 6 10 "), List({3, 4, 6, 10}));
  EXPECT_EQ(PrologixDriver::ParseListenerList("1, 7,"), List({1, 7}));
  EXPECT_EQ(PrologixDriver::ParseListenerList(""), List());
  EXPECT_FALSE(PrologixDriver::ParseListenerList("Unrecognized command"));
  EXPECT_FALSE(PrologixDriver::ParseListenerList("31"));
  EXPECT_FALSE(PrologixDriver::ParseListenerList("4;5"));
}

TEST(LinuxGpibLoadTest, MissingLibraryOrCallIsAClearStartUpError) {
  TestPlatform platform;
  const std::pair<const char*, Texts> cases[] = {
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

}  // namespace
}  // namespace kc
