// A grid of character cells with a look for each, and the text helpers that
// fill it: the window is drawn into one and copied to the terminal, so every
// layout can be checked without a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kc {

// How a cell is drawn; the curses platform maps these to colours and
// attributes.
enum class Style : std::uint8_t {
  kNormal,
  kCaption,
  kCaptionClose,
  kHint,
  kFrame,
  kFrameFlash,
  kFrameTitle,
  kScreen,      // the screen's background
  kScreenText,  // message-line characters
  kFail,        // a failed verdict on the screen
  kPass,        // a passed one
  kGraticule,
  kTrace1,
  kTrace2,
  kTrace3,  // ADD
  kButton,
  kButtonPressed,
  kIndicatorOn,
  kIndicatorOff,
  kStatus,
  kActivity,  // what the program is doing by itself
  kHelp,
  kWarning,
  kIntro,
  kDialog,
  kDialogTitle,
  kDialogButton,
  kDialogButtonSelected,
  kIconCritical,
  kIconExclamation,
  kIconInformation,
};

struct Cell {
  std::string glyph = " ";  // one character, UTF-8
  Style style = Style::kNormal;
};

struct Rect {
  int row = 0;
  int col = 0;
  int height = 0;
  int width = 0;
  bool Contains(int r, int c) const {
    return r >= row && r < row + height && c >= col && c < col + width;
  }
  bool empty() const { return height <= 0 || width <= 0; }
};

// A text made safe for a cell grid: line breaks kept, other control
// characters as \xNN, bytes that are not UTF-8 and characters that do not
// take exactly one column as "?".
std::string CleanText(std::string_view text);
// Characters (columns) of a cleaned UTF-8 text.
int TextWidth(std::string_view text);
// The first `width` characters of a UTF-8 text.
std::string FitText(std::string_view text, int width);
// The characters of a cleaned text, one string each.
std::vector<std::string> Characters(std::string_view text);
std::string TrimRight(std::string text);
// The text with blanks before it that centre it in `width` columns.
std::string Centered(const std::string& text, int width);
// The lines of a prompt at its line breaks, each line wrapped at `width`.
std::vector<std::string> WrapPrompt(const std::string& prompt, int width);

class Canvas {
 public:
  Canvas(int width, int height);

  int width() const { return width_; }
  int height() const { return height_; }
  const Cell& at(int row, int col) const;
  Cell& at(int row, int col);

  // Writes a cleaned one-line text from (row, col), one character per cell,
  // at most `max_width` characters, those off the canvas left out; the
  // columns the text takes.
  int Put(int row, int col, std::string_view text, Style style, int max_width = 1 << 20);
  void Fill(const Rect& area, Style style);
  // A single-line box around `area` (the border is part of it).
  void Frame(const Rect& area, Style style);

  // The characters of a row, trailing blanks removed.
  std::string Row(int row) const;
  std::vector<std::string> Rows() const;

 private:
  int width_;
  int height_;
  std::vector<Cell> cells_;
};

}  // namespace kc
