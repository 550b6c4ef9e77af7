// The calibrator signal check on the simulated bench: the whole command stream
// of a run, the verdict at and just beyond both limits, leaving at each wait,
// and a gain reference that reads 0.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "checks/check_streams.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;

// Everything up to the first bezel wait.
std::vector<std::string> GainReferencePrompt() {
  return {
      "MESS CLR,9:\"    *** CALIBRATOR SIGNAL CHECK ***\"",
      "VMO CH1;HOR ASEC:.1E-3;ATR LEV:0.25;CH1 POS:-2.5",
      "MESS CLR,16:\"CONNECT PG 506, 500\\;V STANDARD AMPLITUDE\"",
      "MESS 15:\"TO CH1\"",
      "MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"",
      "EVE?",
  };
}

// From the first press to the second wait.
std::vector<std::string> GainReferenceAndCalibratorPrompt() {
  std::vector<std::string> stream = GainReferencePrompt();
  for (const char* command : {
           "MESS CLR;CURS FUN:V.T",
           "CURS TPOS:ONE:387,TPOS:TWO:637",
           "ACQ MOD:AVG,NUMAV:128",
       }) {
    stream.push_back(command);
  }
  Append(stream, PleaseWaitBar(5, 12));
  for (const char* command : {
           "CURS?DISP:VAL",
           "CURS FUN:OFF;ACQ MOD:NOR;CH1 POS:-2",
           "MESS CLR,16:\"CONNECT THE CALIBRATOR SIGNAL TO CH1\"",
           "MESS 15:\"VIA A X1 PROBE OR APPROPRIATE ADAPTER\"",
           "MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"",
           "EVE?",
       }) {
    stream.push_back(command);
  }
  return stream;
}

// A whole run whose result screen shows `verdict` (with the bell when it
// failed) and `calculated` on the value line.
std::vector<std::string> WholeRun(const std::string& verdict, bool bell,
                                  const std::string& calculated) {
  std::vector<std::string> stream = GainReferenceAndCalibratorPrompt();
  for (const char* command : {
           "VMO CH1;HOR ASEC:.5E-3;ACQ MOD:AVG;ATR LEV:0.2",
           "MESS CLR;CURS FUN:V.T",
           "CURS TPOS:ONE:462,TPOS:TWO:562",
       }) {
    stream.push_back(command);
  }
  Append(stream, PleaseWaitBar(5, 12));
  stream.push_back("CURS?DISP:VAL");
  stream.push_back("VMO CH1:OFF;CURS FUN:OFF;MESS CLR");
  stream.push_back("MESS 10:\"         \\c\\a\\l\\b\\r\\a\\t\\o\\r\\0\\s\\i\\g\\n\\a\\l  " +
                   verdict + "\"" + (bell ? ";BELL" : ""));
  stream.push_back("MESS 8:\"         CALCULATED: " + calculated + "\\;V\"");
  stream.push_back("MESS 6:\"         LIMIT: 396.0 - 404.0 \\;V\"");
  stream.push_back("MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\"");
  return stream;
}

// Nine significant digits: the text reads back as exactly this Single.
std::string Exact(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

class CalibratorTest : public ::testing::Test {
 protected:
  // Runs the check with the two cursor readings and the technician's script.
  void RunWith(const std::string& reference, const std::string& calibrator,
               const std::string& script = "b1,b1,b1") {
    ASSERT_TRUE(bench_.Load());
    bench_.scope().SetReplies("CURS?DISP:VAL", {reference, calibrator});
    bench_.SetScript(script);
    bench_.ClearReceived();
    bells_before_ = bench_.scope().bells();
    start_ = bench_.platform().clock().Elapsed();
    EXPECT_EQ(bench_.Call([&] { bench_.form().Calibrator(); }), -1);
  }

  float FailFlag() { return bench_.form().ResultTable[1][1]; }
  int NewBells() { return bench_.scope().bells() - bells_before_; }

  CheckoutBench bench_;
  int bells_before_ = 0;
  double start_ = 0;
};

TEST_F(CalibratorTest, PassingRunSendsTheWholeDialogueInOrder) {
  // The reference reads 490 mV, so the gain factor is 0.5 / 0.49; the
  // calibrator reads 392 mV, which it corrects to 400 mV.
  RunWith("0.49", "0.392");
  EXPECT_THAT(bench_.received(), ElementsAreArray(WholeRun("PASS", false, "400.0")));
  EXPECT_EQ(FailFlag(), 0);
  EXPECT_EQ(NewBells(), 0);
  // Title pause, two bar graphs of five seconds and the read pauses at least.
  EXPECT_GE(bench_.platform().clock().Elapsed() - start_, 12.0);
}

TEST_F(CalibratorTest, ExactlyOnTheLowerLimitPasses) {
  RunWith("0.5", Exact(0.396f));
  EXPECT_THAT(bench_.received(), ElementsAreArray(WholeRun("PASS", false, "396.0")));
  EXPECT_EQ(FailFlag(), 0);
}

TEST_F(CalibratorTest, ExactlyOnTheUpperLimitPasses) {
  RunWith("0.5", Exact(0.404f));
  EXPECT_THAT(bench_.received(), ElementsAreArray(WholeRun("PASS", false, "404.0")));
  EXPECT_EQ(FailFlag(), 0);
}

TEST_F(CalibratorTest, OneStepBelowTheLowerLimitFailsWithTheBell) {
  RunWith("0.5", Exact(std::nextafter(0.396f, 0.0f)));
  // Rounded to one decimal the value still reads 396.0; the verdict tells.
  EXPECT_THAT(bench_.received(), ElementsAreArray(WholeRun("\\f\\a\\i\\l", true, "396.0")));
  EXPECT_EQ(FailFlag(), 1);
  EXPECT_EQ(NewBells(), 1);
}

TEST_F(CalibratorTest, OneStepAboveTheUpperLimitFailsWithTheBell) {
  RunWith("0.5", Exact(std::nextafter(0.404f, 1.0f)));
  EXPECT_THAT(bench_.received(), ElementsAreArray(WholeRun("\\f\\a\\i\\l", true, "404.0")));
  EXPECT_EQ(FailFlag(), 1);
  EXPECT_EQ(NewBells(), 1);
}

TEST_F(CalibratorTest, EmptyCalibratorReadingFails) {
  RunWith("0.5", "");
  EXPECT_THAT(bench_.received(), ElementsAreArray(WholeRun("\\f\\a\\i\\l", true, "  0.0")));
  EXPECT_EQ(FailFlag(), 1);
}

TEST_F(CalibratorTest, ReferenceReadingOfZeroFailsWithoutDividing) {
  // Without a gain reference the calibrator value counts as 0: the dialogue
  // runs to its end and the result screen shows the failure.
  RunWith("0", "0.4");
  EXPECT_THAT(bench_.received(), ElementsAreArray(WholeRun("\\f\\a\\i\\l", true, "  0.0")));
  EXPECT_EQ(FailFlag(), 1);
  EXPECT_EQ(NewBells(), 1);
}

TEST_F(CalibratorTest, ReferenceTooSmallForAGainFactorFails) {
  // 0.5 / 1E-40 does not fit a Single.
  RunWith("1E-40", "0.4");
  EXPECT_THAT(bench_.received(), ElementsAreArray(WholeRun("\\f\\a\\i\\l", true, "  0.0")));
  EXPECT_EQ(FailFlag(), 1);
}

TEST_F(CalibratorTest, HugeValueIsShownInDigits) {
  RunWith("0.5", "1E30");
  EXPECT_EQ(FailFlag(), 1);
  const std::string line = bench_.scope().screen()[7];
  const std::string prefix = "         CALCULATED: ";
  ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
  const std::string number = line.substr(prefix.size(), line.size() - prefix.size() - 3);
  EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << line;
  EXPECT_EQ(line.substr(line.size() - 3), "\\;V");
}

TEST_F(CalibratorTest, LeavingAtTheFirstPromptSendsNothingMore) {
  RunWith("0.5", "0.4", "leave");
  EXPECT_THAT(bench_.received(), ElementsAreArray(GainReferencePrompt()));
  EXPECT_EQ(FailFlag(), 0);
}

TEST_F(CalibratorTest, LeavingAtTheSecondPromptSendsNothingMore) {
  RunWith("0.5", "0.4", "b3,leave");
  EXPECT_THAT(bench_.received(), ElementsAreArray(GainReferenceAndCalibratorPrompt()));
  EXPECT_EQ(FailFlag(), 0);
  EXPECT_EQ(bench_.scope().Setting("CURS FUN"), "OFF");
}

TEST_F(CalibratorTest, FinalPressIsNotReadAsAnEvent) {
  RunWith("0.5", "0.4", "b1,b1,b4");
  // The stream ends with the last prompt, not with "EVE?", and the press of
  // the fourth button is still in the event register.
  ASSERT_FALSE(bench_.received().empty());
  EXPECT_EQ(bench_.received().back(), "MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\"");
  EXPECT_EQ(bench_.scope().event(), 453);
}

}  // namespace
}  // namespace kc
