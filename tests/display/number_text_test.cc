// Numbers as the instrument's screen shows them and as its replies are read.
#include "display/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

namespace kc {
namespace {

const float kInf = std::numeric_limits<float>::infinity();
const float kNan = std::numeric_limits<float>::quiet_NaN();

TEST(PlainNumberTest, SevenSignificantDigitsInFixedNotation) {
  struct Case {
    float value;
    std::string text;
  };
  const Case cases[] = {
      {12.5f, "12.5"},
      {0.05f, ".05"},
      {-0.05f, "-.05"},
      {400.0f, "400"},
      {1E-3f, ".001"},
      {-3.14f, "-3.14"},
      {0.0f, "0"},
      {-0.0f, "0"},
      {1.0f / 3.0f, ".3333333"},
      {2.0f / 3.0f, ".6666667"},
      {123.456789f, "123.4568"},
      {1234567.0f, "1234567"},
      // The Single nearest 0.3 is 0.30000001...: the eighth digit never shows.
      {0.1f + 0.2f, ".3"},
      {2.675f, "2.675"},
      {99.99999f, "99.99999"},
      {-1999999.9f, "-2000000"},
      // Where an exponent would be needed, fixed notation is written.
      {12345678.0f, "12345680"},
      {-2.5E8f, "-250000000"},
      {1E30f, "1" + std::string(30, '0')},
      {1E-10f, "." + std::string(9, '0') + "1"},
      {-1.5E-7f, "-.00000015"},
      {FLT_MAX, "3402823" + std::string(32, '0')},
      {std::numeric_limits<float>::denorm_min(), "." + std::string(44, '0') + "1401298"},
      // Values that are not finite give zero.
      {kInf, "0"},
      {-kInf, "0"},
      {kNan, "0"}};
  for (const Case& c : cases) EXPECT_EQ(PlainNumber(c.value), c.text) << c.text;
}

TEST(StrTest, LeadingBlankForZeroAndAbove) {
  EXPECT_EQ(Str(0.5f), " .5");
  EXPECT_EQ(Str(-0.5f), "-.5");
  EXPECT_EQ(Str(-0.0f), " 0");
  EXPECT_EQ(Str(kNan), " 0");
  EXPECT_EQ(Str(452L), " 452");
  EXPECT_EQ(Str(-7L), "-7");
  EXPECT_EQ(Str(0L), " 0");
}

TEST(ValTest, LeadingNumberOfAReply) {
  struct Case {
    std::string text;
    double value;
  };
  const Case cases[] = {{"1E-3", 0.001},
                        {"  452", 452},
                        {"12abc", 12},
                        {".5", 0.5},
                        {"-.05", -0.05},
                        {"+7", 7},
                        {"3.5e2V", 350},
                        {"12E3", 12000},
                        {"2E01", 20},
                        {"0.3\r\n", 0.3},
                        {" \t 12", 12},
                        {"12 34", 12},
                        {"1.5.3", 1.5},
                        {"5.", 5},
                        {"-4.01E+1", -40.1},
                        // No number at all.
                        {"", 0},
                        {"abc", 0},
                        {"   ", 0},
                        {".", 0},
                        {"-", 0},
                        {"+.E5", 0},
                        {"E5", 0},
                        {"0.000", 0},
                        // An exponent needs digits.
                        {"1E", 1},
                        {"1E+", 1},
                        {"2e-x", 2},
                        {"3Ex", 3},
                        // Out of range is clamped to the range of a Single; within it nothing is,
                        // and long digit strings are read whole.
                        {"1e999", FLT_MAX},
                        {"-1e999", -FLT_MAX},
                        {"1e39", FLT_MAX},
                        {"1" + std::string(400, '0'), FLT_MAX},
                        {"1e99999999999999999999", FLT_MAX},
                        {"1e-999", 0},
                        {"." + std::string(80, '0') + "1", 0},
                        {"0.00000001e-99999999999", 0},
                        // Far below the range (10^-61 and less) the reply is not parsed at all.
                        {".01e-60", 0},
                        {"3.4e38", 3.4e38},
                        {std::string(300, '0') + "25e-1", 2.5},
                        {"0." + std::string(50, '0') + "1e52", 10}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(Val(c.text), c.value) << '"' << c.text << '"';
  EXPECT_FALSE(std::signbit(Val("-0")));
  EXPECT_TRUE(std::isfinite(static_cast<float>(Val("3.4028236e38"))));
}

}  // namespace
}  // namespace kc
