#include "display/result_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "display/number_text.h"

namespace kc {
namespace {

// ---------------------------------------------------------------------------
// NrToStr

struct NrToStrCase {
  Single value;
  Single format;
  int blanks;           // leading blanks of the result
  const char* visible;  // the result without them
  Single after;         // the caller's value afterwards
};

std::string Blanks(int count) {
  return std::string(static_cast<std::size_t>(count), ' ');
}

class NrToStrTableTest : public ::testing::TestWithParam<NrToStrCase> {};

TEST_P(NrToStrTableTest, TextAndCallersVariables) {
  const NrToStrCase& c = GetParam();
  Single value = c.value;
  Single format = c.format;
  EXPECT_EQ(NrToStr(value, format), Blanks(c.blanks) + c.visible);
  EXPECT_EQ(value, c.after);
  EXPECT_EQ(format, std::fabs(c.format));
}

INSTANTIATE_TEST_SUITE_P(
    ResultTexts, NrToStrTableTest,
    ::testing::Values(
        NrToStrCase{12.5f, 6.2f, 4, "12.50", 12.5f}, NrToStrCase{0.5f, 5.1f, 4, "0.5", 0.5f},
        NrToStrCase{-0.5f, 5.1f, 3, "-0.5", 0.5f}, NrToStrCase{400.25f, 3.1f, 0, "400.3", 400.3f},
        NrToStrCase{396.04f, 3.1f, 0, "396.0", 396.0f},
        NrToStrCase{0.0523f, 1.3f, 0, "0.052", 0.052f}, NrToStrCase{0.05f, 1.3f, 0, "0.050", 0.05f},
        NrToStrCase{12.0f, 2.1f, 0, "12.0", 12.0f}, NrToStrCase{3.14159f, -4.2f, 3, "3.14", 3.14f},
        NrToStrCase{-3.14159f, 4.2f, 2, "-3.14", 3.14f}, NrToStrCase{7.26f, 7.0f, 6, "7", 7.0f},
        // Does not fit: the plain text of the value as passed.
        NrToStrCase{123.4f, 2.1f, 0, "123.4", 123.4f}, NrToStrCase{-12.5f, 2.1f, 0, "-12.5", 12.5f},
        NrToStrCase{99.96f, 2.1f, 0, "99.96", 100.0f},
        // Zero and values rounding to it.
        NrToStrCase{0.0f, 3.1f, 2, "0.0", 0.0f}, NrToStrCase{0.04f, 2.1f, 1, "0.0", 0.0f},
        // The sign stays when a negative value rounds to 0.
        NrToStrCase{-0.04f, 2.1f, 0, "-0.0", 0.0f},
        // Half up on the stored Single: 2.675 lies just below.
        NrToStrCase{2.675f, 1.2f, 0, "2.67", 2.67f}, NrToStrCase{-2.25f, -3.1f, 1, "-2.2", 2.2f},
        // Truncation keeps the digits as they are.
        NrToStrCase{3.999f, -1.2f, 0, "3.99", 3.99f},
        // The threshold values of the trigger level settings.
        NrToStrCase{0.008f, 1.3f, 0, "0.008", 0.008f}, NrToStrCase{16.0f, 1.3f, 0, "16", 16.0f},
        NrToStrCase{8.0f, 1.3f, 0, "8.000", 8.0f},
        // A failed reading shown after the mark is taken off.
        NrToStrCase{-100.0f, 6.1f, 2, "-100.0", 100.0f},
        NrToStrCase{404.00003f, 3.1f, 0, "404.0", 404.0f}));

TEST(NrToStrTest, FormatOfZeroGivesThePlainTextAndAWholeValue) {
  Single value = 12.6f;
  Single format = 0;
  EXPECT_EQ(NrToStr(value, format), "12.6");
  EXPECT_EQ(value, 13.0f);
  EXPECT_EQ(format, 0.0f);

  value = -3.2f;
  EXPECT_EQ(NrToStr(value, format), "-3.2");
  EXPECT_EQ(value, 3.0f);

  value = 0.25f;
  format = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(NrToStr(value, format), ".25");
  EXPECT_EQ(value, 0.0f);
  EXPECT_EQ(format, 0.0f);
}

TEST(NrToStrTest, ValuesThatAreNotFiniteAreShownAsZero) {
  for (Single bad :
       {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN()}) {
    Single value = bad;
    Single format = 3.1f;
    EXPECT_EQ(NrToStr(value, format), "  0.0");
    EXPECT_EQ(value, 0.0f);
  }
}

TEST(NrToStrTest, HugeValuesGiveDigitsNeverAnExponent) {
  Single value = 1E30f;
  Single format = 3.1f;
  EXPECT_EQ(NrToStr(value, format), "1" + std::string(30, '0'));
  EXPECT_TRUE(std::isfinite(value));

  value = -FLT_MAX;
  format = 6.1f;
  EXPECT_EQ(NrToStr(value, format), "-3402823" + std::string(32, '0'));
  EXPECT_EQ(value, FLT_MAX);

  // Ten decimals of the largest Single overflow nothing.
  value = FLT_MAX;
  format = 1.96f;  // D rounds to 10
  std::string text = NrToStr(value, format);
  EXPECT_EQ(text, "3402823" + std::string(32, '0'));
  EXPECT_EQ(value, FLT_MAX);
}

TEST(NrToStrTest, WidthsBeyondAnyScreenAreCut) {
  Single value = 5;
  Single format = 1000;
  EXPECT_EQ(NrToStr(value, format), Blanks(254) + "5");
  value = 5;
  format = -std::numeric_limits<float>::infinity();
  EXPECT_EQ(NrToStr(value, format), Blanks(254) + "5");
}

TEST(NrToStrTest, NeverAnythingButBlanksDigitsSignAndPoint) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> exponent(-40, 40);
  std::uniform_int_distribution<int> width(0, 12);
  std::uniform_int_distribution<int> decimals(0, 9);
  std::bernoulli_distribution flip(0.5);
  for (int i = 0; i < 20000; ++i) {
    Single value = std::pow(10.0f, exponent(random)) * (flip(random) ? -1.0f : 1.0f);
    Single format = static_cast<Single>(width(random)) + static_cast<Single>(decimals(random)) / 10;
    if (flip(random)) format = -format;
    const Single passed = value;
    std::string text = NrToStr(value, format);
    ASSERT_EQ(text.find_first_not_of(" -.0123456789"), std::string::npos)
        << passed << " " << format << " -> " << text;
    ASSERT_TRUE(std::isfinite(value));
    ASSERT_GE(value, 0);
  }
}

// ---------------------------------------------------------------------------
// PassFail

TEST(PassFailTest, ZeroAndBelowPass) {
  EXPECT_EQ(PassFail(0), "PASS");
  EXPECT_EQ(PassFail(-0.0f), "PASS");
  EXPECT_EQ(PassFail(-5), "PASS");
  EXPECT_EQ(PassFail(0.001f), "\\f\\a\\i\\l");
  EXPECT_EQ(PassFail(1), "\\f\\a\\i\\l");
  EXPECT_EQ(PassFail(std::numeric_limits<float>::denorm_min()), "\\f\\a\\i\\l");
  EXPECT_EQ(PassFail(std::numeric_limits<float>::infinity()), "\\f\\a\\i\\l");
  EXPECT_EQ(PassFail(-std::numeric_limits<float>::infinity()), "PASS");
  // Not a number: the comparison is unordered and passes.
  EXPECT_EQ(PassFail(std::numeric_limits<float>::quiet_NaN()), "PASS");
}

// ---------------------------------------------------------------------------
// BarGraphCommand

struct BarCase {
  Integer steps, indent, line;
  const char* text;
  int step;
  std::string command;
};

class BarGraphCommandTest : public ::testing::TestWithParam<BarCase> {};

TEST_P(BarGraphCommandTest, OneStepOfTheBar) {
  const BarCase& c = GetParam();
  EXPECT_EQ(BarGraphCommand(c.steps, c.indent, c.line, c.text, c.step), c.command);
}

const std::string kWait5 = "MESS 16:\"" + Blanks(12) + "PLEASE WAIT ";
const std::string kWait10 = "MESS 16:\"" + Blanks(9) + "PLEASE WAIT ";

INSTANTIATE_TEST_SUITE_P(
    Steps, BarGraphCommandTest,
    ::testing::Values(
        // Five steps at indent 12: the closing glyph stays in column 5.
        BarCase{5, 12, 16, "PLEASE WAIT ", 1, kWait5 + "    \\M\""},
        BarCase{5, 12, 16, "PLEASE WAIT ", 2, kWait5 + "\\M   \\M\""},
        BarCase{5, 12, 16, "PLEASE WAIT ", 3, kWait5 + "\\M\\M  \\M\""},
        BarCase{5, 12, 16, "PLEASE WAIT ", 4, kWait5 + "\\M\\M\\M \\M\""},
        BarCase{5, 12, 16, "PLEASE WAIT ", 5, kWait5 + "\\M\\M\\M\\M\\M\""},
        BarCase{10, 9, 16, "PLEASE WAIT ", 1, kWait10 + Blanks(9) + "\\M\""},
        BarCase{10, 9, 16, "PLEASE WAIT ", 6, kWait10 + "\\M\\M\\M\\M\\M" + Blanks(4) + "\\M\""},
        BarCase{10, 9, 16, "PLEASE WAIT ", 10, kWait10 + "\\M\\M\\M\\M\\M\\M\\M\\M\\M\\M\""},
        // The line number is signed text; a negative indent counts as none.
        BarCase{1, 0, 3, "X", 1, "MESS 3:\"X\\M\""},
        BarCase{2, -4, 16, "W", 1, "MESS 16:\"W \\M\""},
        BarCase{2, -4, 16, "W", 2, "MESS 16:\"W\\M\\M\""}));

}  // namespace
}  // namespace kc
