#include "support/check_harness.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/dialogue_files.h"

namespace kc {

namespace {

const std::string kTranscriptDir = std::string(KC_SOURCE_DIR) + "/tests/transcripts/";

template <Integer kButton>
void RunTrigger(MainForm& form) {
  Integer button = kButton;
  form.Trigger(button);
}

}  // namespace

Stream Bar(int steps, int indent, const std::string& text) {
  const std::string head = "MESS 16:\"" + std::string(static_cast<std::size_t>(indent), ' ') + text;
  Stream bar;
  for (int i = 1; i <= steps; ++i) {
    std::string glyphs;
    for (int j = 1; j < i; ++j) glyphs += "\\M";
    bar.push_back(head + glyphs + std::string(static_cast<std::size_t>(steps - i), ' ') + "\\M\"");
  }
  return bar;
}

Stream TitleScreen() {
  std::string frame = "\"";
  for (int i = 0; i < 40; ++i) frame += "\\0";
  frame += "\"";
  return {"INIT PANEL;VMO CH1:OFF;ATR MOD:AUTO",
          "MESS CLR,14:" + frame,
          "MESS 12:\"       *** KALVENTA CHECKOUT ***\"",
          "MESS 11:\"  *** 2.0 / 1994-2026 ***\"",
          "MESS 10:\"   GUIDED CHECKOUT FOR THE 2430 FAMILY\"",
          "MESS 9:" + frame,
          "MESS 5:\"  PRESS MENU OFF TWICE TO EXIT A TEST\""};
}

Stream MenuPage(int page, bool position_effect) {
  static const std::vector<Stream> kPages = {
      {"MESS 2:\"  ATTEN   CCD     SAMPL   PAGE    QUIT\"",
       "MESS 1:\"  COMP    CTE     SKEW    TWO\""},
      {"MESS 2:\"  CCD     VERT    CMRR    PAGE    PAGE\"",
       "MESS 1:\"  LIN     ACC             THREE   ONE\""},
      {"MESS 2:\" BAND-   TIMING   CALI-   PAGE    PAGE\"",
       "MESS 1:\" WIDTH            BRATOR  FOUR    TWO  \""},
      {"MESS 2:\"   A       B      EXT     PAGE    PAGE\"",
       "MESS 1:\"  TRIG    TRIG   TRIGS    ONE     THREE\""}};
  if (page == 1 && position_effect) {
    return {"MESS 2:\"  ATTEN   POS     SAMPL   PAGE    QUIT\"",
            "MESS 1:\"  COMP   EFFECT   SKEW    TWO\""};
  }
  return kPages[static_cast<std::size_t>(page - 1)];
}

const std::map<std::string, void (*)(MainForm&)>& Checks() {
  static const std::map<std::string, void (*)(MainForm&)> kChecks = {
      {"AttenComp", [](MainForm& form) { form.AttenComp(); }},
      {"BandWidth", [](MainForm& form) { form.BandWidth(); }},
      {"Calibrator", [](MainForm& form) { form.Calibrator(); }},
      {"CCDcte", [](MainForm& form) { form.CCDcte(); }},
      {"CCDlin", [](MainForm& form) { form.CCDlin(); }},
      {"CMRR", [](MainForm& form) { form.CMRR(); }},
      {"ExtTrig", [](MainForm& form) { form.ExtTrig(); }},
      {"SamplSkew", [](MainForm& form) { form.SamplSkew(); }},
      {"Timing", [](MainForm& form) { form.Timing(); }},
      {"TriggerA", RunTrigger<1>},
      {"TriggerB", RunTrigger<2>},
      {"VertAcc", [](MainForm& form) { form.VertAcc(); }},
  };
  return kChecks;
}

std::vector<std::string> TranscriptNames() {
  return harness::DialogueNames("");
}

Transcript ReadTranscript(const std::string& name) {
  Transcript t;
  std::ifstream file(kTranscriptDir + name + ".txt");
  if (!file) t.error = "cannot read " + name + ".txt";
  std::map<std::string, int> asked;  // how often each query was sent so far
  int number = 0;
  for (std::string line; t.error.empty() && std::getline(file, line);) {
    ++number;
    auto fail = [&](const std::string& why) {
      t.error = "line " + std::to_string(number) + ": " + why;
    };
    const std::size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    std::istringstream args(rest);
    if (line.empty() || word == "#") continue;
    if (word == ">") {
      t.sent.push_back(rest);
      ++asked[rest];
    } else if (word == "<") {
      // Replies are used in order: a query answered here was answered each time before.
      if (t.sent.empty()) {
        fail("a reply before any query");
      } else if (static_cast<int>(t.replies[t.sent.back()].size()) != asked[t.sent.back()] - 1) {
        fail("every earlier \"" + t.sent.back() + "\" needs its reply too");
      } else {
        t.replies[t.sent.back()].push_back(rest);
      }
    } else if (word == "reply") {
      const std::size_t gap = rest.find(' ');
      t.replies[rest.substr(0, gap)].push_back(gap == std::string::npos ? ""
                                                                        : rest.substr(gap + 1));
      t.verdict_case = true;
    } else if (word == "press") {
      t.presses.push_back(rest);
      t.press_before.push_back(t.sent.size());
    } else if (word == "wait") {
      args >> t.waits[t.sent.size()];
    } else if (word == "bar") {
      int steps = 0;
      int indent = 0;
      args >> steps >> indent;
      // Each step stays a second.
      const std::size_t first = t.sent.size();
      for (const std::string& step : Bar(steps, indent)) {
        if (t.sent.size() > first) t.waits[t.sent.size()] = 1;
        t.sent.push_back(step);
      }
    } else if (word == "expect") {
      t.expects.push_back(rest);
    } else if (word == "check") {
      t.check = rest;
    } else if (word == "model") {
      t.model = rest;
    } else if (word == "leave-sweep") {
      args >> t.leave_sweep;
    } else {
      fail("unknown line \"" + line + "\"");
    }
    if (args.fail()) fail("bad number in \"" + line + "\"");
  }
  if (t.error.empty() && t.verdict_case && !t.sent.empty()) t.error = "both reply and > lines";
  if (t.error.empty() && Checks().count(t.check) == 0) t.error = "no check \"" + t.check + "\"";
  return t;
}

int CheckTest::RunCheck(const std::string& check, const std::string& model,
                        const std::string& script, const Replies& replies) {
  bench_ = std::make_unique<CheckoutBench>(BenchOptions{.model = model});
  traced_.reset();
  if (!bench_->Load()) {
    ADD_FAILURE() << "start-up failed: " << bench_->end_message();
    return -2;
  }
  for (const auto& [query, answers] : replies) scope().SetReplies(query, answers);
  bench_->SetScript(script);
  bench_->ClearReceived();
  scope().ClearErrors();
  traced_ = std::make_unique<TracedForm>(*bench_);
  form().LastButton = 1;
  bells_before_ = scope().bells();
  start_ = bench_->platform().clock().Elapsed();
  if (close_after_ >= 0) {
    bench_->platform().SetCloseHandler([this] { form().CloseRequested(); });
    bench_->platform().close_at = start_ + close_after_;
  }
  const int code = bench_->Call([&] { Checks().at(check)(form()); });
  end_ = bench_->platform().clock().Elapsed();
  EXPECT_THAT(scope().errors(), ::testing::IsEmpty()) << "commands the instrument refused";
  return code;
}

void CheckTest::ExpectTranscript(const Transcript& t) {
  ASSERT_EQ(t.error, "");
  std::string script;
  for (const std::string& press : t.presses) script += (script.empty() ? "" : ",") + press;
  EXPECT_EQ(RunCheck(t.check, t.model, script, t.replies), -1);
  for (const std::string& expectation : t.expects) ExpectAfterwards(expectation);
  if (t.verdict_case) {
    // Nothing that could not be divided or written reaches the instrument.
    for (const std::string& message : received()) {
      EXPECT_EQ(message.find("inf"), std::string::npos) << message;
      EXPECT_EQ(message.find("nan"), std::string::npos) << message;
    }
    return;
  }
  EXPECT_THAT(received(), ::testing::ElementsAreArray(t.sent));
  const auto writes = traced_->Writes();
  ASSERT_EQ(writes.size(), received().size());
  for (const auto& [index, seconds] : t.waits) {
    if (index == 0 || index >= writes.size()) continue;
    const double gap = writes[index].first - writes[index - 1].first;
    EXPECT_GE(gap, seconds - 0.01) << "before \"" << writes[index].second << "\"";
    EXPECT_LE(gap, seconds + 0.25) << "before \"" << writes[index].second << "\"";
  }
  LeaveAtEveryPress(t);
}

void CheckTest::ExpectAfterwards(const std::string& expectation) {
  SCOPED_TRACE("expect " + expectation);
  std::istringstream in(expectation);
  std::string what;
  double value = 0;
  in >> what;
  if (what == "cell") {
    int row = 0;
    int col = 0;
    in >> row >> col >> value;
    ASSERT_TRUE(in && row >= 0 && row <= 12 && col >= 0 && col <= 2);
    EXPECT_EQ(form().ResultTable[row][col], static_cast<Single>(value));
  } else if (what == "line") {
    int line = 0;
    in >> line;
    const std::size_t open = expectation.find('"');
    const std::size_t close = expectation.rfind('"');
    ASSERT_TRUE(in && line >= 1 && line <= 16 && open < close);
    EXPECT_EQ(scope().screen()[static_cast<std::size_t>(line - 1)],
              expectation.substr(open + 1, close - open - 1));
  } else if (what == "setting") {
    const std::size_t equals = expectation.find(" = ");
    ASSERT_NE(equals, std::string::npos);
    EXPECT_EQ(scope().Setting(expectation.substr(8, equals - 8)), expectation.substr(equals + 3));
  } else {
    in >> value;
    ASSERT_TRUE(in);
    const std::map<std::string, double> seen = {{"bells", new_bells()},
                                                {"event", scope().event()},
                                                {"last-button", form().LastButton},
                                                {"selfcals", scope().selfcals()},
                                                {"elapsed", elapsed()}};
    ASSERT_EQ(seen.count(what), 1u);
    EXPECT_NEAR(seen.at(what), value, what == "elapsed" ? 0.05 : 0);
  }
}

void CheckTest::LeaveAtEveryPress(const Transcript& t) {
  if (t.leave_sweep <= 0) return;
  for (std::size_t k = static_cast<std::size_t>(t.leave_sweep - 1); k < t.presses.size(); ++k) {
    // Everything up to the query that reads the leave, nothing after it.
    auto wait = std::find(t.sent.begin() + static_cast<std::ptrdiff_t>(t.press_before[k]),
                          t.sent.end(), "EVE?");
    if (wait == t.sent.end()) continue;
    SCOPED_TRACE("leaving at press " + std::to_string(k + 1));
    std::string script;
    for (std::size_t i = 0; i < k; ++i) script += t.presses[i] + ",";
    EXPECT_EQ(RunCheck(t.check, t.model, script + "leave", t.replies), -1);
    const Stream head(t.sent.begin(), wait + 1);
    EXPECT_THAT(received(), ::testing::ElementsAreArray(head));
    EXPECT_EQ(new_bells(), std::count_if(head.begin(), head.end(), [](const std::string& m) {
                return m.starts_with("BELL;") || m.ends_with(";BELL");
              }));
  }
}

}  // namespace kc
