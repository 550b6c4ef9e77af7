// Result texts for the instrument screen: fixed-width numbers, verdicts and the
// steps of the progress bar. Text only: the main window writes them.
#pragma once

#include <string>

#include "platform/types.h"

namespace kc {

// Fixed-width number text; `value` becomes the rounded (or truncated) magnitude
// and `format` its absolute value. The format W.D gives the width W of the
// whole part (sign included) and D decimals; a positive format rounds half up,
// a negative one truncates; a value that does not fit gives its plain number
// text. Outside the range the checks use:
// - a format of 0 (or not a number) is width 0, no decimals, rounding: the
//   result is always the plain number text of the value and the value becomes
//   its magnitude rounded to a whole number;
// - widths above 255 are cut to 255 with no decimals;
// - a value that is not finite is formatted as 0 (and becomes 0); huge values
//   give long digit strings, never an exponent.
std::string NrToStr(Single& value, Single& format);
// "PASS" for a margin of 0 or below, "\f\a\i\l" above.
std::string PassFail(Single margin);
// The screen command of step `step` (1 to `steps`) of the "PLEASE WAIT" bar on
// screen line `line`, `indent` blanks in (none when negative): `text`, the
// step - 1 glyphs done so far, blanks, and a closing glyph in column `steps`
// after the text; the last step shows `steps` glyphs.
std::string BarGraphCommand(Integer steps, Integer indent, Integer line, const std::string& text,
                            int step);

}  // namespace kc
