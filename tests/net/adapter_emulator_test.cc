// The adapter's command language over the simulated bus, in virtual time:
// dialogues written out by hand from the Prologix/AR488 command set, one file
// each under tests/transcripts/adapter:
//   script TOKENS     the technician's script (before anything else)
//   > BYTES           the host sends (escapes \r, \n, \e for ESC, \xNN, \\)
//   < BYTES           all the adapter sent back since the previous "<"
//   took SECONDS      the last send took that long
//   pass SECONDS      time passes
//   new-host          another host connects
//   event N           the oscilloscope's event register
//   device PAD TEXT   the next message the device at PAD receives (the
//                     oscilloscope is at 1, a silent listener at 5)
//   log TEXT          the adapter's log holds TEXT
// At the end nothing the adapter sent is left unchecked and each device has
// received its lines and no more.
#include "sim/adapter_emulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/script_technician.h"
#include "sim/sim_bus.h"
#include "sim/sim_devices.h"
#include "sim/sim_scope.h"
#include "support/test_platform.h"

namespace kc {
namespace {

const std::string kDialogues = std::string(KC_SOURCE_DIR) + "/tests/transcripts/adapter/";

std::string Unescape(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'x' && i + 2 < text.size()) {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 'e' ? '\x1b' : c;
    }
  }
  return bytes;
}

std::vector<std::string> DialogueNames() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kDialogues)) {
    if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class AdapterEmulatorTest : public ::testing::TestWithParam<std::string> {
 protected:
  AdapterEmulatorTest() : bus_(platform_) {
    auto scope = std::make_unique<SimScope>("2440", platform_.clock());
    scope_ = scope.get();
    bus_.Attach(1, std::move(scope));
    auto listener = std::make_unique<SilentListener>();
    listener_ = listener.get();
    bus_.Attach(5, std::move(listener));
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
  std::unique_ptr<ScriptTechnician> technician_;
  std::unique_ptr<AdapterEmulator> emulator_;
  std::ostringstream log_;
  std::string answer_;
};

TEST_P(AdapterEmulatorTest, RunsAsWritten) {
  std::ifstream file(kDialogues + GetParam() + ".txt");
  ASSERT_TRUE(file) << GetParam();
  std::map<int, std::vector<std::string>> expected = {{1, {}}, {5, {}}};
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
      emulator_->Receive(Unescape(rest));
      took = Now() - sent_at;
    } else if (word == "<") {
      EXPECT_EQ(answer_, Unescape(rest));
      answer_.clear();
    } else if (word == "took") {
      EXPECT_NEAR(took, std::stod(rest), 0.01);
    } else if (word == "pass") {
      platform_.virtual_clock().Pass(std::stod(rest));
    } else if (word == "new-host") {
      emulator_->NewHost();
    } else if (word == "event") {
      EXPECT_EQ(scope_->event(), std::stoi(rest));
    } else if (word == "device") {
      expected[std::stoi(rest)].push_back(Unescape(rest.substr(rest.find(' ') + 1)));
    } else if (word == "log") {
      EXPECT_NE(log_.str().find(Unescape(rest)), std::string::npos) << log_.str();
    } else {
      ADD_FAILURE() << "unknown line: " << line;
    }
  }
  EXPECT_EQ(answer_, "") << "sent back and not checked";
  EXPECT_EQ(scope_->received(), expected[1]);
  EXPECT_EQ(listener_->received(), expected[5]);
}

INSTANTIATE_TEST_SUITE_P(Dialogues, AdapterEmulatorTest, ::testing::ValuesIn(DialogueNames()),
                         [](const ::testing::TestParamInfo<std::string>& case_info) {
                           std::string name = case_info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace kc
