// Result numbers in their columns (NrToStr) and the steps of the bar graph.
#include "display/result_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "support/check_harness.h"

namespace kc {
namespace {

std::string Blanks(int count) {
  return std::string(static_cast<std::size_t>(count), ' ');
}

TEST(NrToStrTest, TextAndTheCallersVariables) {
  struct Case {
    Single value;
    Single format;
    std::string text;
    Single after;  // the caller's value afterwards
  };
  const Single inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {{12.5f, 6.2f, Blanks(4) + "12.50", 12.5f},
                        {0.5f, 5.1f, Blanks(4) + "0.5", 0.5f},
                        {-0.5f, 5.1f, Blanks(3) + "-0.5", 0.5f},
                        {400.25f, 3.1f, "400.3", 400.3f},
                        {396.04f, 3.1f, "396.0", 396.0f},
                        {0.0523f, 1.3f, "0.052", 0.052f},
                        {0.05f, 1.3f, "0.050", 0.05f},
                        {12.0f, 2.1f, "12.0", 12.0f},
                        {3.14159f, -4.2f, Blanks(3) + "3.14", 3.14f},
                        {-3.14159f, 4.2f, Blanks(2) + "-3.14", 3.14f},
                        {7.26f, 7.0f, Blanks(6) + "7", 7.0f},
                        // Does not fit: the plain text of the value as passed.
                        {123.4f, 2.1f, "123.4", 123.4f},
                        {-12.5f, 2.1f, "-12.5", 12.5f},
                        {99.96f, 2.1f, "99.96", 100.0f},
                        // Zero, and the sign kept when a negative value rounds to it.
                        {0.0f, 3.1f, "  0.0", 0.0f},
                        {0.04f, 2.1f, " 0.0", 0.0f},
                        {-0.04f, 2.1f, "-0.0", 0.0f},
                        // Half up on the stored Single (2.675 lies just below); a negative
                        // format truncates.
                        {2.675f, 1.2f, "2.67", 2.67f},
                        {-2.25f, -3.1f, " -2.2", 2.2f},
                        {3.999f, -1.2f, "3.99", 3.99f},
                        {0.008f, 1.3f, "0.008", 0.008f},
                        {16.0f, 1.3f, "16", 16.0f},
                        {8.0f, 1.3f, "8.000", 8.0f},
                        {-100.0f, 6.1f, Blanks(2) + "-100.0", 100.0f},
                        {404.00003f, 3.1f, "404.0", 404.0f},
                        // Format 0: the plain text and a whole value.
                        {12.6f, 0, "12.6", 13.0f},
                        {-3.2f, 0, "-3.2", 3.0f},
                        // Values that are not finite are shown as 0; huge ones in digits.
                        {inf, 3.1f, "  0.0", 0.0f},
                        {-inf, 3.1f, "  0.0", 0.0f},
                        {std::numeric_limits<float>::quiet_NaN(), 3.1f, "  0.0", 0.0f},
                        {1E30f, 3.1f, "1" + std::string(30, '0'), 1E30f},
                        {-FLT_MAX, 6.1f, "-3402823" + std::string(32, '0'), FLT_MAX},
                        {FLT_MAX, 1.96f, "3402823" + std::string(32, '0'), FLT_MAX},
                        // Widths beyond any screen are cut.
                        {5, 254.1f, Blanks(253) + "5.0", 5},
                        {5, 1000, Blanks(254) + "5", 5},
                        {5, -inf, Blanks(254) + "5", 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Single value = c.value;
    Single format = c.format;
    EXPECT_EQ(NrToStr(value, format), c.text);
    EXPECT_EQ(value, c.after);
    if (std::isfinite(c.format)) {
      EXPECT_EQ(format, std::fabs(c.format));
    }
  }
  Single value = 0.25f;
  Single format = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(NrToStr(value, format), ".25");
  EXPECT_EQ(format, 0.0f);
}

TEST(BarGraphCommandTest, EveryStepOfTheBar) {
  struct Case {
    Integer steps;
    Integer indent;
    const char* text;
  };
  for (const Case& c :
       {Case{5, 12, "PLEASE WAIT "}, Case{10, 9, "PLEASE WAIT "}, Case{2, 0, "W"}}) {
    const Stream bar = Bar(c.steps, c.indent, c.text);
    for (int step = 1; step <= c.steps; ++step) {
      EXPECT_EQ(BarGraphCommand(c.steps, c.indent, 16, c.text, step),
                bar[static_cast<std::size_t>(step - 1)]);
    }
  }
  // The line number is signed text; a negative indent counts as none.
  EXPECT_EQ(BarGraphCommand(1, 0, 3, "X", 1), "MESS 3:\"X\\M\"");
  EXPECT_EQ(BarGraphCommand(2, -4, 16, "W", 1), "MESS 16:\"W \\M\"");
}

}  // namespace
}  // namespace kc
