// The bandwidth check on the simulated bench: the whole dialogue for the three
// model groups, the overall verdict on the unrounded ratio against 0.7 and the
// channel verdicts on the rounded amplitude against 0.708, a reference that
// reads 0, and leaving at each wait.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "checks/check_streams.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;

const std::string kReady = "MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"";

struct ModelGroup {
  const char* model;
  const char* generator;
  const char* frequency;
  const char* time_base;
  int bars;  // bar graphs at the test frequency
};

const ModelGroup k2430 = {"2430", "SG 503", "150", "5", 2};
const ModelGroup k2430A = {"2430A", "SG 503", "150", "5", 1};
const ModelGroup k2431L = {"2431L", "SG 504", "300", "2", 1};
const ModelGroup k2440 = {"2440", "SG 504", "300", "2", 1};

// Everything the instrument receives up to the result screen.
Stream Measurement(const ModelGroup& group) {
  const std::string frequency_prompt =
      std::string("MESS CLR,16:\"CHANGE THE FREQUENCY TO ") + group.frequency + " MH\\&\"";
  const std::string time_base = std::string("HOR ASEC:") + group.time_base + "E-9;ACQ REP:OFF";
  Stream stream = {
      "MESS CLR,9:\"         *** BANDWIDTH CHECK ***\"",
      "MESS CLR;VMO CH1;CH1 FIF;CH2 FIF",
      "HOR ASEC:5E-6;ACQ REP:ON;DAT SOU:CH1",
      std::string("MESS CLR,16:\"CONNECT ") + group.generator + ", 50 \\4H\\&, TO CH1\"",
      "MESS 15:\"ADJUST AMPLITUDE FOR 6 DIVISIONS P-P\"",
      // CH1
      kReady,
      "EVE?",
      "DAT SOU:CH1",
      "MINI?",
      "MAX?",
      time_base,
      frequency_prompt,
      kReady,
      "EVE?",
      "MESS CLR;ACQ REP:ON",
  };
  for (int i = 0; i < group.bars; ++i) Append(stream, PleaseWaitBar(6, 9));
  Append(stream, {
                     "RUN SAVE",
                     "MINI?",
                     "MAX?",
                     "VMO CH1:OFF",
                     "RUN ACQ",
                     "VMO CH1:OFF;HOR ASEC:5E-6",
                     "MESS CLR,9:\"           MOVE SIGNAL TO CH2\"",
                     kReady,
                     "EVE?",
                     "VMO CH2;ATR SOU:CH2",
                     "MESS CLR,16:\"CHANGE THE FREQUENCY TO 50 \\4H\\&\"",
                     "MESS 15:\"ADJUST AMPLITUDE FOR 6 DIVS\"",
                     // CH2
                     kReady,
                     "EVE?",
                     "DAT SOU:CH2",
                     "MINI?",
                     "MAX?",
                     time_base,
                     frequency_prompt,
                     kReady,
                     "EVE?",
                     "MESS CLR;ACQ REP:ON",
                 });
  for (int i = 0; i < group.bars; ++i) Append(stream, PleaseWaitBar(6, 9));
  Append(stream, {"RUN SAVE", "MINI?", "MAX?", "VMO CH2:OFF", "RUN ACQ"});
  return stream;
}

std::string OverallLine(bool pass) {
  return pass ? "MESS CLR,12:\"            \\b\\a\\n\\d\\w\\i\\d\\t\\h           PASS\""
              : "MESS CLR,12:\"            \\b\\a\\n\\d\\w\\i\\d\\t\\h           "
                "\\f\\a\\i\\l\";BELL";
}

const std::string kColumnHeads =
    "MESS 10:\"            \\l\\i\\m\\i\\t\\    \\m\\e\\a\\s\\u\\r\\e\\d\"";
const std::string kMainMenu = "MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\"";

Stream WholeRun(const ModelGroup& group, bool pass, const std::string& ch1_line,
                const std::string& ch2_line) {
  Stream stream = Measurement(group);
  Append(stream, {OverallLine(pass), kColumnHeads, "MESS 8:\"" + ch1_line + "\"",
                  "MESS 7:\"" + ch2_line + "\"", kMainMenu});
  return stream;
}

class BandWidthTest : public ::testing::Test {
 protected:
  // Runs the check; `extremes` are the MINI? and MAX? replies in order:
  // CH1 reference, CH1 test frequency, CH2 reference, CH2 test frequency.
  void RunWith(const ModelGroup& group,
               const std::vector<std::pair<std::string, std::string>>& extremes,
               const std::string& script = "b1,b1,b1,b1,b1,b1") {
    bench_ = std::make_unique<CheckoutBench>(BenchOptions{.model = group.model});
    ASSERT_TRUE(LoadForChecks(*bench_));
    std::vector<std::string> minima;
    std::vector<std::string> maxima;
    for (const auto& [minimum, maximum] : extremes) {
      minima.push_back(minimum);
      maxima.push_back(maximum);
    }
    bench_->scope().SetReplies("MINI?", minima);
    bench_->scope().SetReplies("MAX?", maxima);
    bench_->SetScript(script);
    bench_->ClearReceived();
    bells_before_ = bench_->scope().bells();
    start_ = bench_->platform().clock().Elapsed();
    EXPECT_EQ(bench_->Call([&] { bench_->form().BandWidth(); }), -1);
    elapsed_ = bench_->platform().clock().Elapsed() - start_;
  }

  Single FailFlag() { return bench_->form().ResultTable[3][1]; }
  int NewBells() { return bench_->scope().bells() - bells_before_; }

  std::unique_ptr<CheckoutBench> bench_;
  int bells_before_ = 0;
  double start_ = 0;
  double elapsed_ = 0;
};

// Reference 100 (extremes of +-12.5 give (max - min) x 4 = 100) on both
// channels.
const std::pair<std::string, std::string> kReference100 = {"-12.5", "12.5"};

TEST_F(BandWidthTest, Model2440UsesTheSg504At300MHzAndPassesBothChannels) {
  // CH1 keeps 80 of 100, CH2 75 of 100.
  RunWith(k2440, {kReference100, {"-10", "10"}, kReference100, {"-9.375", "9.375"}});
  EXPECT_THAT(bench_->received(),
              ElementsAreArray(WholeRun(k2440, true, "    CH1:     71 \\;V     80 \\;V    PASS",
                                        "    CH2:     71 \\;V     75 \\;V    PASS")));
  EXPECT_EQ(FailFlag(), 0);
  EXPECT_EQ(NewBells(), 0);
  // Reference amplitudes stay unrounded, the measured ones are rounded.
  EXPECT_EQ(bench_->form().ResultTable[1][1], 100.0f);
  EXPECT_EQ(bench_->form().ResultTable[2][1], 80.0f);
  EXPECT_EQ(bench_->form().ResultTable[2][2], 75.0f);
}

TEST_F(BandWidthTest, ModelGroupsChooseGeneratorFrequencyTimeBaseAndWaits) {
  for (const ModelGroup* group : {&k2430, &k2430A, &k2431L}) {
    SCOPED_TRACE(group->model);
    RunWith(*group, {kReference100, {"-10", "10"}, kReference100, {"-10", "10"}});
    EXPECT_THAT(bench_->received(),
                ElementsAreArray(WholeRun(*group, true, "    CH1:     71 \\;V     80 \\;V    PASS",
                                          "    CH2:     71 \\;V     80 \\;V    PASS")));
    // The title pause and 6 s bars: the 2430 waits twice at each test
    // frequency, the others once.
    const double bar_seconds = 2 * 6.0 * group->bars;
    EXPECT_GE(elapsed_, 2 + bar_seconds);
    EXPECT_LT(elapsed_, 2 + bar_seconds + 5);
  }
}

TEST_F(BandWidthTest, BarStepsAreOneSecondApart) {
  bench_ = std::make_unique<CheckoutBench>(BenchOptions{.model = "2430"});
  ASSERT_TRUE(LoadForChecks(*bench_));
  std::vector<double> bar_times;
  std::string last_bar;
  bench_->scope().SetScreenListener([&] {
    const std::string& line = bench_->scope().screen()[15];
    if (line.find("PLEASE WAIT") != std::string::npos && line != last_bar) {
      bar_times.push_back(bench_->platform().clock().Elapsed());
      last_bar = line;
    }
  });
  bench_->SetScript("b1,b1,b1,b1,b1,b1");
  EXPECT_EQ(bench_->Call([&] { bench_->form().BandWidth(); }), -1);
  // Two runs of six steps per channel; each step waits one second.
  ASSERT_EQ(bar_times.size(), 24u);
  for (std::size_t i = 1; i < 12; ++i) {
    SCOPED_TRACE(i);
    EXPECT_NEAR(bar_times[i] - bar_times[i - 1], 1.0, 0.05);
  }
}

TEST_F(BandWidthTest, RatioOfExactly0Point7PassesOverallButNotOnTheChannelLine) {
  // 70 of 100: the ratio is the Single 0.7, which is not below 0.7; against
  // 0.708 the channel fails.
  RunWith(k2440, {kReference100, {"-8.75", "8.75"}, kReference100, {"-10", "10"}});
  EXPECT_THAT(
      bench_->received(),
      ElementsAreArray(WholeRun(k2440, true, "    CH1:     71 \\;V     70 \\;V    \\f\\a\\i\\l",
                                "    CH2:     71 \\;V     80 \\;V    PASS")));
  EXPECT_EQ(FailFlag(), 0);
  EXPECT_EQ(NewBells(), 0);
}

TEST_F(BandWidthTest, RatioJustBelow0Point7FailsOverallWithTheBell) {
  // 69.96 of 100 fails overall; the channel line shows it rounded to 70.
  RunWith(k2440, {kReference100, {"-10", "10"}, kReference100, {"-8.745", "8.745"}});
  EXPECT_THAT(bench_->received(),
              ElementsAreArray(WholeRun(k2440, false, "    CH1:     71 \\;V     80 \\;V    PASS",
                                        "    CH2:     71 \\;V     70 \\;V    \\f\\a\\i\\l")));
  EXPECT_EQ(FailFlag(), 1);
  EXPECT_EQ(NewBells(), 1);
}

TEST_F(BandWidthTest, TheTwoThresholdsDisagreeAround0Point708) {
  // 70.4: overall pass (0.704), but rounded to 70 the channel line fails.
  // 70.6: rounded to 71 the channel line passes although 0.706 < 0.708.
  RunWith(k2440, {kReference100, {"-8.8", "8.8"}, kReference100, {"-8.825", "8.825"}});
  EXPECT_THAT(
      bench_->received(),
      ElementsAreArray(WholeRun(k2440, true, "    CH1:     71 \\;V     70 \\;V    \\f\\a\\i\\l",
                                "    CH2:     71 \\;V     71 \\;V    PASS")));
  EXPECT_EQ(FailFlag(), 0);
  EXPECT_EQ(bench_->form().ResultTable[2][1], 70.0f);
  EXPECT_EQ(bench_->form().ResultTable[2][2], 71.0f);
  EXPECT_EQ(bench_->form().ResultTable[1][1], 100.0f);
}

TEST_F(BandWidthTest, ReferenceOfZeroFailsThatChannelWithoutDividingByIt) {
  // CH1's reference reads 0 (both extremes 0); CH2 is good.
  RunWith(k2440, {{"0", "0"}, {"-10", "10"}, kReference100, {"-10", "10"}});
  EXPECT_THAT(
      bench_->received(),
      ElementsAreArray(WholeRun(k2440, false, "    CH1:      0 \\;V     80 \\;V    \\f\\a\\i\\l",
                                "    CH2:     71 \\;V     80 \\;V    PASS")));
  EXPECT_EQ(FailFlag(), 1);
  EXPECT_EQ(NewBells(), 1);
  for (const std::string& message : bench_->received()) {
    EXPECT_EQ(message.find("inf"), std::string::npos) << message;
    EXPECT_EQ(message.find("nan"), std::string::npos) << message;
  }
}

TEST_F(BandWidthTest, LeavingAtAnyWaitEndsTheCheckAtOnce) {
  const Stream whole = Measurement(k2440);
  // The five waits, in order: CH1 reference, CH1 test frequency, move to CH2,
  // CH2 reference, CH2 test frequency.
  for (int wait = 1; wait <= 5; ++wait) {
    SCOPED_TRACE(wait);
    std::string script;
    for (int i = 1; i < wait; ++i) script += "b1,";
    script += "leave";
    RunWith(k2440, {kReference100, {"-10", "10"}, kReference100, {"-10", "10"}}, script);
    // Everything up to and including the wait's "EVE?", nothing after it.
    Stream expected;
    int waits = 0;
    for (const std::string& message : whole) {
      expected.push_back(message);
      if (message == "EVE?" && ++waits == wait) break;
    }
    EXPECT_THAT(bench_->received(), ElementsAreArray(expected));
    EXPECT_EQ(NewBells(), 0);
  }
}

}  // namespace
}  // namespace kc
