// The instrument's screen in the window: its 16 message lines (line 16 on
// the top row) over the graticule and the acquired waveforms, drawn in
// braille dots, 2 x 4 to a character cell.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/checkout/tui/canvas.h"

namespace kc {

inline constexpr int kScreenRows = 16;
inline constexpr int kScreenColumns = 40;

// A waveform as the instrument acquired it: a record of digitizer levels (25
// per division around the centre line), 100 points per division, of which the
// screen shows the middle 1000 points.
struct AcquiredTrace {
  int trace = 0;  // 0 CH1, 1 CH2, 2 ADD
  std::vector<double> levels;
  bool operator==(const AcquiredTrace&) const = default;
};

// Waveforms on a grid of 80 x 64 braille dots over the 10 x 8 divisions: one
// bit per dot and trace (bit 0 CH1, bit 1 CH2, bit 2 ADD), row 0 at the top.
using DotGrid = std::array<std::array<std::uint8_t, 80>, 64>;
// Acquired records drawn across the screen.
DotGrid AcquiredDots(const std::vector<AcquiredTrace>& traces);
// The braille character with the dots of a 2 x 4 block set (bit order of
// the braille patterns: x, y -> bit).
std::string BrailleGlyph(const std::array<std::array<bool, 4>, 2>& dots);

// Draws the message lines (rendered glyphs; index 0 is line 1) into the
// 16 x 40 area at `screen`: over the graticule and `traces` when there are
// traces (the simulated instrument; possibly none acquired), alone when
// `traces` is null (a real instrument's lines as written). A failed verdict
// (the small-letter "fail") and "PASS" get looks of their own.
void DrawScreen(const std::vector<std::string>& lines, const std::vector<AcquiredTrace>* traces,
                Canvas& canvas, const Rect& screen);

}  // namespace kc
