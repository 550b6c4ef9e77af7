// The vertical accuracy check on the simulated bench: the self-calibration
// question, the whole command stream of the eleven settings with the
// averaging steps, the limits of a reading, a failing reading on the result
// screen, and leaving at the waits.
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

// One volts/division setting as the technician sees it.
struct Setting {
  const char* vdiv;       // "CH1 VOL:" text
  const char* level;      // "ATR LEV:" text
  const char* average;    // NUMAV
  const char* amplitude;  // after "SET PG 506 TO"; nullptr: no prompt
  const char* label;      // the row label of the result table
  double ampl;            // generator amplitude in volts
};

const Setting kSettings[11] = {
    {".002", "0.008", "256", nullptr, "    2\\;V ", 0.01},
    {".005", "0.016", "128", " 20\\;V", "    5\\;V ", 0.02},
    {".01", "0.040", "64", " 50\\;V", "    10\\;V", 0.05},
    {".02", "0.080", "32", " 100\\;V", "    20\\;V", 0.1},
    {".05", "0.160", "32", " 200\\;V", "    50\\;V", 0.2},
    {".1", "0.400", "32", " 0.5V", "    100\\;", 0.5},
    {".2", "0.800", "32", " 1V", "    200\\;", 1},
    {".5", "1.600", "32", " 2V", "    500\\;", 2},
    {"1", "4.000", "32", " 5V", "    1\\$V ", 5},
    {"2", "8.000", "32", " 10V", "    2\\$V ", 10},
    {"5", "16", "32", " 20V", "    5\\$V ", 20},
};

const char kReady[] = "MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"";

std::vector<std::string> Opening() {
  return {
      "MESS CLR,9:\"    *** VERTICAL ACCURACY CHECK ***\"",
      "MESS 9:\"DO YOU WANT A SELFCAL TO BE PERFORMED ?\"",
      "MESS 1:\"  YES      NO\"",
  };
}

// The set-up after the question, through the connection prompt and its wait.
std::vector<std::string> SetUpPrompt() {
  return {
      "VMO CH1;CH1 POS:-2.5,VOL:0.002;HOR ASEC:2E-4;ATR LEV:0.005,COU:HFR;RUN ACQ",
      "MESS CLR,16:\"CONNECT PG 506, 10\\;V STANDARD AMPLITUDE\"",
      "MESS 15:\"TO CH1 AND CH2\"",
      kReady,
      "EVE?",
  };
}

// One setting from the averaging command up to the first acquisition wait.
std::vector<std::string> SettingUpToFirstWait(const Setting& s) {
  std::vector<std::string> stream = {
      std::string("ACQ NUMAV:") + s.average,
      std::string("CH1 VOL:") + s.vdiv + ";CH2 VOL:" + s.vdiv + ";ATR LEV:" + s.level + ";MEN",
      "EVE?",
  };
  if (s.amplitude != nullptr) {
    stream.push_back("BELL;MESS CLR;INTENSI REA:65");
    stream.push_back(std::string("MESS 9:\"          SET PG 506 TO") + s.amplitude + "\"");
  }
  stream.push_back("RUN ACQ");
  stream.push_back("EVE?");
  return stream;
}

std::vector<std::string> RestOfSetting(const Setting& s) {
  std::vector<std::string> stream = {"RUN ACQ", "EVE?", "ACQ MOD:AVG;CURS FUN:V.T;MEN", "EVE?"};
  for (const char* view : {"VMO CH1,CH2:OFF;RUN ACQ", "VMO CH2,CH1:OFF;RUN ACQ"}) {
    Append(stream,
           {view, std::string("MESS 1:\"    TEST RUNNING WITH AVERAGE = ") + s.average + "\"",
            "MEN", "EVE?", "CURS?DISP:VAL"});
  }
  Append(stream, {"CURS FUN:OFF;INTENSI REA:0;VMO CH2:OFF;ACQ MOD:NOR;MEN", "EVE?"});
  return stream;
}

// The measurement part: from the set-up press to the last setting.
std::vector<std::string> Measurements() {
  std::vector<std::string> stream = {"CH2 POS:-2.5", "ATR MODE:SGL;HOR ASEC:5E-5;MEN;USE ON",
                                     "EVE?"};
  for (const Setting& s : kSettings) {
    Append(stream, SettingUpToFirstWait(s));
    Append(stream, RestOfSetting(s));
  }
  return stream;
}

// The result screen with the given verdict and the eleven row lines.
std::vector<std::string> ResultScreen(const std::string& verdict, bool bell,
                                      const std::vector<std::string>& rows) {
  std::vector<std::string> stream = {
      "INTENSI REA:65",
      "MESS 16:\"          \\v\\e\\r\\t\\i\\c\\a\\l\\0\\a\\c\\c\\u\\r\\a\\c\\y     " + verdict +
          "\"" + (bell ? ";BELL" : ""),
      "MESS 15:\"  \\v\\o\\l\\t\\?\\d\\i\\v   \\c\\h\\A           \\c\\h\\B\"",
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "MESS %d:\"", static_cast<int>(14 - i));
    stream.push_back(line + rows[i] + "\"");
  }
  Append(stream, {"MESS 2:\"       LIMIT: +/-2.0% +/-0.04 DIV\"",
                  "MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\""});
  return stream;
}

std::string Exact(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

// Readings of channel 1 and 2 at every setting, `ch1` and `ch2` percent off
// the amplitude.
std::vector<std::string> Readings(double ch1, double ch2) {
  std::vector<std::string> replies;
  for (const Setting& s : kSettings) {
    replies.push_back(Exact(static_cast<float>(s.ampl * (1 + ch1 / 100))));
    replies.push_back(Exact(static_cast<float>(s.ampl * (1 + ch2 / 100))));
  }
  return replies;
}

std::vector<std::string> RowsOf(const std::string& ch1_cell, const std::string& ch2_cell) {
  std::vector<std::string> rows;
  for (const Setting& s : kSettings) rows.push_back(s.label + ch1_cell + ch2_cell);
  return rows;
}

class VertAccTest : public ::testing::Test {
 protected:
  void Run(const std::string& script, const std::vector<std::string>& readings) {
    ASSERT_TRUE(bench_.Load());
    bench_.scope().SetReplies("CURS?DISP:VAL", readings);
    bench_.SetScript(script);
    bench_.ClearReceived();
    bells_before_ = bench_.scope().bells();
    EXPECT_EQ(bench_.Call([&] { bench_.form().VertAcc(); }), -1);
  }

  MainForm& form() { return bench_.form(); }
  // The result line of `row` (1 to 11) as sent; the two prompts follow the
  // last row.
  std::string RowLine(int row) {
    const std::vector<std::string>& received = bench_.received();
    if (received.size() < 13) return {};
    return received[received.size() - 13 + static_cast<std::size_t>(row - 1)];
  }

  CheckoutBench bench_;
  int bells_before_ = 0;
};

TEST_F(VertAccTest, WholeRunWithoutSelfCalibration) {
  Run("b2,b1,b1", Readings(0.3, -0.4));
  std::vector<std::string> expected = Opening();
  expected.push_back("EVE?");
  Append(expected, SetUpPrompt());
  Append(expected, Measurements());
  Append(expected, ResultScreen("PASS", false, RowsOf("     0.3% PASS", "    -0.4% PASS")));
  EXPECT_THAT(bench_.received(), ElementsAreArray(expected));
  EXPECT_EQ(bench_.scope().selfcals(), 0);
  EXPECT_EQ(form().LastButton, 2);
  EXPECT_EQ(form().ResultTable[12][1], 0);
  EXPECT_EQ(bench_.scope().bells() - bells_before_, 10);  // one per "SET PG 506 TO"
  for (int row = 1; row <= 11; ++row) {
    EXPECT_NEAR(form().ResultTable[row][1], 0.3, 1E-3) << row;
    EXPECT_NEAR(form().ResultTable[row][2], -0.4, 1E-3) << row;
  }
  // The instrument ends with the result screen on, averaging and cursors off.
  EXPECT_EQ(bench_.scope().Setting("ACQ MOD"), "NORMAL");
  EXPECT_EQ(bench_.scope().Setting("CURS FUN"), "OFF");
}

TEST_F(VertAccTest, SelfCalibrationRunsOnTheFirstButton) {
  Run("b1,b1,b1", Readings(0, 0));
  std::vector<std::string> expected = Opening();
  Append(expected,
         {"EVE?", "MESS CLR;MESS 9:\"          SELFCAL IN PROGRESS \"", "TESTT SELFC;EXE"});
  Append(expected, SetUpPrompt());
  std::vector<std::string> received = bench_.received();
  ASSERT_GE(received.size(), expected.size());
  received.resize(expected.size());
  EXPECT_THAT(received, ElementsAreArray(expected));
  EXPECT_EQ(bench_.scope().selfcals(), 1);
  EXPECT_EQ(form().LastButton, 1);
}

TEST_F(VertAccTest, OtherButtonsAndLeavingAskTheQuestionAgain) {
  Run("b3,b4,b5,leave,b2,leave", {});
  std::vector<std::string> expected = Opening();
  Append(expected, {"EVE?", "EVE?", "EVE?", "EVE?", "EVE?"});
  Append(expected, SetUpPrompt());
  EXPECT_THAT(bench_.received(), ElementsAreArray(expected));
  EXPECT_EQ(bench_.scope().selfcals(), 0);
  EXPECT_EQ(form().LastButton, 2);
}

TEST_F(VertAccTest, LeavingAtTheConnectionPromptSendsNothingMore) {
  Run("b2,leave", {});
  std::vector<std::string> expected = Opening();
  expected.push_back("EVE?");
  Append(expected, SetUpPrompt());
  EXPECT_THAT(bench_.received(), ElementsAreArray(expected));
  EXPECT_EQ(form().ResultTable[12][1], 0);
}

TEST_F(VertAccTest, OneFailingReadingRingsAndIsMarkedInItsRow) {
  // Channel 2 reads 3 % high at 20 mV/div (row 4): outside 2 % + 0.04 div.
  std::vector<std::string> readings = Readings(0.3, -0.4);
  readings[2 * 3 + 1] = Exact(0.103f);
  Run("b2,b1,b1", readings);
  std::vector<std::string> rows = RowsOf("     0.3% PASS", "    -0.4% PASS");
  rows[3] = "    20\\;V     0.3% PASS     3.0% \\f\\a\\i\\l";
  std::vector<std::string> expected = Opening();
  expected.push_back("EVE?");
  Append(expected, SetUpPrompt());
  Append(expected, Measurements());
  Append(expected, ResultScreen("\\f\\a\\i\\l", true, rows));
  EXPECT_THAT(bench_.received(), ElementsAreArray(expected));
  EXPECT_EQ(form().ResultTable[12][1], 1);
  EXPECT_NEAR(form().ResultTable[4][2], 1003, 1E-2);
  EXPECT_NEAR(form().ResultTable[4][1], 0.3, 1E-3);
}

TEST_F(VertAccTest, ReadingsOnTheLimitsPass) {
  // At 1 V/div and 5 V the limits are 4.86 V and 5.14 V.
  std::vector<std::string> readings = Readings(0, 0);
  readings[2 * 8] = Exact(4.86f);
  readings[2 * 8 + 1] = Exact(5.14f);
  Run("b2,b1,b1", readings);
  EXPECT_EQ(form().ResultTable[12][1], 0);
  EXPECT_NEAR(form().ResultTable[9][1], -2.8, 1E-3);
  EXPECT_NEAR(form().ResultTable[9][2], 2.8, 1E-3);
  EXPECT_EQ(RowLine(9), "MESS 6:\"    1\\$V     -2.8% PASS     2.8% PASS\"");
}

TEST_F(VertAccTest, ReadingsOneStepBeyondTheLimitsFail) {
  std::vector<std::string> readings = Readings(0, 0);
  readings[2 * 8] = Exact(std::nextafter(4.86f, 0.0f));
  readings[2 * 8 + 1] = Exact(std::nextafter(5.14f, 10.0f));
  Run("b2,b1,b1", readings);
  EXPECT_EQ(form().ResultTable[12][1], 1);
  EXPECT_GT(form().ResultTable[9][1], 800);
  EXPECT_GT(form().ResultTable[9][2], 800);
  EXPECT_EQ(RowLine(9), "MESS 6:\"    1\\$V     -2.8% \\f\\a\\i\\l     2.8% \\f\\a\\i\\l\"");
}

TEST_F(VertAccTest, EmptyReadingFailsWithMinusHundredPercent) {
  std::vector<std::string> readings = Readings(0, 0);
  readings[0] = "";
  Run("b2,b1,b1", readings);
  EXPECT_EQ(form().ResultTable[12][1], 1);
  EXPECT_EQ(RowLine(1), "MESS 14:\"    2\\;V   -100.0% \\f\\a\\i\\l     0.0% PASS\"");
}

TEST_F(VertAccTest, InvertedReadingIsShownAsFailed) {
  // -0.01 V at 10 mV is an error of -200 %: it must not read back as a pass.
  std::vector<std::string> readings = Readings(0, 0);
  readings[0] = "-0.01";
  readings[1] = "-0.05";
  Run("b2,b1,b1", readings);
  EXPECT_EQ(form().ResultTable[12][1], 1);
  EXPECT_EQ(RowLine(1), "MESS 14:\"    2\\;V   -200.0% \\f\\a\\i\\l  -600.0% \\f\\a\\i\\l\"");
}

TEST_F(VertAccTest, AveragingStepsDownToThirtyTwo) {
  Run("b2,b1,b1", Readings(0, 0));
  std::vector<std::string> averages;
  for (const std::string& message : bench_.received()) {
    if (message.rfind("ACQ NUMAV:", 0) == 0) averages.push_back(message.substr(10));
  }
  EXPECT_THAT(averages, ElementsAreArray(
                            {"256", "128", "64", "32", "32", "32", "32", "32", "32", "32", "32"}));
  // Each channel of each setting is one averaged acquisition.
  EXPECT_GE(bench_.scope().acquisitions(), 22);
}

// The acquisition ends each wait of a setting; a leave pressed between the
// emptied event queue and the wait's "EVE?" is what the wait then reads. After
// the set-up press the queue is emptied twice (0.1 s each) before the first
// wait, whose reading follows 0.1 s after the 20 ms acquisition.
std::vector<std::string> UpToFirstAcquisitionWait() {
  std::vector<std::string> stream = Opening();
  stream.push_back("EVE?");
  Append(stream, SetUpPrompt());
  Append(stream, {"CH2 POS:-2.5", "ATR MODE:SGL;HOR ASEC:5E-5;MEN;USE ON", "EVE?"});
  Append(stream, SettingUpToFirstWait(kSettings[0]));
  return stream;
}

TEST_F(VertAccTest, LeavingAtTheFirstAcquisitionWait) {
  Run("b2,b1,leave@0.26", {});
  EXPECT_THAT(bench_.received(), ElementsAreArray(UpToFirstAcquisitionWait()));
  EXPECT_EQ(form().ResultTable[12][1], 0);
}

TEST_F(VertAccTest, LeavingAtTheSecondAcquisitionWait) {
  Run("b2,b1,leave@0.37", {});
  std::vector<std::string> expected = UpToFirstAcquisitionWait();
  Append(expected, {"RUN ACQ", "EVE?"});
  EXPECT_THAT(bench_.received(), ElementsAreArray(expected));
  EXPECT_EQ(form().ResultTable[12][1], 0);
}

TEST_F(VertAccTest, LeavingWhenAskedToSetTheGenerator) {
  ASSERT_TRUE(bench_.Load());
  SimScope& scope = bench_.scope();
  scope.SetReplies("CURS?DISP:VAL", Readings(0, 0));
  bool left = false;
  scope.SetScreenListener([&] {
    if (!left && scope.screen()[8] == "          SET PG 506 TO 0.5V") {
      left = true;
      scope.PressMenuOff();
      scope.PressMenuOff();
    }
  });
  bench_.SetScript("b2,b1");
  bench_.ClearReceived();
  EXPECT_EQ(bench_.Call([&] { form().VertAcc(); }), -1);

  std::vector<std::string> expected = Opening();
  expected.push_back("EVE?");
  Append(expected, SetUpPrompt());
  Append(expected, {"CH2 POS:-2.5", "ATR MODE:SGL;HOR ASEC:5E-5;MEN;USE ON", "EVE?"});
  for (int i = 0; i < 5; ++i) {
    Append(expected, SettingUpToFirstWait(kSettings[i]));
    Append(expected, RestOfSetting(kSettings[i]));
  }
  Append(expected, SettingUpToFirstWait(kSettings[5]));
  EXPECT_TRUE(left);
  EXPECT_THAT(bench_.received(), ElementsAreArray(expected));
  // Rows 1 to 5 are measured; nothing was restored.
  EXPECT_EQ(form().ResultTable[6][1], 0);
  EXPECT_EQ(scope.Setting("INTENSI REA"), "65");
}

}  // namespace
}  // namespace kc
