// The Prologix driver, each case a dialogue written by hand in a file under
// tests/transcripts/adapter: the program's calls with what each returns and,
// between them, the adapter's side (see scripted_adapter.h). The whole stream
// the driver sent is held to the file's.
//
//   options listeners A B...   the addresses named with the bus
//   $ CALL ARGS [=> OUTCOME]   a driver call; descriptors are numbered 1, 2...
//                              in the order ibdev made them
//   diagnostic TEXT            the driver's next fault line (one the file does
//                              not name fails the case)
//   detail TEXT                the message detail now
//   close-after SECONDS        a close request comes then
//   close-pending              it has come
//
// Calls: SendIFC, ibsre V, FindLstn [PAD... | limit N], ibdev PAD [TMO],
// ibpad D PAD, ibclr D, ibtmo D TMO, ibrsp D, ibwrt D DATA, ibrd D SIZE,
// ibwait D BIT...; TMO as T100ms, T1s, T3s or T10s. OUTCOME: the status bits
// and the error by name, then as the call has them: count N, poll N (without
// it a poll leaves its byte alone), found PAD..., data BYTES (last, escaped as
// the adapter's). With ERR only the ERR and TIMO bits are held to it.
#include "link/prologix_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "link_real/scripted_adapter.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using testing::ScriptedAdapter;

const std::string kDir = std::string(KC_SOURCE_DIR) + "/tests/transcripts/adapter/";
const std::map<std::string, int> kBits = {{"ERR", gpib::ERR},
                                          {"TIMO", gpib::TIMO},
                                          {"END", gpib::END},
                                          {"RQS", gpib::RQS},
                                          {"CMPL", gpib::CMPL}};
const std::map<std::string, int> kErrors = {{"EDVR", gpib::EDVR}, {"EARG", gpib::EARG},
                                            {"EABO", gpib::EABO}, {"ENEB", gpib::ENEB},
                                            {"EBUS", gpib::EBUS}, {"ETAB", gpib::ETAB}};
const std::map<std::string, int> kTimeouts = {
    {"T100ms", 9}, {"T1s", gpib::T1s}, {"T3s", gpib::T3s}, {"T10s", 13}};

std::vector<std::string> Dialogues() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(kDir))
    if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

// What follows the first word.
std::string Rest(const std::string& line) {
  std::size_t blank = line.find(' ');
  return blank == std::string::npos ? "" : line.substr(blank + 1);
}

class PrologixDialogueTest : public ::testing::TestWithParam<std::string> {
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
      std::istringstream values(Rest(Rest(line)));
      if (ScriptedAdapter::IsAdapterLine(word)) {
        adapter_lines.push_back(line);
      } else if (line.rfind("options listeners ", 0) == 0) {
        for (int pad = 0; values >> pad;) options.listeners.push_back(pad);
      } else if (!word.empty() && word != "#") {
        program.push_back(line);
      }
    }
    auto adapter = std::make_unique<ScriptedAdapter>(adapter_lines);
    adapter_ = adapter.get();
    driver_ = std::make_unique<PrologixDriver>(std::move(adapter), platform_, std::move(options));
    driver_->RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
    for (const std::string& line : program) {
      SCOPED_TRACE(line);
      Step(line);
    }
    EXPECT_EQ(adapter_->Received(), adapter_->Expected());
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
    } else if (name == "ibclr") {
      driver_->ibclr(descriptor());
    } else if (name == "ibrsp") {
      driver_->ibrsp(descriptor(), &poll);
    } else if (name == "ibwrt") {
      int ud = descriptor();
      std::string bytes;
      std::getline(in, bytes);
      bytes = ScriptedAdapter::Decode(bytes.substr(1));
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
      if (word == "found") {
        std::vector<int> found;
        for (int pad = 0; outcome >> pad;) found.push_back(pad);
        const auto stored = std::min<std::size_t>(results.size(), count_long_);
        EXPECT_EQ(std::vector<int>(results.begin(), results.begin() + stored), found);
      }
      if (word == "data") {
        std::string bytes;
        std::getline(outcome, bytes);
        EXPECT_EQ(data, ScriptedAdapter::Decode(bytes.empty() ? "" : bytes.substr(1)));
      }
    }
    if (name == "ibrsp") {
      EXPECT_EQ(static_cast<unsigned char>(poll), expected_poll);
    }
    const int bits = (status & gpib::ERR) != 0 ? gpib::ERR | gpib::TIMO : ~0;
    EXPECT_EQ(status_ & bits, status);
    if ((status & gpib::ERR) != 0) {
      EXPECT_EQ(error_, error);
    }
  }

  TestPlatform platform_;
  ScriptedAdapter* adapter_ = nullptr;  // owned by the driver
  std::unique_ptr<PrologixDriver> driver_;
  std::vector<int> uds_;
  std::vector<std::string> diagnostics_;
  std::size_t next_diagnostic_ = 0;
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

TEST_P(PrologixDialogueTest, RunsAsWritten) {
  Play(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Adapters, PrologixDialogueTest, ::testing::ValuesIn(Dialogues()),
                         [](const ::testing::TestParamInfo<std::string>& case_info) {
                           std::string name = case_info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

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

}  // namespace
}  // namespace kc
