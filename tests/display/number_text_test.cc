#include "display/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace kc {
namespace {

// Only digits, one optional leading "-" and at most one point: no exponent,
// no "inf", no "nan", no blank.
bool IsFixedNotation(const std::string& text) {
  if (text.empty()) return false;
  std::size_t i = text[0] == '-' ? 1 : 0;
  int points = 0;
  int digits = 0;
  for (; i < text.size(); ++i) {
    if (text[i] == '.') {
      ++points;
    } else if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else {
      return false;
    }
  }
  return points <= 1 && digits > 0;
}

int SignificantDigitCount(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c >= '0' && c <= '9') digits += c;
  std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  std::size_t last = digits.find_last_not_of('0');
  return static_cast<int>(last - first + 1);
}

TEST(PlainNumberTest, ScreenExamples) {
  EXPECT_EQ(PlainNumber(12.5f), "12.5");
  EXPECT_EQ(PlainNumber(0.05f), ".05");
  EXPECT_EQ(PlainNumber(-0.05f), "-.05");
  EXPECT_EQ(PlainNumber(400.0f), "400");
  EXPECT_EQ(PlainNumber(1E-3f), ".001");
  EXPECT_EQ(PlainNumber(2.8f), "2.8");
  EXPECT_EQ(PlainNumber(0.5f), ".5");
  EXPECT_EQ(PlainNumber(-3.14f), "-3.14");
  EXPECT_EQ(PlainNumber(0.002f), ".002");
}

TEST(PlainNumberTest, ZeroHasNoSignAndNoPoint) {
  EXPECT_EQ(PlainNumber(0.0f), "0");
  EXPECT_EQ(PlainNumber(-0.0f), "0");
}

TEST(PlainNumberTest, SevenSignificantDigitsRoundedToNearest) {
  EXPECT_EQ(PlainNumber(1.0f / 3.0f), ".3333333");
  EXPECT_EQ(PlainNumber(2.0f / 3.0f), ".6666667");
  EXPECT_EQ(PlainNumber(123.456789f), "123.4568");
  EXPECT_EQ(PlainNumber(1234567.0f), "1234567");
  // The Single nearest 0.3 is 0.30000001...: the eighth digit never shows.
  EXPECT_EQ(PlainNumber(0.1f + 0.2f), ".3");
  // 2.675 is stored just below the half: 7 digits still give 2.675.
  EXPECT_EQ(PlainNumber(2.675f), "2.675");
  EXPECT_EQ(PlainNumber(99.99999f), "99.99999");
  EXPECT_EQ(PlainNumber(-1999999.9f), "-2000000");
}

TEST(PlainNumberTest, WhereAnExponentWouldBeNeededFixedNotationIsWritten) {
  EXPECT_EQ(PlainNumber(12345678.0f), "12345680");
  EXPECT_EQ(PlainNumber(1E10f), "10000000000");
  EXPECT_EQ(PlainNumber(-2.5E8f), "-250000000");
  EXPECT_EQ(PlainNumber(1E30f), "1" + std::string(30, '0'));
  EXPECT_EQ(PlainNumber(1E-10f), "." + std::string(9, '0') + "1");
  EXPECT_EQ(PlainNumber(-1.5E-7f), "-.00000015");
  EXPECT_EQ(PlainNumber(FLT_MAX), "3402823" + std::string(32, '0'));
  EXPECT_EQ(PlainNumber(std::numeric_limits<float>::denorm_min()),
            "." + std::string(44, '0') + "1401298");
}

TEST(PlainNumberTest, ValuesThatAreNotFiniteGiveZero) {
  EXPECT_EQ(PlainNumber(std::numeric_limits<float>::infinity()), "0");
  EXPECT_EQ(PlainNumber(-std::numeric_limits<float>::infinity()), "0");
  EXPECT_EQ(PlainNumber(std::numeric_limits<float>::quiet_NaN()), "0");
}

TEST(PlainNumberTest, AnySingleReadsBackWithinSevenDigits) {
  std::mt19937 random(20261206);
  std::uniform_int_distribution<std::uint32_t> bits;
  int checked = 0;
  while (checked < 20000) {
    std::uint32_t pattern = bits(random);
    float value;
    static_assert(sizeof value == sizeof pattern);
    std::memcpy(&value, &pattern, sizeof value);
    if (!std::isfinite(value)) continue;
    ++checked;
    const std::string text = PlainNumber(value);
    ASSERT_TRUE(IsFixedNotation(text)) << text;
    ASSERT_LE(SignificantDigitCount(text), 7) << text;
    ASSERT_NE(text.front(), '0') << "no zero before the point: " << text;
    if (text.find('.') != std::string::npos) {
      ASSERT_NE(text.back(), '0') << text;
    }
    const double back = Val(text);
    if (std::fabs(value) < 1E-38f) continue;  // fewer digits than 7 hold there
    ASSERT_NEAR(back, value, std::fabs(value) * 5.01E-7) << text;
  }
}

TEST(StrTest, LeadingBlankForZeroAndAbove) {
  EXPECT_EQ(Str(0.5f), " .5");
  EXPECT_EQ(Str(-0.5f), "-.5");
  EXPECT_EQ(Str(0.0f), " 0");
  EXPECT_EQ(Str(-0.0f), " 0");
  EXPECT_EQ(Str(12.5f), " 12.5");
  EXPECT_EQ(Str(std::numeric_limits<float>::quiet_NaN()), " 0");
  EXPECT_EQ(Str(452L), " 452");
  EXPECT_EQ(Str(-7L), "-7");
  EXPECT_EQ(Str(0), " 0");
  EXPECT_EQ(Str(16), " 16");
}

TEST(ValTest, LeadingNumberOfAReply) {
  EXPECT_DOUBLE_EQ(Val("1E-3"), 0.001);
  EXPECT_DOUBLE_EQ(Val("  452"), 452);
  EXPECT_DOUBLE_EQ(Val("12abc"), 12);
  EXPECT_DOUBLE_EQ(Val(".5"), 0.5);
  EXPECT_DOUBLE_EQ(Val("-.05"), -0.05);
  EXPECT_DOUBLE_EQ(Val("+7"), 7);
  EXPECT_DOUBLE_EQ(Val("3.5e2V"), 350);
  EXPECT_DOUBLE_EQ(Val("12E3"), 12000);
  EXPECT_DOUBLE_EQ(Val("0.3\r\n"), 0.3);
  EXPECT_DOUBLE_EQ(Val(" \t 12"), 12);
  EXPECT_DOUBLE_EQ(Val("12 34"), 12);
  EXPECT_DOUBLE_EQ(Val("1.5.3"), 1.5);
  EXPECT_DOUBLE_EQ(Val("5."), 5);
  EXPECT_DOUBLE_EQ(Val("-4.01E+1"), -40.1);
}

TEST(ValTest, NoNumberGivesZero) {
  EXPECT_EQ(Val(""), 0);
  EXPECT_EQ(Val("abc"), 0);
  EXPECT_EQ(Val("   "), 0);
  EXPECT_EQ(Val("."), 0);
  EXPECT_EQ(Val("-"), 0);
  EXPECT_EQ(Val("+.E5"), 0);
  EXPECT_EQ(Val("E5"), 0);
  EXPECT_EQ(Val("0.000"), 0);
  EXPECT_FALSE(std::signbit(Val("-0")));
}

TEST(ValTest, AnExponentNeedsDigits) {
  EXPECT_EQ(Val("1E"), 1);
  EXPECT_EQ(Val("1E+"), 1);
  EXPECT_EQ(Val("2e-x"), 2);
  EXPECT_EQ(Val("3Ex"), 3);
}

TEST(ValTest, OutOfRangeIsClampedToTheSingleRange) {
  EXPECT_EQ(Val("1e999"), FLT_MAX);
  EXPECT_EQ(Val("-1e999"), -FLT_MAX);
  EXPECT_EQ(Val("1e39"), FLT_MAX);
  EXPECT_EQ(Val("1" + std::string(400, '0')), FLT_MAX);
  EXPECT_EQ(Val("1e99999999999999999999"), FLT_MAX);
  EXPECT_EQ(Val("1e-999"), 0);
  EXPECT_EQ(Val("." + std::string(80, '0') + "1"), 0);
  EXPECT_EQ(Val("0.00000001e-99999999999"), 0);
  // Within range nothing is clamped, and long digit strings are read whole.
  EXPECT_DOUBLE_EQ(Val("3.4e38"), 3.4e38);
  EXPECT_DOUBLE_EQ(Val(std::string(300, '0') + "25e-1"), 2.5);
  EXPECT_DOUBLE_EQ(Val("0." + std::string(50, '0') + "1e52"), 10);
  EXPECT_TRUE(std::isfinite(static_cast<float>(Val("3.4028236e38"))));
}

}  // namespace
}  // namespace kc
