#include "app/checkout/tui/screen.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>

namespace kc {

namespace {

// Braille dots of the screen.
constexpr int kDotsAcross = kScreenColumns * 2;
constexpr int kDotsHigh = kScreenRows * 4;
constexpr int kDivisionsHigh = 8;
// Acquired records: digitizer levels per division, and the points the screen
// shows.
constexpr double kLevelsPerDivision = 25;
constexpr std::size_t kShownPoints = 1000;

double DotRow(double divisions) {
  return (kDivisionsHigh / 2.0 - divisions) * (static_cast<double>(kDotsHigh) / kDivisionsHigh);
}

// Lights the dots of column `x` from `low` to `high` divisions (either way
// round) for trace `bit`; what lies off the screen is left out.
void MarkSpan(DotGrid& grid, int x, double low, double high, int bit) {
  double top = DotRow(std::max(low, high));
  double bottom = DotRow(std::min(low, high));
  if (!std::isfinite(top) || !std::isfinite(bottom)) return;
  if (bottom < 0 || top >= kDotsHigh) return;
  int first = std::max(0, static_cast<int>(std::floor(top)));
  int last = std::min(kDotsHigh - 1, static_cast<int>(std::floor(bottom)));
  for (int r = first; r <= last; ++r)
    grid[static_cast<std::size_t>(r)][static_cast<std::size_t>(x)] |=
        static_cast<std::uint8_t>(1u << bit);
}

bool Graticule(int x, int y) {
  bool division_x = x % 8 == 0 || x == kDotsAcross - 1;
  bool division_y = y % 8 == 0 || y == kDotsHigh - 1;
  bool centre_x = x == kDotsAcross / 2 && y % 2 == 0;
  bool centre_y = y == kDotsHigh / 2 && x % 2 == 0;
  return (division_x && division_y) || centre_x || centre_y;
}

void DrawTraces(const std::vector<AcquiredTrace>& traces, Canvas& canvas, const Rect& screen) {
  DotGrid dots = AcquiredDots(traces);
  for (int r = 0; r < kScreenRows; ++r) {
    for (int c = 0; c < kScreenColumns; ++c) {
      std::array<std::array<bool, 4>, 2> on{};
      unsigned lit_traces = 0;
      bool any = false;
      for (int dx = 0; dx < 2; ++dx) {
        for (int dy = 0; dy < 4; ++dy) {
          int x = c * 2 + dx;
          int y = r * 4 + dy;
          unsigned bits = dots[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
          lit_traces |= bits;
          bool lit = bits != 0 || Graticule(x, y);
          on[static_cast<std::size_t>(dx)][static_cast<std::size_t>(dy)] = lit;
          any = any || lit;
        }
      }
      if (!any) continue;
      Style style = (lit_traces & 1u) != 0   ? Style::kTrace1
                    : (lit_traces & 2u) != 0 ? Style::kTrace2
                    : (lit_traces & 4u) != 0 ? Style::kTrace3
                                             : Style::kGraticule;
      canvas.Put(screen.row + r, screen.col + c, BrailleGlyph(on), style);
    }
  }
}

// The look of each character of a line: the verdict words stand out.
std::vector<Style> LineStyles(const std::vector<std::string>& chars) {
  std::vector<Style> styles(chars.size(), Style::kScreenText);
  auto letter = [&chars](std::size_t i) {
    return chars[i].size() == 1 && std::isalpha(static_cast<unsigned char>(chars[i][0])) != 0;
  };
  for (const auto& [word, style] : {std::pair{"fail", Style::kFail}, {"PASS", Style::kPass}}) {
    std::size_t length = std::char_traits<char>::length(word);
    for (std::size_t at = 0; at + length <= chars.size(); ++at) {
      bool match =
          (at == 0 || !letter(at - 1)) && (at + length == chars.size() || !letter(at + length));
      for (std::size_t k = 0; match && k < length; ++k)
        match = chars[at + k] == std::string(1, word[k]);
      if (match) std::fill_n(styles.begin() + static_cast<std::ptrdiff_t>(at), length, style);
    }
  }
  return styles;
}

}  // namespace

DotGrid AcquiredDots(const std::vector<AcquiredTrace>& traces) {
  DotGrid grid{};
  for (const AcquiredTrace& trace : traces) {
    if (trace.trace < 0 || trace.trace > 2 || trace.levels.empty()) continue;
    std::size_t count = trace.levels.size();
    std::size_t shown = std::min(count, kShownPoints);
    std::size_t start = (count - shown) / 2;
    auto divisions = [&trace](std::size_t i) { return trace.levels[i] / kLevelsPerDivision; };
    std::optional<double> previous;
    for (int x = 0; x < kDotsAcross; ++x) {
      std::size_t from = start + shown * static_cast<std::size_t>(x) / kDotsAcross;
      std::size_t to = start + shown * static_cast<std::size_t>(x + 1) / kDotsAcross;
      to = std::max(to, from + 1);
      // From where the previous column ended, so that steep edges join up.
      std::optional<double> low = previous;
      std::optional<double> high = previous;
      for (std::size_t i = from; i < to && i < count; ++i) {
        double y = divisions(i);
        if (!std::isfinite(y)) continue;
        low = std::min(low.value_or(y), y);
        high = std::max(high.value_or(y), y);
        previous = y;
      }
      if (low && high) MarkSpan(grid, x, *low, *high, trace.trace);
    }
  }
  return grid;
}

std::string BrailleGlyph(const std::array<std::array<bool, 4>, 2>& dots) {
  static constexpr unsigned kBits[2][4] = {{0x01, 0x02, 0x04, 0x40}, {0x08, 0x10, 0x20, 0x80}};
  unsigned bits = 0;
  for (int x = 0; x < 2; ++x) {
    for (int y = 0; y < 4; ++y) {
      if (dots[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)]) bits |= kBits[x][y];
    }
  }
  // U+2800 + bits in UTF-8: E2, A0 + the top two bits, 80 + the low six.
  std::string glyph = "\xE2";
  glyph += static_cast<char>(0xA0 | (bits >> 6));
  glyph += static_cast<char>(0x80 | (bits & 0x3F));
  return glyph;
}

void DrawScreen(const std::vector<std::string>& lines, const std::vector<AcquiredTrace>* traces,
                Canvas& canvas, const Rect& screen) {
  canvas.Fill(screen, Style::kScreen);
  if (traces != nullptr) DrawTraces(*traces, canvas, screen);
  // Line 16 on the top row, line 1 at the bottom beside the bezel buttons. The
  // blanks that position a text leave the trace visible; those between its
  // words do not, so that the words stay readable.
  for (int r = 0; r < kScreenRows; ++r) {
    std::size_t index = static_cast<std::size_t>(kScreenRows - 1 - r);
    if (index >= lines.size()) continue;
    std::vector<std::string> chars = Characters(CleanText(lines[index]));
    std::vector<Style> styles = LineStyles(chars);
    int shown = std::min(kScreenColumns, static_cast<int>(chars.size()));
    auto blank = [&chars](int c) {
      const std::string& glyph = chars[static_cast<std::size_t>(c)];
      return glyph == " " || glyph == "\n";
    };
    int first = 0;
    while (first < shown && blank(first)) ++first;
    int last = shown - 1;
    while (last >= first && blank(last)) --last;
    for (int c = first; c <= last; ++c) {
      std::size_t i = static_cast<std::size_t>(c);
      canvas.at(screen.row + r, screen.col + c) = Cell{blank(c) ? " " : chars[i], styles[i]};
    }
  }
}

}  // namespace kc
