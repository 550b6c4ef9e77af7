// The full-screen window drawn off-screen: where the message lines, the bezel
// buttons, the status lines and the dialogs land at each terminal size, what
// the mouse hits, and the waveform dots.
#include "app/checkout/tui/window.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/checkout/tui/activity.h"
#include "platform/clock.h"
#include "sim/sim_bench.h"
#include "sim/sim_scope.h"

namespace kc {
namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 40;

// The row of the canvas holding `text`, -1 when none does.
int FindRow(const Canvas& canvas, const std::string& text) {
  for (int r = 0; r < canvas.height(); ++r) {
    if (canvas.Row(r).find(text) != std::string::npos) return r;
  }
  return -1;
}

// The column (in characters) at which `text` starts on `row`, -1 when absent.
int FindColumn(const Canvas& canvas, int row, const std::string& text) {
  std::string line = canvas.Row(row);
  std::size_t at = line.find(text);
  return at == std::string::npos ? -1 : TextWidth(line.substr(0, at));
}

WindowView SimulatedWindow() {
  WindowView view;
  view.caption = "Kalventa Checkout, v2.0";
  view.hint = "Use the Bezel Buttons of the 2440 on GPIB address 1";
  view.panel.kind = PanelView::Kind::kSimulated;
  view.panel.lines = std::vector<std::string>(kScreenRows);
  view.panel.lines[1] = "  ATTEN   POS     SAMPL   PAGE    QUIT";
  view.panel.lines[0] = "  COMP   EFFECT   SKEW    TWO";
  return view;
}

TEST(ScreenLinesTest, LineSixteenOnTopClippedVerdictWordsStandOutBlanksShowTheTrace) {
  std::vector<std::string> lines(kScreenRows);
  lines[15] = "TOP";
  lines[9] = "CH1   fail   PASS";
  lines[8] = "failure PASSED fail";  // verdicts are words of their own only
  lines[7] = "    A  B";             // line 8: the top half of the centre line
  lines[0] = "  PRESS ANY BEZEL BUTTON FOR MAIN MENU and then some more text";
  Canvas canvas(kScreenColumns, kScreenRows);
  DrawScreen(lines, nullptr, canvas, {0, 0, kScreenRows, kScreenColumns});
  EXPECT_EQ(canvas.Row(0), "TOP");
  EXPECT_EQ(canvas.Row(15), "  PRESS ANY BEZEL BUTTON FOR MAIN MENU a");
  auto styles = [&canvas](int row) {
    std::string shown;
    for (int c = 0; c < 19; ++c) {
      Style style = canvas.at(row, c).style;
      shown += style == Style::kFail ? 'F' : style == Style::kPass ? 'P' : '.';
    }
    return shown;
  };
  EXPECT_EQ(styles(6), "......FFFF...PPPP..");
  EXPECT_EQ(styles(7), "...............FFFF");
  // A flat CH1 trace on the centre line: blanks between the words are text,
  // before and after them the trace shows.
  std::vector<AcquiredTrace> traces = {{0, std::vector<double>(1024, 0.0)}};
  DrawScreen(lines, &traces, canvas, {0, 0, kScreenRows, kScreenColumns});
  EXPECT_EQ(canvas.at(8, 5).style, Style::kScreenText);
  EXPECT_EQ(canvas.at(8, 1).style, Style::kTrace1);
  EXPECT_EQ(canvas.at(8, 1).glyph, "\u2809");
  EXPECT_EQ(canvas.at(8, 8).style, Style::kTrace1);
}

TEST(FrontPanelTest, BezelButtonsSitUnderTheirLabelsAndTakeTheMouseAtEverySize) {
  for (auto [width, height] : {std::pair{kMinColumns, kMinRows}, {80, 24}, {kWidth, kHeight}}) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    Canvas canvas(width, height);
    Layout layout = DrawWindow(SimulatedWindow(), canvas);
    ASSERT_FALSE(layout.too_small);
    EXPECT_EQ(canvas.Row(0).find(" Kalventa Checkout, v2.0"), 0u);
    EXPECT_NE(canvas.Row(1).find("Use the Bezel Buttons"), std::string::npos);
    int upper = FindRow(canvas, "ATTEN   POS");
    int buttons = FindRow(canvas, "[ 1 ]");
    EXPECT_EQ(upper, layout.screen.row + kScreenRows - 2);
    EXPECT_EQ(buttons, upper + 2);
    EXPECT_LT(buttons, height - 1);
    for (int n = 1; n <= kBezelButtons; ++n) {
      int column = layout.screen.col + (n - 1) * kLabelWidth;
      int button = FindColumn(canvas, buttons, "[ " + std::to_string(n) + " ]");
      EXPECT_GE(button, column);
      EXPECT_LE(button + 5, column + kLabelWidth);
      // A click on the button or on either of its label lines presses it.
      for (int row : {upper, upper + 1, buttons}) {
        Hit hit = layout.HitTest(row, column + 3, false, false);
        EXPECT_EQ(hit.target, Target::kBezel);
        EXPECT_EQ(hit.button, n);
      }
    }
    EXPECT_EQ(layout.HitTest(upper - 1, layout.screen.col + 3, false, false).target, Target::kNone);
    EXPECT_EQ(
        layout.HitTest(buttons, FindColumn(canvas, buttons, "[MENU OFF]") + 4, false, false).target,
        Target::kMenuOff);
    EXPECT_EQ(layout.HitTest(0, width - 3, false, false).target, Target::kClose);
    // The intro takes every click; a dialog only those on its buttons.
    EXPECT_EQ(layout.HitTest(buttons, layout.screen.col + 3, true, false).target, Target::kIntro);
    EXPECT_EQ(layout.HitTest(buttons, layout.screen.col + 3, false, true).target, Target::kNone);
  }
}

TEST(FrontPanelTest, StatusLinesGiveWayWhenRowsAreShortMostUrgentKept) {
  struct Case {
    int height;
    bool busy;
    bool menu_off_once;
    int bench, settings, activity;  // rows under the frame, -1 when not drawn
  };
  const Case cases[] = {
      {22, false, false, -1, -1, -1}, {23, false, false, 0, -1, -1}, {24, false, false, 0, 1, -1},
      {24, true, false, 0, -1, 1},    {23, true, false, -1, -1, 0},  {24, false, true, 0, -1, 1},
      {40, true, false, 0, 1, 2},     {40, false, true, 0, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.height) + (c.busy ? " busy" : "") +
                 (c.menu_off_once ? " M" : ""));
    WindowView view = SimulatedWindow();
    if (c.busy) view.panel.activity = "The program waits \u2026 3 s (no button press needed)";
    view.panel.menu_off_once = c.menu_off_once;
    Canvas canvas(80, c.height);
    int under = DrawWindow(view, canvas).screen.row + kScreenRows + 2;
    auto row_of = [&](const std::string& text) {
      int row = FindRow(canvas, text);
      return row < 0 ? -1 : row - under;
    };
    EXPECT_EQ(row_of("Bench"), c.bench);
    EXPECT_EQ(row_of("Acq NORMAL"), c.settings);
    EXPECT_EQ(row_of(c.menu_off_once ? "press MENU OFF again to leave" : "no button press needed"),
              c.activity);
  }
  // With room, a line is kept free for the activity so the panel stays put.
  WindowView view = SimulatedWindow();
  Canvas idle(kWidth, kHeight);
  const int row = DrawWindow(view, idle).screen.row;
  view.panel.activity = "The instrument calibrates itself \u2026 5 s (no button press needed)";
  view.panel.bell_flash = true;
  view.note = "Closing... (Ctrl-C again ends at once)";
  Canvas busy(kWidth, kHeight);
  const Layout layout = DrawWindow(view, busy);
  EXPECT_EQ(layout.screen.row, row);
  // A bell flashes the frame; a note takes the bottom row.
  EXPECT_EQ(busy.at(row, layout.screen.col - 2).style, Style::kFrameFlash);
  EXPECT_EQ(busy.Row(kHeight - 1), " " + view.note);
}

TEST(ActivityTest, OwnWaitsSweepsAndTheInstrumentsOwnWorkCountTheirSeconds) {
  const std::string no_press = " s (no button press needed)";
  ActivityWatch watch;
  EXPECT_EQ(watch.Line(100), "");
  watch.NoteOwnWait(100, 2, 0.0);
  EXPECT_EQ(watch.Line(101.6), "The program waits \u2026 1" + no_press);
  EXPECT_EQ(watch.Line(102.5), "");
  // One-second polls for a press (the level stays) are not shown; the steps
  // of a sweep are, counted from the first step seen.
  ActivityWatch polls;
  for (double t : {200.0, 201.05, 202.1}) {
    polls.NoteOwnWait(t, 1, 0.0);
    polls.NoteOwnWait(t + 1.0, 0.1, 0.05);  // the query's pause is no step
  }
  EXPECT_EQ(polls.Line(202.5), "");
  ActivityWatch sweep;
  sweep.NoteOwnWait(300, 1, -0.15);
  EXPECT_EQ(sweep.Line(300.5), "");
  sweep.NoteOwnWait(301.01, 1, -0.1);
  sweep.NoteOwnWait(302.02, 1, -0.1);
  EXPECT_EQ(sweep.Line(302.5), "The program sweeps the trigger level \u2026 1" + no_press);
  // Without the instrument's settings (a real bus) only long waits show.
  ActivityWatch real;
  real.NoteOwnWait(400, 1, std::nullopt);
  real.NoteOwnWait(401.01, 1, std::nullopt);
  EXPECT_EQ(real.Line(401.5), "");
  // The instrument's own work comes first while it lasts.
  watch.NoteInstrument(500, "The instrument calibrates itself");
  watch.NoteOwnWait(501, 2, 0.0);
  EXPECT_EQ(watch.Line(503.2), "The instrument calibrates itself \u2026 3" + no_press);
  watch.NoteInstrument(503.5, "");
  EXPECT_EQ(watch.Line(503.9), "");
}

TEST(DialogTest, CentredWithIconPromptLinesReasonAndTheChosenButton) {
  // In the narrowest terminal: the prompt's own lines (a blank one kept), the
  // long one wrapped inside the box, the bus's reason under them.
  WindowView view = SimulatedWindow();
  view.dialog = DialogView{"Expected Id-response" + std::string(40, ' '),
                           "ID Query: ID?\n\nExpected Response: 243\r\nline three, a sentence "
                           "long enough to need wrapping.",
                           MsgIcon::kCritical,
                           MsgButtons::kOkCancel,
                           MsgAnswer::kCancel,
                           "GPIB adapter at 127.0.0.1:1234: connection lost"};
  Canvas canvas(kMinColumns, kMinRows);
  Layout layout = DrawWindow(view, canvas);
  ASSERT_FALSE(layout.too_small);
  ASSERT_EQ(FindRow(canvas, "Expected Id-response \u2500"), layout.dialog.row);
  const int first = FindRow(canvas, "ID Query: ID?");
  EXPECT_EQ(FindColumn(canvas, first, "(X)"), layout.dialog.col + 3);
  EXPECT_EQ(FindRow(canvas, "Expected Response: 243"), first + 2);
  EXPECT_EQ(FindRow(canvas, "line three"), first + 3);
  EXPECT_LE(std::abs(2 * layout.dialog.col + layout.dialog.width - kMinColumns), 1);
  const int buttons = FindRow(canvas, "[   OK   ]   [>Cancel<]");
  ASSERT_EQ(buttons, layout.cancel.row);
  EXPECT_EQ(layout.HitTest(buttons, layout.cancel.col + 1, false, true).target,
            Target::kDialogCancel);
  EXPECT_EQ(layout.HitTest(buttons, layout.ok.col + 2, false, true).target, Target::kDialogOk);
  std::string shown;
  for (int r = layout.dialog.row + 1; r < buttons; ++r) {
    for (int c = layout.dialog.col; c < layout.dialog.col + layout.dialog.width; ++c)
      shown += canvas.at(r, c).glyph;
  }
  for (const char* word : {"wrapping.", "Why:", "127.0.0.1:1234:"}) {
    EXPECT_NE(shown.find(word), std::string::npos) << word;
  }
  // An OK box has no Cancel; a warning has its own icon.
  view.dialog->buttons = MsgButtons::kOk;
  view.dialog->icon = MsgIcon::kExclamation;
  view.dialog->selected = MsgAnswer::kOk;
  layout = DrawWindow(view, canvas);
  EXPECT_EQ(FindRow(canvas, "Cancel"), -1);
  EXPECT_NE(canvas.Row(layout.ok.row).find("[>  OK  <]"), std::string::npos);
  EXPECT_EQ(FindColumn(canvas, first, "/!\\"), layout.dialog.col + 3);
}

TEST(WindowTest, TooSmallSaysTheSizeNeededAndTheIntroIsCentred) {
  for (auto [width, height] : {std::pair{kMinColumns - 1, kMinRows}, {80, kMinRows - 1}, {20, 5}}) {
    Canvas canvas(width, height);
    Layout layout = DrawWindow(SimulatedWindow(), canvas);
    EXPECT_TRUE(layout.too_small);
    std::string all;
    for (const std::string& row : canvas.Rows()) all += row + " ";
    EXPECT_NE(all.find("60x22"), std::string::npos) << width << "x" << height << ": " << all;
    EXPECT_EQ(all.find("ATTEN"), std::string::npos);
    EXPECT_EQ(layout.HitTest(0, width - 2, false, false).target, Target::kNone);
  }
  WindowView view = SimulatedWindow();
  view.intro = "Kalventa Checkout, v2.0 / 1994-2026";
  Canvas canvas(kWidth, kHeight);
  Layout layout = DrawWindow(view, canvas);
  int row = FindRow(canvas, *view.intro);
  EXPECT_GT(row, layout.intro.row);
  EXPECT_LT(row, layout.intro.row + layout.intro.height);
  EXPECT_LE(std::abs(2 * layout.intro.col + layout.intro.width - kWidth), 1);
}

TEST(TextTest, CleanTextKeepsOneColumnCharactersOnly) {
  const std::pair<const char*, const char*> cleaned[] = {
      {"a\tb\x01", "a\\x09b\\x01"},
      {"one\r\ntwo\rthree", "one\ntwo\nthree"},
      {"5 \u00b5s 2 k\u03a9 \u2588", "5 \u00b5s 2 k\u03a9 \u2588"},
      // No UTF-8, an overlong form, a wide character, a combining mark, a cut.
      {"\xff\xc0\xafx", "???x"},
      {"\u6f22|e\u0301", "?|e?"},
      {"cut \xe2\x94", "cut ??"},
  };
  for (const auto& [text, clean] : cleaned) EXPECT_EQ(CleanText(text), clean);
  Canvas canvas(6, 1);
  EXPECT_EQ(canvas.Put(0, 2, "\u00b5\u00b5\u00b5\u00b5\u00b5", Style::kNormal), 5);
  EXPECT_EQ(canvas.Put(0, -2, "abcd", Style::kNormal), 4);
  EXPECT_EQ(canvas.Row(0), "cd\u00b5\u00b5\u00b5\u00b5");
}

// Dot rows lit by a channel (bit) in one dot column.
std::vector<int> LitRows(const DotGrid& grid, int x, int bit = 1) {
  std::vector<int> rows;
  for (int y = 0; y < 64; ++y) {
    if ((grid[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] & bit) != 0)
      rows.push_back(y);
  }
  return rows;
}

TEST(WaveformTest, AcquiredRecordsSpanTheScreenMiddleThousandPoints) {
  // The centre line, then two divisions up from the trigger point.
  std::vector<double> step(1024, 0.0);
  for (std::size_t i = 512; i < step.size(); ++i) step[i] = 50;
  DotGrid grid = AcquiredDots({{0, step}, {2, std::vector<double>(1024, -75.0)}});
  EXPECT_EQ(LitRows(grid, 39), std::vector<int>{32});
  EXPECT_EQ(LitRows(grid, 40).front(), 16);
  EXPECT_EQ(LitRows(grid, 40).back(), 32);
  EXPECT_EQ(LitRows(grid, 79), std::vector<int>{16});
  EXPECT_EQ(LitRows(grid, 10, 4), std::vector<int>{56});  // ADD, in its own bit
  // A short record stretches; points off the screen or not numbers draw
  // nothing; a trace number out of range is passed over.
  std::vector<double> odd(40, 200.0);
  odd[0] = std::nan("");
  odd[20] = 0;
  grid = AcquiredDots({{1, odd}, {7, step}});
  EXPECT_TRUE(LitRows(grid, 0, 2).empty());
  // The one point on the screen, and the edge to it from above.
  EXPECT_EQ(LitRows(grid, 40, 2).front(), 0);
  EXPECT_EQ(LitRows(grid, 40, 2).back(), 32);
  for (int x = 0; x < 80; ++x) EXPECT_TRUE(LitRows(grid, x, 1).empty()) << x;
}

TEST(StatusTextTest, BenchAndSettingsLinesAbbreviateNeverCuttingAWord) {
  SourceBench bench;
  EXPECT_EQ(BenchLine(DescribeBench(bench)), "Bench   nothing connected");
  bench.SetGeneratorName("SG 504");
  bench.Connect(BenchSource::kSineGenerator, {BenchInput::kCh1, BenchInput::kExt2}, 10, true);
  const BenchStatus status = DescribeBench(bench);
  const std::string full =
      "Bench   CH1: SG 504 \u00f710 50\u03a9 60 mVp-p sine 50 kHz   EXT2: SG 504 \u00f710 "
      "50\u03a9 60 mVp-p sine 50 kHz   CH2, EXT1 open";
  const std::pair<int, std::string> cases[] = {
      {TextWidth(full), full},
      {100,
       "Bench:  CH1: SG 504 \u00f710 50\u03a9 60 mVp-p 50 kHz  EXT2: SG 504 \u00f710 50\u03a9 "
       "60 mVp-p 50 kHz  CH2, EXT1 open"},
      {78, "Bench:  CH1: 60 mVp-p 50 kHz  EXT2: 60 mVp-p 50 kHz  CH2, EXT1 open"},
      {60, "CH1: 60 mVp-p 50 kHz  EXT2: 60 mVp-p 50 kHz  CH2, EXT1 open"},
      {50, "CH1: 60 mVp-p 50 kHz  EXT2: 60 mVp-p 50 kHz \u2026"},
      {20, "\u2026"},
  };
  for (const auto& [width, expected] : cases) EXPECT_EQ(BenchLine(status, width), expected);

  // The settings as read from the simulated instrument.
  VirtualClock clock;
  SimScope scope("2440", clock);
  scope.Write(
      "VMO CH2;CH2 VOL:.05,POS:-1,COU:AC,INV;HOR ASE:5E-6;ATR SOU:CH2,SLO:MINUS,LEV:-0.1,"
      "MOD:NORM;ACQ MOD:AVG;CH1 VOL:0");
  InstrumentSettings settings = ReadSettings(scope);
  EXPECT_DOUBLE_EQ(settings.channels[1].position, -1);
  // A setting the instrument would not show keeps the panel's default.
  EXPECT_DOUBLE_EQ(settings.channels[0].volts_per_div, 0.1);
  EXPECT_EQ(SettingsLine(settings),
            "CH1 100 mV/div DC   CH2 50 mV/div AC INV   A 5 \u00b5s/div   Trig CH2 \u2193 -100 mV "
            "NORMAL   "
            "Acq AVG");
  settings.channels[1].shown = false;
  settings.channels[0].shown = true;
  EXPECT_EQ(SettingsLine(settings, 50), "CH1 100 mV/div DC  CH2 off  A 5 \u00b5s/div \u2026");
}

}  // namespace
}  // namespace kc
