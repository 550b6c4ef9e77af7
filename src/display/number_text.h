// Number texts as the instrument screen and the commands want them.
#pragma once

#include <string>

#include "platform/types.h"

namespace kc {

// Plain number text of a Single: at most 7 significant digits, no trailing
// zeros, no point for whole numbers, no zero before the point (.5, -.05), "-"
// for negative values, no blank. Magnitudes that would need an exponent are
// written in fixed notation all the same (never an exponent, never inf/nan:
// a value that is not finite gives "0").
std::string PlainNumber(Single value);
// Plain text of a whole number.
std::string PlainNumber(long value);
// Signed number text: the plain text with one leading blank for values of 0
// and above ("Str" in the procedures).
std::string Str(Single value);
std::string Str(long value);
inline std::string Str(int value) {
  return Str(static_cast<long>(value));
}
// Plain text of a whole number: channel and line numbers put into commands.
inline std::string Whole(long value) {
  return PlainNumber(value);
}
// The Single nearest to `value`, kept inside the finite range (a value beyond
// it becomes the largest Single of its sign; NaN stays NaN).
Single ToSingle(double value);
// The numeric value of a reply: leading blanks skipped, sign, decimal point
// and exponent accepted; 0 when there is no number ("Val"). The number ends at
// the first character that cannot continue it ("12abc" is 12; an "E" without
// exponent digits is not part of it). Values beyond the range of a Single are
// clamped to the largest Single with their sign (magnitudes below 1E-60 count
// as 0), so the result always fits a Single: never inf, never nan.
double Val(const std::string& text);

}  // namespace kc
