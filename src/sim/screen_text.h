// Readable rendering of the oscilloscope's message-line texts: the backslash
// escapes that select instrument glyphs become UTF-8 characters.
#pragma once

#include <string>

namespace kc {

// Renders one message-line text as sent to the instrument (escapes included,
// without the enclosing double quotes). Glyphs:
//   \;  m (milli)            \<S µs    \=S ns    \<  µ    \=  n
//   \4  k (kilo)             \&  z (so \4H\& is kHz and MH\& is MHz)
//   \J  Ω                    \>  p (so \>F is pF)
//   \M  █ (bar block)        \0  ─ (rule)      \_  ↓    \^  ↑
//   \?  / (per, as in volt/div)
//   \$  a blank: the spacer glyph that stands where a unit prefix would be
//       (1\$V reads 1 V, lined up with 2\;V above it)
//   \ followed by a lower-case letter: that letter (the small-letter font).
// Any other escape shows the character after the backslash; a backslash at
// the very end of the text is shown as it is.
std::string RenderScreenText(const std::string& text);

}  // namespace kc
