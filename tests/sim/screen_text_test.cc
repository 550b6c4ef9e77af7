#include "sim/screen_text.h"

#include <gtest/gtest.h>

namespace kc {
namespace {

TEST(RenderScreenText, UnitGlyphsOfThePrompts) {
  EXPECT_EQ(RenderScreenText("CONNECT PG 506, HI AMP, 1 \\4H\\&, TO CH1"),
            "CONNECT PG 506, HI AMP, 1 kHz, TO CH1");
  EXPECT_EQ(RenderScreenText("CHANGE THE FREQUENCY TO 300 MH\\&"),
            "CHANGE THE FREQUENCY TO 300 MHz");
  EXPECT_EQ(RenderScreenText("THRU A 50\\J X5 ATT+TERM+15\\>F NORMALIZER"),
            "THRU A 50Ω X5 ATT+TERM+15pF NORMALIZER");
  EXPECT_EQ(RenderScreenText("CONNECT PG 506, 500\\;V STANDARD AMPLITUDE"),
            "CONNECT PG 506, 500mV STANDARD AMPLITUDE");
  EXPECT_EQ(RenderScreenText("CHANGE TIMEMARKERS TO 100 \\<S"), "CHANGE TIMEMARKERS TO 100 µs");
  EXPECT_EQ(RenderScreenText("CHANGE TIMEMARKERS TO 10 \\=S"), "CHANGE TIMEMARKERS TO 10 ns");
  EXPECT_EQ(RenderScreenText("    2\\;V     1\\$V "), "    2mV     1 V ");
}

TEST(RenderScreenText, SmallLettersGraphicsAndUnknownEscapes) {
  EXPECT_EQ(RenderScreenText("\\c\\a\\l\\b\\r\\a\\t\\o\\r\\0\\s\\i\\g\\n\\a\\l  \\f\\a\\i\\l"),
            "calbrator─signal  fail");
  EXPECT_EQ(RenderScreenText("PLEASE WAIT \\M\\M  \\M"), "PLEASE WAIT ██  █");
  EXPECT_EQ(RenderScreenText("    \\_       \\^   CONTINUE"), "    ↓       ↑   CONTINUE");
  EXPECT_EQ(RenderScreenText("\\v\\o\\l\\t\\?\\d\\i\\v   \\c\\h\\A"), "volt/div   chA");
  // Anything else shows the character after the backslash.
  EXPECT_EQ(RenderScreenText("\\t\\    \\m"), "t    m");
  EXPECT_EQ(RenderScreenText("a\\%b\\\\c"), "a%b\\c");
  // A lone backslash at the end stays.
  EXPECT_EQ(RenderScreenText("end\\"), "end\\");
  EXPECT_EQ(RenderScreenText(""), "");
}

}  // namespace
}  // namespace kc
