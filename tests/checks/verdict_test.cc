// The verdicts of the measuring checks on readings on and one step past each
// limit, readings that cannot be divided by or rounded, and empty replies:
// the result lines on the instrument's screen, the check's fail mark and the
// bell.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/check_harness.h"

namespace kc {
namespace {

const std::string kFail = "\\f\\a\\i\\l";

// Nine significant digits: the text reads back as exactly this Single.
std::string Exact(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

struct VerdictCase {
  const char* name;
  const char* check;
  const char* model;
  Replies replies;
  // Screen lines (1 to 16) and their text, escapes as sent.
  std::map<int, std::string> lines;
  bool fails;
  // Result cells as the check leaves them: row, column, value (a failed
  // reading carries the fail mark, 1000 away from zero).
  std::vector<std::array<float, 3>> cells = {};
};

// The technician's presses for each check, and where it keeps its fail mark.
struct CheckTraits {
  const char* script;
  int row;
  int bells;  // rung whatever the verdict
};
const std::map<std::string, CheckTraits> kTraits = {
    {"Calibrator", {"b1,b1,b1", 1, 0}},       {"BandWidth", {"b1,b1,b1,b1,b1,b1", 3, 0}},
    {"CCDcte", {"b1,b1,b1", 2, 0}},           {"CCDlin", {"b1,b1", 3, 0}},
    {"CMRR", {"b1,b3,b1,b1,b3,b1,b1", 2, 0}}, {"VertAcc", {"b2,b1,b1", 12, 10}},
};

std::map<int, std::string> Calibrator(const std::string& verdict, const std::string& value) {
  return {{10, "         \\c\\a\\l\\b\\r\\a\\t\\o\\r\\0\\s\\i\\g\\n\\a\\l  " + verdict},
          {8, "         CALCULATED: " + value + "\\;V"}};
}

Replies Extremes(std::vector<std::string> minima, std::vector<std::string> maxima) {
  return {{"MINI?", minima}, {"MAX?", maxima}};
}

std::map<int, std::string> Bandwidth(const std::string& verdict, const std::string& ch1,
                                     const std::string& ch2) {
  return {{12, "            \\b\\a\\n\\d\\w\\i\\d\\t\\h           " + verdict},
          {8, "    CH1:     71 \\;V     " + ch1},
          {7, "    CH2:     71 \\;V     " + ch2}};
}

std::map<int, std::string> Ccd(const std::string& label, const std::string& verdict,
                               const std::string& ch1, const std::string& ch2) {
  const std::string blanks(12, ' ');
  return {
      {11, "  " + label + "  " + verdict}, {9, blanks + "CH1:" + ch1}, {8, blanks + "CH2:" + ch2}};
}
const std::string kCte =
    "\\c\\c\\d\\0\\c\\h\\a\\r\\g\\e\\0\\t\\r\\a\\n\\s\\f\\e\\r\\0\\e\\f\\f\\i\\c\\i\\e\\n\\c\\y";
const std::string kPositionEffect = "    \\p\\o\\s\\i\\t\\i\\o\\n\\0\\e\\f\\f\\e\\c\\t";

std::map<int, std::string> Linearity(const std::string& verdict,
                                     const std::vector<std::string>& rows) {
  const std::string blanks(9, ' ');
  return {{12, blanks + "\\c\\c\\d\\0\\l\\i\\n\\e\\a\\r\\i\\t\\y     " + verdict},
          {10, blanks + "CH1 LOWER:" + rows[0]},
          {9, blanks + "CH1 UPPER:" + rows[1]},
          {8, blanks + "CH2 LOWER:" + rows[2]},
          {7, blanks + "CH2 UPPER:" + rows[3]}};
}

std::map<int, std::string> CommonMode(const std::string& verdict, const std::string& line9,
                                      const std::string& line8) {
  return {
      {11,
       "  \\c\\o\\m\\m\\o\\n\\0\\m\\o\\d\\e\\0\\r\\e\\j\\e\\c\\t\\i\\o\\n\\0\\r\\a\\t\\i\\o    " +
           verdict},
      {9, "  CH1 INVERTED, CH2 NORMAL:" + line9},
      {8, "  CH1 NORMAL, CH2 INVERTED:" + line8}};
}

// Exact readings of both channels at the eleven settings (10 mV to 20 V of
// the PG 506), with some replaced.
Replies VertReadings(const std::map<int, std::string>& replaced) {
  Stream readings;
  for (double amplitude : {0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0}) {
    readings.insert(readings.end(), 2, Exact(static_cast<float>(amplitude)));
  }
  for (const auto& [index, text] : replaced) readings[static_cast<std::size_t>(index)] = text;
  return {{"CURS?DISP:VAL", readings}};
}

std::map<int, std::string> Vert(const std::string& verdict, int line, const std::string& row) {
  return {{16, "          \\v\\e\\r\\t\\i\\c\\a\\l\\0\\a\\c\\c\\u\\r\\a\\c\\y     " + verdict},
          {line, row}};
}

std::vector<VerdictCase> Cases() {
  const std::string p = "PASS";
  return {
      // 396.0 to 404.0 mV, after the gain factor of a 500 mV reference.
      {"calibrator_on_lower_limit",
       "Calibrator",
       "2440",
       {{"CURS?DISP:VAL", {"0.5", Exact(0.396f)}}},
       Calibrator(p, "396.0"),
       false},
      {"calibrator_on_upper_limit",
       "Calibrator",
       "2440",
       {{"CURS?DISP:VAL", {"0.5", Exact(0.404f)}}},
       Calibrator(p, "404.0"),
       false},
      // Rounded to one decimal the value still reads 396.0; the verdict tells.
      {"calibrator_below_lower_limit",
       "Calibrator",
       "2440",
       {{"CURS?DISP:VAL", {"0.5", Exact(std::nextafter(0.396f, 0.0f))}}},
       Calibrator(kFail, "396.0"),
       true},
      {"calibrator_above_upper_limit",
       "Calibrator",
       "2440",
       {{"CURS?DISP:VAL", {"0.5", Exact(std::nextafter(0.404f, 1.0f))}}},
       Calibrator(kFail, "404.0"),
       true},
      {"calibrator_empty_reading",
       "Calibrator",
       "2440",
       {{"CURS?DISP:VAL", {"0.5", ""}}},
       Calibrator(kFail, "  0.0"),
       true},
      // Without a gain reference the calibrator value counts as 0.
      {"calibrator_reference_zero",
       "Calibrator",
       "2440",
       {{"CURS?DISP:VAL", {"0", "0.4"}}},
       Calibrator(kFail, "  0.0"),
       true},
      // 0.5 / 1E-40 does not fit a Single.
      {"calibrator_reference_tiny",
       "Calibrator",
       "2440",
       {{"CURS?DISP:VAL", {"1E-40", "0.4"}}},
       Calibrator(kFail, "  0.0"),
       true},
      // References of 100; the overall verdict is on the unrounded ratio
      // against 0.7, the channel lines on the rounded amplitude against 70.8.
      {"bandwidth_ratio_on_limit", "BandWidth", "2440",
       Extremes({"-12.5", "-8.75", "-12.5", "-10"}, {"12.5", "8.75", "12.5", "10"}),
       Bandwidth(p, "70 \\;V    " + kFail, "80 \\;V    PASS"), false},
      {"bandwidth_ratio_below_limit", "BandWidth", "2440",
       Extremes({"-12.5", "-10", "-12.5", "-8.745"}, {"12.5", "10", "12.5", "8.745"}),
       Bandwidth(kFail, "80 \\;V    PASS", "70 \\;V    " + kFail), true},
      // 70.4 passes overall but its line fails; 70.6 rounds to a passing 71.
      {"bandwidth_thresholds_disagree", "BandWidth", "2440",
       Extremes({"-12.5", "-8.8", "-12.5", "-8.825"}, {"12.5", "8.8", "12.5", "8.825"}),
       Bandwidth(p, "70 \\;V    " + kFail, "71 \\;V    PASS"), false},
      {"bandwidth_reference_zero",
       "BandWidth",
       "2440",
       Extremes({"0", "-10", "-12.5", "-10"}, {"0", "10", "12.5", "10"}),
       {{8, "    CH1:      0 \\;V     80 \\;V    " + kFail}},
       true},
      // The overall verdict on the signed reading, the lines on the rounded
      // magnitude; limits 4.0 (charge transfer) and 8.0 (position effect).
      {"ccd_cte_on_limit",
       "CCDcte",
       "2430A",
       {{"CURS?DISP:VAL", {"4.0", "1.0"}}},
       Ccd(kCte, p, "  4.0% PASS", "  1.0% PASS"),
       false},
      {"ccd_cte_above_limit",
       "CCDcte",
       "2430A",
       {{"CURS?DISP:VAL", {"4.04", "1.0"}}},
       Ccd(kCte, kFail, "  4.0% PASS", "  1.0% PASS"),
       true},
      {"ccd_position_effect_above_limit",
       "CCDcte",
       "2431L",
       {{"CURS?DISP:VAL", {"1.0", "8.04"}}},
       Ccd(kPositionEffect, kFail, "  1.0% PASS", "  8.0% PASS"),
       true},
      {"ccd_cte_negative",
       "CCDcte",
       "2430A",
       {{"CURS?DISP:VAL", {"1.0", "-5.0"}}},
       Ccd(kCte, p, "  1.0% PASS", " -5.0% " + kFail),
       false},
      // 3276.74 x 10 still fits 16 bits; 3276.76 is shown as read.
      {"ccd_cte_too_large_to_round",
       "CCDcte",
       "2431L",
       {{"CURS?DISP:VAL", {"3276.74", "3276.76"}}},
       Ccd(kPositionEffect, kFail, "3276.7% " + kFail, "3276.76% " + kFail),
       true},
      {"ccd_cte_huge",
       "CCDcte",
       "2430A",
       {{"CURS?DISP:VAL", {"-4000.5", "1E9"}}},
       Ccd(kCte, kFail, "-4000.5% " + kFail, "1000000000% " + kFail),
       true},
      {"ccd_cte_empty_reading",
       "CCDcte",
       "2430A",
       {{"CURS?DISP:VAL", {"", "2.0"}}},
       Ccd(kCte, p, "  0.0% PASS", "  2.0% PASS"),
       false},
      // Cut to one decimal before the limit: 93.99 fails, 94.04 passes,
      // -1.23 is cut downward.
      {"ccd_lin_cut_to_one_decimal",
       "CCDlin",
       "2430A",
       {{"CURS?DISP:VAL", {"93.99", "94.04", "94.3", "-1.23"}}},
       Linearity(kFail, {"  93.9% " + kFail, "  94.0% PASS", "  94.3% PASS", "  -1.3% " + kFail}),
       true,
       {{1, 1, 93.9f}, {2, 1, 94.0f}, {1, 2, 94.3f}, {2, 2, 1.3f}}},
      {"ccd_lin_empty_reading",
       "CCDlin",
       "2432",
       {{"CURS?DISP:VAL", {"", "95", "95", "95"}}},
       Linearity(kFail, {"   0.0% " + kFail, "  95.0% PASS", "  95.0% PASS", "  95.0% PASS"}),
       true},
      {"cmrr_one_pass_fails", "CMRR", "2440", Extremes({"-3", "-15"}, {"3", "15"}),
       CommonMode(kFail, " 12\\;V PASS", " 60\\;V " + kFail), true},
      // 50.4 fails the mark but its line shows 50 and passes; 50.6 shows 51.
      {"cmrr_just_above_limit",
       "CMRR",
       "2440",
       Extremes({"-12.6", "-12.65"}, {"12.6", "12.65"}),
       CommonMode(kFail, " 50\\;V PASS", " 51\\;V " + kFail),
       true,
       {{1, 1, 50}, {1, 2, 51}}},
      // At 1 V/div and 5 V the limits are 4.86 V and 5.14 V.
      {"vert_acc_on_limits", "VertAcc", "2440",
       VertReadings({{16, Exact(4.86f)}, {17, Exact(5.14f)}}),
       Vert(p, 6, "    1\\$V     -2.8% PASS     2.8% PASS"), false},
      {"vert_acc_past_limits", "VertAcc", "2440",
       VertReadings(
           {{16, Exact(std::nextafter(4.86f, 0.0f))}, {17, Exact(std::nextafter(5.14f, 9.0f))}}),
       Vert(kFail, 6, "    1\\$V     -2.8% " + kFail + "     2.8% " + kFail), true},
      // Outside 2 % + 0.04 div at 20 mV/div.
      {"vert_acc_three_percent",
       "VertAcc",
       "2440",
       VertReadings({{7, Exact(0.103f)}}),
       Vert(kFail, 11, "    20\\;V     0.0% PASS     3.0% " + kFail),
       true,
       {{4, 1, 0}, {4, 2, 1003}}},
      {"vert_acc_empty_reading", "VertAcc", "2440", VertReadings({{0, ""}}),
       Vert(kFail, 14, "    2\\;V   -100.0% " + kFail + "     0.0% PASS"), true},
      // An inverted reading must not read back as a pass.
      {"vert_acc_inverted",
       "VertAcc",
       "2440",
       VertReadings({{0, "-0.01"}, {1, "-0.05"}}),
       Vert(kFail, 14, "    2\\;V   -200.0% " + kFail + "  -600.0% " + kFail),
       true,
       {{1, 1, -1200}, {1, 2, -1600}}},
  };
}

class VerdictTest : public CheckTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(VerdictTest, ResultLinesMarkAndBell) {
  const VerdictCase& c = GetParam();
  const CheckTraits& traits = kTraits.at(c.check);
  EXPECT_EQ(RunCheck(c.check, c.model, traits.script, c.replies), -1);
  for (const auto& [line, text] : c.lines) {
    EXPECT_EQ(scope().screen()[static_cast<std::size_t>(line - 1)], text) << "line " << line;
  }
  EXPECT_EQ(form().ResultTable[traits.row][1], c.fails ? 1 : 0);
  EXPECT_EQ(new_bells(), traits.bells + (c.fails ? 1 : 0));
  for (const auto& [row, col, value] : c.cells) {
    EXPECT_NEAR(form().ResultTable[static_cast<int>(row)][static_cast<int>(col)], value, 1E-2)
        << "cell " << row << ", " << col;
  }
  // Nothing that could not be divided or written reaches the instrument.
  for (const std::string& message : received()) {
    EXPECT_EQ(message.find("inf"), std::string::npos) << message;
    EXPECT_EQ(message.find("nan"), std::string::npos) << message;
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, VerdictTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<VerdictCase>& case_info) {
                           return std::string(case_info.param.name);
                         });

}  // namespace
}  // namespace kc
