// The full-screen window drawn as text: the caption and hint, the intro
// panel, the instrument's front panel (message lines over the acquired
// waveform, the bezel buttons under their labels, the status lines under it),
// the mirror of a real instrument's message lines, and the modal message
// boxes.
//
// A pure function from what the window shows to a canvas of the terminal's
// size, so the layout can be checked without a terminal; the curses platform
// copies the canvas to the screen and maps mouse positions back through the
// layout.
//
// The window needs 60 x 22 cells: the caption, the hint, the panel and the
// key help. Rows beyond that go, in this order, to what the program is doing
// by itself (or the MENU OFF notice), the bench line, the settings line and a
// blank under the hint; the rest is shared above and below.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/checkout/tui/canvas.h"
#include "app/checkout/tui/panel_readout.h"
#include "app/checkout/tui/record_views.h"
#include "app/checkout/tui/screen.h"
#include "platform/platform.h"

namespace kc {

inline constexpr int kBezelButtons = 5;
inline constexpr int kLabelWidth = 8;  // characters of a bezel label column
// The smallest terminal the window fits in.
inline constexpr int kMinColumns = 60;
inline constexpr int kMinRows = 22;

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
  // The traces the instrument acquired (none without a measurement model).
  std::optional<std::vector<AcquiredTrace>> acquired;
  // What the program or the instrument is doing by itself, with the seconds
  // so far ("" when it waits for the technician or works only briefly).
  std::string activity;
  // MENU OFF was pressed once: a second press leaves.
  bool menu_off_once = false;
};

struct DialogView {
  std::string title;
  std::string prompt;
  MsgIcon icon = MsgIcon::kInformation;
  MsgButtons buttons = MsgButtons::kOk;
  MsgAnswer selected = MsgAnswer::kOk;
  // Why the box is shown, when the bus knows more than its text says (drawn
  // under the prompt; the title and text stay as they are).
  std::string detail;
};

struct WindowView {
  std::string caption;
  std::string hint;
  std::optional<std::string> intro;
  PanelView panel;
  std::optional<DialogView> dialog;
  // A note in place of the key help (the closing notice, an adapter's fault).
  std::string note;
  // The form before the intro that asks for the run's serial number and
  // technician.
  std::optional<IdentityForm> identity;
  // The run's results so far, over the panel; `results_key`: R opens them.
  std::optional<ResultsView> results;
  bool results_key = false;
  // The file the run's record was last saved to (a status line under the
  // panel; empty for none).
  std::string record_saved;
};

// The window's own notice after the first MENU OFF (never sent to the
// instrument).
inline constexpr const char* kMenuOffOnce = "MENU OFF once: press MENU OFF again to leave";

// What a position of the window is, for the mouse.
enum class Target {
  kNone,
  kClose,
  kBezel,
  kMenuOff,
  kIntro,
  kDialogOk,
  kDialogCancel,
  kDialogChoice,
};
struct Hit {
  Target target = Target::kNone;
  int button = 0;  // 1..5 for kBezel; for kDialogChoice the dialog's button from 1
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
  Rect identity;
  Rect results;
  int results_page = 1;       // lines of the results in view
  std::vector<Rect> choices;  // every dialog button, as BoxAnswers orders them

  Hit HitTest(int row, int col, bool intro_shown, bool dialog_shown) const;
};

// Draws the whole window into `canvas` (which has the terminal's size).
Layout DrawWindow(const WindowView& view, Canvas& canvas);

}  // namespace kc
