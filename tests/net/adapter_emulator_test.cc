// The simulated bench as a host reaches it through the adapter, in virtual
// time: the adapter's command language, the oscilloscope's commands, events
// and replies, and the technician's hands at its prompts. Dialogues written
// out by hand from the Prologix/AR488 command set and the instrument's texts,
// one file each under tests/transcripts/emulator:
//   script TOKENS     the technician's script (before anything else)
//   > BYTES           the host sends (escapes \r, \n, \e for ESC, \xNN and
//                     \\; a backslash before anything else stays)
//   < BYTES           all the adapter sent back since the previous "<"
//   took SECONDS      the last send took that long
//   pass SECONDS      time passes (and the devices catch up)
//   new-host          another host connects
//   press N, menu-off a bezel button (0 and 6 are not on the instrument),
//                     MENU OFF pressed on the oscilloscope
//   device PAD [TEXT] the next message the device at PAD receives (the
//                     oscilloscope is at 1, a silent listener at 5); a device
//                     named here gets these messages and no others
//   log TEXT          the adapter's log holds TEXT
//   event N, errors N, selfcals N, acquisitions N   the oscilloscope's counts
//   next-event T|none when the oscilloscope's own operation ends
//   setting NAME = [VALUE]   one of its settings
//   blank-screen      its message lines are all empty
//   bench TEXT        the bench's cables and sources; hands-idle: the
//                     technician has done nothing at the prompts
// At the end nothing the adapter sent is left unchecked.
#include "sim/adapter_emulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/bench_hand.h"
#include "sim/script_technician.h"
#include "sim/sim_bench.h"
#include "sim/sim_bus.h"
#include "sim/sim_devices.h"
#include "sim/sim_scope.h"
#include "support/dialogue_files.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using harness::DialogueBytes;
using harness::DialogueNames;

const std::string kDialogues = std::string(KC_SOURCE_DIR) + "/tests/transcripts/emulator/";

class AdapterEmulatorTest : public ::testing::TestWithParam<std::string> {
 protected:
  AdapterEmulatorTest() : bus_(platform_) {
    auto scope = std::make_unique<SimScope>("2440", platform_.clock());
    scope_ = scope.get();
    bus_.Attach(1, std::move(scope));
    auto listener = std::make_unique<SilentListener>();
    listener_ = listener.get();
    bus_.Attach(5, std::move(listener));
    hand_ = std::make_unique<BenchHand>(*scope_, bench_);
  }
  ~AdapterEmulatorTest() override { bus_.SetTechnician(nullptr); }

  // The adapter with a technician playing `script`.
  void Start(const std::string& script) {
    technician_ = std::make_unique<ScriptTechnician>(*scope_, platform_.clock(), script);
    bus_.SetTechnician(technician_.get());
    emulator_ = std::make_unique<AdapterEmulator>(bus_, platform_, technician_.get(), &log_);
    emulator_->SetSink([this](std::string_view bytes) { answer_ += bytes; });
  }
  double Now() { return platform_.clock().Elapsed(); }

  TestPlatform platform_;
  SimBus bus_;
  SimScope* scope_ = nullptr;
  SilentListener* listener_ = nullptr;
  SourceBench bench_;
  std::unique_ptr<BenchHand> hand_;
  std::unique_ptr<ScriptTechnician> technician_;
  std::unique_ptr<AdapterEmulator> emulator_;
  std::ostringstream log_;
  std::string answer_;
};

TEST_P(AdapterEmulatorTest, RunsAsWritten) {
  std::ifstream file(kDialogues + GetParam() + ".txt");
  ASSERT_TRUE(file) << GetParam();
  std::map<int, std::vector<std::string>> expected;
  double sent_at = 0;
  double took = 0;
  int number = 0;
  for (std::string line; std::getline(file, line);) {
    SCOPED_TRACE(GetParam() + ".txt:" + std::to_string(++number));
    if (line.empty() || line[0] == '#') continue;
    const std::size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (word == "script") {
      Start(rest);
      continue;
    }
    if (!emulator_) Start("");
    if (word == ">") {
      sent_at = Now();
      emulator_->Receive(DialogueBytes(rest));
      took = Now() - sent_at;
    } else if (word == "<") {
      EXPECT_EQ(answer_, DialogueBytes(rest));
      answer_.clear();
    } else if (word == "took") {
      EXPECT_NEAR(took, std::stod(rest), 0.01);
    } else if (word == "pass") {
      platform_.virtual_clock().Pass(std::stod(rest));
      emulator_->Tick();
    } else if (word == "press") {
      scope_->PressBezel(std::stoi(rest));
    } else if (word == "menu-off") {
      scope_->PressMenuOff();
    } else if (word == "new-host") {
      emulator_->NewHost();
    } else if (word == "event") {
      EXPECT_EQ(scope_->event(), std::stoi(rest));
    } else if (word == "device") {
      std::vector<std::string>& messages = expected[std::stoi(rest)];
      if (rest.find(' ') != std::string::npos)
        messages.push_back(DialogueBytes(rest.substr(rest.find(' ') + 1)));
    } else if (word == "errors") {
      EXPECT_EQ(scope_->errors().size(), std::stoul(rest));
    } else if (word == "selfcals") {
      EXPECT_EQ(scope_->selfcals(), std::stoi(rest));
    } else if (word == "acquisitions") {
      EXPECT_EQ(scope_->acquisitions(), std::stoi(rest));
    } else if (word == "next-event") {
      const std::optional<double> at = scope_->NextEventTime();
      EXPECT_EQ(at.has_value(), rest != "none");
      EXPECT_NEAR(at.value_or(0), rest == "none" ? 0 : std::stod(rest), 1e-6);
    } else if (word == "setting") {
      const std::size_t equals = rest.find(" =");
      EXPECT_EQ(scope_->Setting(rest.substr(0, equals)),
                rest.substr(std::min(rest.size(), equals + 3)));
    } else if (word == "blank-screen") {
      EXPECT_EQ(scope_->screen(), std::vector<std::string>(scope_->screen().size()));
    } else if (word == "bench") {
      EXPECT_EQ(bench_.Describe(), rest);
    } else if (word == "hands-idle") {
      EXPECT_EQ(hand_->log(), std::vector<std::string>{});
    } else if (word == "log") {
      EXPECT_NE(log_.str().find(DialogueBytes(rest)), std::string::npos) << log_.str();
    } else {
      ADD_FAILURE() << "unknown line: " << line;
    }
  }
  EXPECT_EQ(answer_, "") << "sent back and not checked";
  for (const auto& [pad, messages] : expected)
    EXPECT_EQ(pad == 1 ? scope_->received() : listener_->received(), messages) << pad;
}

INSTANTIATE_TEST_SUITE_P(Dialogues, AdapterEmulatorTest,
                         ::testing::ValuesIn(DialogueNames("emulator")), harness::DialogueCaseName);

}  // namespace
}  // namespace kc
