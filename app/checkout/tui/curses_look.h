// How the window's looks (canvas styles) appear on a curses screen: colour
// pairs where the terminal has colours, attributes where it has not, and
// plain ASCII stand-ins for terminals without UTF-8.
#pragma once

#include <string>

#include "app/checkout/tui/canvas.h"

namespace kc {

// Sets up the colour pairs (after start_color()).
void InitLooks();
// Draws what follows in the look of `style`.
void UseLook(Style style, bool colours);
// A stand-in from plain ASCII for a character a terminal without UTF-8
// cannot show.
char AsciiFor(const std::string& glyph, Style style);

}  // namespace kc
