// The full-screen window drawn as text: the caption and hint, the intro panel,
// the instrument's front panel (message lines over the acquired waveform, the
// bezel buttons under their labels, the bench and the main settings), the
// mirror of a real instrument's message lines, and the modal message boxes.
//
// Everything here is a pure function from what the window shows to a grid of
// character cells, so the layout can be checked without a terminal; the
// curses platform only copies the grid to the screen and maps mouse positions
// back through the layout.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace kc {

class SimScope;
class SourceBench;

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
  kGraticule,
  kTrace1,
  kTrace2,
  kTrace3,  // ADD
  kButton,
  kButtonPressed,
  kIndicatorOn,
  kIndicatorOff,
  kStatus,
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
// characters as \xNN, bytes that are not UTF-8 and characters that may not
// take exactly one column as "?".
std::string CleanText(std::string_view text);
// Characters (columns) of a cleaned UTF-8 text.
int TextWidth(std::string_view text);
// The first `width` characters of a UTF-8 text.
std::string FitText(std::string_view text, int width);

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

// ---------------------------------------------------------------------------
// The simulated bench and the instrument's settings.

// A signal at one of the instrument's inputs, as the panel draws it: a
// square wave between `low` and `high` spending `duty` of each period high, a
// sine wave between the two peaks, or a flat level at `low`.
struct InputSignal {
  enum class Shape { kNone, kFlat, kSquare, kSine };
  Shape shape = Shape::kNone;  // kNone: nothing connected
  std::string source;          // what is connected ("calibrator", "PG 506", ...)
  double low = 0;              // volts
  double high = 0;             // volts
  double frequency = 0;        // Hz
  double duty = 0.5;
  bool operator==(const InputSignal&) const = default;
};

// What the bench has connected to CH1, CH2, EXT1 and EXT2.
struct BenchStatus {
  std::array<InputSignal, 4> inputs;
  bool operator==(const BenchStatus&) const = default;
};
inline constexpr std::array<const char*, 4> kInputNames = {"CH1", "CH2", "EXT1", "EXT2"};

// Volts of a signal at time `t` seconds.
double SignalVolts(const InputSignal& signal, double t);

// What the simulated bench has connected: each input's source (the sine
// generator by its name, attenuator and terminator noted) and its signal.
BenchStatus DescribeBench(const SourceBench& bench);

// A waveform as the instrument acquired it: a record of digitizer levels (25
// per division around the centre line), 100 points per division, of which the
// screen shows the middle 1000 points.
struct AcquiredTrace {
  int trace = 0;  // 0 CH1, 1 CH2, 2 ADD
  std::vector<double> levels;
  bool operator==(const AcquiredTrace&) const = default;
};

struct ChannelSettings {
  bool shown = false;
  double volts_per_div = 0.1;
  double position = 0;  // divisions above the centre line
  std::string coupling = "DC";
  bool inverted = false;
  bool operator==(const ChannelSettings&) const = default;
};

// The instrument's main settings as its front panel would show them.
struct InstrumentSettings {
  std::array<ChannelSettings, 2> channels;
  bool add_shown = false;
  double sec_per_div = 1e-3;
  std::string trigger_mode = "AUTO";
  std::string trigger_source = "VERTICAL";
  std::string trigger_slope = "PLUS";
  double trigger_level = 0;
  std::string acquire_mode = "NORMAL";
  bool operator==(const InstrumentSettings&) const = default;
};

// Reads the settings from the simulated instrument; values it cannot read
// keep their defaults.
InstrumentSettings ReadSettings(const SimScope& scope);

// A value in engineering notation with its unit: 0.1 and "V" give "100 mV",
// 5e-6 and "s" give "5 µs", 1000 and "Hz" give "1 kHz". At most three
// significant digits.
std::string EngineeringText(double value, const std::string& unit);
// "Bench   CH1: calibrator 400 mVp-p square 1 kHz   CH2, EXT1, EXT2 open"
std::string BenchLine(const BenchStatus& bench);
// "CH1 100 mV/div DC   CH2 off   A 1 ms/div   Trig VERT ↑ 0 V AUTO   Acq NORMAL"
std::string SettingsLine(const InstrumentSettings& settings);

// ---------------------------------------------------------------------------
// The window.

inline constexpr int kScreenRows = 16;
inline constexpr int kScreenColumns = 40;
inline constexpr int kBezelButtons = 5;
inline constexpr int kLabelWidth = 8;  // characters of a bezel label column
// The smallest terminal the window fits in.
inline constexpr int kMinColumns = 60;
inline constexpr int kMinRows = 26;

// The instrument side of the window.
struct PanelView {
  enum class Kind {
    kNone,       // nothing to show yet
    kSimulated,  // the simulated instrument's front panel
    kMirror,     // the message lines written to a real instrument
  };
  Kind kind = Kind::kNone;
  std::string model;
  // Message lines as shown (glyphs rendered), index 0 is line 1.
  std::vector<std::string> lines;
  bool bell_flash = false;
  // The button shown pressed: 1..5 a bezel button, 6 MENU OFF, 0 none.
  int pressed = 0;
  bool cable_plugged = true;
  bool service_request = false;
  InstrumentSettings settings;
  BenchStatus bench;
  // The traces the instrument acquired; without them the screen shows what
  // the settings make of the bench's signals.
  std::optional<std::vector<AcquiredTrace>> acquired;
};

struct DialogView {
  std::string title;
  std::string prompt;
  MsgIcon icon = MsgIcon::kInformation;
  MsgButtons buttons = MsgButtons::kOk;
  MsgAnswer selected = MsgAnswer::kOk;
};

struct WindowView {
  std::string caption;
  std::string hint;
  std::optional<std::string> intro;
  PanelView panel;
  std::optional<DialogView> dialog;
  // A note in place of the key help (the closing notice).
  std::string note;
};

// What a position of the window is, for the mouse.
enum class Target { kNone, kClose, kBezel, kMenuOff, kIntro, kDialogOk, kDialogCancel };
struct Hit {
  Target target = Target::kNone;
  int button = 0;  // 1..5 for kBezel
};

// Where things were drawn.
struct Layout {
  bool too_small = false;
  Rect close;
  Rect screen;                              // the 16 message lines
  std::array<Rect, kBezelButtons> bezel{};  // each button with its label column
  Rect menu_off;
  Rect intro;
  Rect dialog;
  Rect ok;
  Rect cancel;

  Hit HitTest(int row, int col, bool intro_shown, bool dialog_shown) const;
};

// Draws the whole window into `canvas` (which has the terminal's size).
Layout DrawWindow(const WindowView& view, Canvas& canvas);

// Draws the message lines (line 16 on the top row) over the waveform and the
// graticule into the 16 x 40 area at `screen`.
void DrawScreen(const PanelView& panel, Canvas& canvas, const Rect& screen);

// Waveforms on a grid of 80 x 64 braille dots over the 10 x 8 divisions: one
// bit per dot and trace (bit 0 CH1, bit 1 CH2, bit 2 ADD), row 0 at the top.
using DotGrid = std::array<std::array<std::uint8_t, 80>, 64>;
// The displayed channels as the settings make them of the bench's signals,
// the trigger point two divisions from the left.
DotGrid TraceDots(const InstrumentSettings& settings, const BenchStatus& bench);
// Acquired records drawn across the screen.
DotGrid AcquiredDots(const std::vector<AcquiredTrace>& traces);
// The braille character with the dots of a 2 x 4 block set (bit order of
// the braille patterns: x, y -> bit).
std::string BrailleGlyph(const std::array<std::array<bool, 4>, 2>& dots);

// The lines of a prompt at its line breaks, each line wrapped at `width`.
std::vector<std::string> WrapPrompt(const std::string& prompt, int width);

}  // namespace kc
