// The full-screen window drawn off-screen: where the message lines, the bezel
// buttons, the status lines and the dialogs land at each terminal size, what
// the mouse hits, and the waveform dots.
#include "app/checkout/tui/window.h"

#include <gtest/gtest.h>

#include <algorithm>
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

std::vector<std::string> BlankLines() {
  return std::vector<std::string>(kScreenRows);
}

WindowView SimulatedWindow() {
  WindowView view;
  view.caption = "Kalventa Checkout, v2.0";
  view.hint = "Use the Bezel Buttons of the 2440 on GPIB address 1";
  view.panel.kind = PanelView::Kind::kSimulated;
  view.panel.model = "2440";
  view.panel.lines = BlankLines();
  view.panel.lines[1] = "  ATTEN   POS     SAMPL   PAGE    QUIT";
  view.panel.lines[0] = "  COMP   EFFECT   SKEW    TWO";
  return view;
}

TEST(ScreenLinesTest, LineSixteenOnTopLineOneAtTheBottomClippedToTheScreen) {
  PanelView panel;
  panel.kind = PanelView::Kind::kMirror;
  panel.lines = BlankLines();
  panel.lines[15] = "TOP";
  panel.lines[8] = "         *** CLOSING PROGRAM ***";
  panel.lines[0] = "  PRESS ANY BEZEL BUTTON FOR MAIN MENU and then some more text";
  panel.lines[5] = "         LIMIT: 396.0 - 404.0 \u00b5V";
  Canvas canvas(kScreenColumns, kScreenRows);
  DrawScreen(panel.lines, nullptr, canvas, {0, 0, kScreenRows, kScreenColumns});

  EXPECT_EQ(canvas.Row(0), "TOP");
  EXPECT_EQ(canvas.Row(16 - 9), "         *** CLOSING PROGRAM ***");
  EXPECT_EQ(canvas.Row(16 - 6), "         LIMIT: 396.0 - 404.0 \u00b5V");
  // Forty characters, the glyph counted as one.
  EXPECT_EQ(TextWidth(canvas.Row(15)), kScreenColumns);
  EXPECT_EQ(canvas.Row(15), "  PRESS ANY BEZEL BUTTON FOR MAIN MENU a");
  for (int r : {1, 2, 14}) EXPECT_EQ(canvas.Row(r), "") << "row " << r;
}

TEST(ScreenLinesTest, FailedVerdictsAndPassesStandOut) {
  std::vector<std::string> lines = BlankLines();
  lines[9] = "CH1   fail   PASS";
  lines[8] = "failure PASSED fail";  // words of their own only
  Canvas canvas(kScreenColumns, kScreenRows);
  DrawScreen(lines, nullptr, canvas, {0, 0, kScreenRows, kScreenColumns});
  auto styles = [&canvas](int row) {
    std::string shown;
    for (int c = 0; c < 19; ++c) {
      Style style = canvas.at(row, c).style;
      shown += style == Style::kFail ? 'F' : style == Style::kPass ? 'P' : '.';
    }
    return shown;
  };
  EXPECT_EQ(styles(16 - 10), "......FFFF...PPPP..");
  EXPECT_EQ(styles(16 - 9), "...............FFFF");
}

TEST(ScreenLinesTest, PositioningBlanksShowTheTraceBlanksBetweenWordsDoNot) {
  // A flat CH1 trace on the centre line.
  std::vector<AcquiredTrace> traces = {{0, std::vector<double>(1024, 0.0)}};
  std::vector<std::string> lines = BlankLines();
  // Line 8 is the top half of the centre division line (dot row 32).
  lines[7] = "    A  B";
  Canvas canvas(kScreenColumns, kScreenRows);
  DrawScreen(lines, &traces, canvas, {0, 0, kScreenRows, kScreenColumns});

  int row = 16 - 8;
  EXPECT_EQ(canvas.at(row, 4).glyph, "A");
  EXPECT_EQ(canvas.at(row, 5).glyph, " ");
  EXPECT_EQ(canvas.at(row, 5).style, Style::kScreenText);
  EXPECT_EQ(canvas.at(row, 7).glyph, "B");
  // Before and after the text: the trace.
  EXPECT_EQ(canvas.at(row, 1).style, Style::kTrace1);
  EXPECT_EQ(canvas.at(row, 1).glyph, "\u2809");
  EXPECT_EQ(canvas.at(row, 8).style, Style::kTrace1);
}

// The terminal sizes the window is drawn at: the smallest, a classic 80 x 24
// and a roomy one.
struct Size {
  int width;
  int height;
};
constexpr Size kSizes[] = {{kMinColumns, kMinRows}, {80, 24}, {kWidth, kHeight}};

TEST(FrontPanelTest, BezelButtonsSitUnderTheirLabelColumnsAndTakeTheMouseAtEverySize) {
  for (auto [width, height] : kSizes) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    WindowView view = SimulatedWindow();
    Canvas canvas(width, height);
    Layout layout = DrawWindow(view, canvas);
    ASSERT_FALSE(layout.too_small);

    EXPECT_EQ(canvas.Row(0).find(" Kalventa Checkout, v2.0"), 0u);
    EXPECT_NE(canvas.Row(1).find(view.hint), std::string::npos);
    // All sixteen message lines on the canvas, under the hint.
    EXPECT_GE(layout.screen.row, 2);
    EXPECT_LE(layout.screen.row + kScreenRows, height - 2);

    int upper = FindRow(canvas, "ATTEN   POS");
    int lower = FindRow(canvas, "COMP   EFFECT");
    int buttons = FindRow(canvas, "[ 1 ]");
    ASSERT_GE(upper, 0);
    EXPECT_EQ(lower, upper + 1);
    EXPECT_EQ(buttons, lower + 1);
    EXPECT_EQ(upper, layout.screen.row + kScreenRows - 2);
    EXPECT_LT(buttons, height - 1);

    for (int n = 1; n <= kBezelButtons; ++n) {
      int column = layout.screen.col + (n - 1) * kLabelWidth;
      int button = FindColumn(canvas, buttons, "[ " + std::to_string(n) + " ]");
      EXPECT_GE(button, column) << "button " << n;
      EXPECT_LE(button + 5, column + kLabelWidth) << "button " << n;
      // A click on the button or on either of its label lines presses it.
      for (int row : {upper, lower, buttons}) {
        Hit hit = layout.HitTest(row, column + 3, false, false);
        EXPECT_EQ(hit.target, Target::kBezel);
        EXPECT_EQ(hit.button, n);
      }
    }
    EXPECT_EQ(layout.HitTest(buttons, FindColumn(canvas, buttons, "QUIT") + 1, false, false).button,
              0);
    EXPECT_EQ(layout.HitTest(upper, FindColumn(canvas, upper, "QUIT") + 1, false, false).button, 5);
    EXPECT_EQ(layout.HitTest(upper - 1, layout.screen.col + 3, false, false).target, Target::kNone);
    EXPECT_EQ(
        layout.HitTest(buttons, FindColumn(canvas, buttons, "[MENU OFF]") + 4, false, false).target,
        Target::kMenuOff);
    EXPECT_EQ(layout.HitTest(0, width - 3, false, false).target, Target::kClose);

    // The intro takes every click; a dialog only those on its buttons.
    EXPECT_EQ(layout.HitTest(buttons, layout.screen.col + 3, true, false).target, Target::kIntro);
    EXPECT_EQ(layout.HitTest(buttons, layout.screen.col + 3, false, true).target, Target::kNone);
    EXPECT_NE(canvas.Row(height - 1).find("1-5 bezel"), std::string::npos);
    for (const std::string& row : canvas.Rows()) EXPECT_LE(TextWidth(row), width);
  }
}

// Rows of the status lines under the panel, in order, -1 for one not drawn.
struct StatusRows {
  int bench;
  int settings;
  int activity;
};

TEST(FrontPanelTest, StatusLinesGiveWayWhenRowsAreShortMostUrgentKept) {
  struct Case {
    Size size;
    bool busy;
    bool menu_off_once;
    StatusRows expected;  // counted from the row under the frame
  };
  const Case cases[] = {
      {{80, 22}, false, false, {-1, -1, -1}},      {{80, 23}, false, false, {0, -1, -1}},
      {{80, 24}, false, false, {0, 1, -1}},        {{80, 24}, true, false, {0, -1, 1}},
      {{80, 23}, true, false, {-1, -1, 0}},        {{80, 24}, false, true, {0, -1, 1}},
      {{kWidth, kHeight}, true, false, {0, 1, 2}}, {{kWidth, kHeight}, false, true, {0, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size.width) + "x" + std::to_string(c.size.height) +
                 (c.busy ? " busy" : "") + (c.menu_off_once ? " menu off" : ""));
    WindowView view = SimulatedWindow();
    if (c.busy) view.panel.activity = "The program waits \u2026 3 s (no button press needed)";
    view.panel.menu_off_once = c.menu_off_once;
    Canvas canvas(c.size.width, c.size.height);
    Layout layout = DrawWindow(view, canvas);
    int under = layout.screen.row + kScreenRows + 2;
    auto row_of = [&](const std::string& text) {
      int row = FindRow(canvas, text);
      return row < 0 ? -1 : row - under;
    };
    EXPECT_EQ(row_of("Bench"), c.expected.bench);
    EXPECT_EQ(row_of("Acq NORMAL"), c.expected.settings);
    EXPECT_EQ(row_of(c.menu_off_once ? "press MENU OFF again to leave" : "no button press needed"),
              c.expected.activity);
  }
  // A free line is kept for what goes on by itself when there is room, so
  // that the panel stays where it is when the line comes.
  WindowView view = SimulatedWindow();
  Canvas idle(kWidth, kHeight);
  Layout before = DrawWindow(view, idle);
  view.panel.activity = "The instrument calibrates itself \u2026 5 s (no button press needed)";
  Canvas busy(kWidth, kHeight);
  EXPECT_EQ(DrawWindow(view, busy).screen.row, before.screen.row);
  int row = FindRow(busy, "calibrates itself");
  ASSERT_GE(row, 0);
  EXPECT_EQ(busy.at(row, FindColumn(busy, row, "calibrates")).style, Style::kActivity);
}

TEST(FrontPanelTest, StatusLinesIndicatorsAndBellFlash) {
  WindowView view = SimulatedWindow();
  view.panel.settings.channels[0].shown = true;
  view.panel.settings.channels[0].volts_per_div = 0.5;
  SourceSignal square;
  square.shape = SourceSignal::Shape::kSquare;
  square.high = 0.4;
  square.frequency = 1000;
  view.panel.bench.inputs[0] = ConnectedInput{"calibrator", square};
  view.panel.cable_plugged = false;
  view.panel.bell_flash = true;
  Canvas canvas(kWidth, kHeight);
  Layout layout = DrawWindow(view, canvas);

  int bench = FindRow(canvas, "Bench");
  ASSERT_GT(bench, layout.screen.row + kScreenRows);
  EXPECT_NE(canvas.Row(bench).find("CH1: calibrator 400 mVp-p square 1 kHz"), std::string::npos);
  EXPECT_NE(canvas.Row(bench).find("CH2, EXT1, EXT2 open"), std::string::npos);
  EXPECT_NE(canvas.Row(bench + 1).find("CH1 500 mV/div DC"), std::string::npos);
  EXPECT_NE(FindRow(canvas, "unplugged"), -1);
  // The flash lights the whole frame.
  EXPECT_EQ(canvas.at(layout.screen.row, layout.screen.col - 2).style, Style::kFrameFlash);
  EXPECT_NE(canvas.Row(kHeight - 1).find("1-5 bezel buttons"), std::string::npos);

  view.note = "Closing... (Ctrl-C again ends at once)";
  Canvas closing(kWidth, kHeight);
  DrawWindow(view, closing);
  EXPECT_EQ(closing.Row(kHeight - 1), " " + view.note);
}

TEST(FrontPanelTest, MirrorShowsTheLinesWithoutButtonsOrTrace) {
  WindowView view;
  view.panel.kind = PanelView::Kind::kMirror;
  view.panel.lines = BlankLines();
  view.panel.lines[8] = "    *** CALIBRATOR SIGNAL CHECK ***";
  Canvas canvas(kWidth, kHeight);
  Layout layout = DrawWindow(view, canvas);
  EXPECT_EQ(FindRow(canvas, "*** CALIBRATOR SIGNAL CHECK ***"), layout.screen.row + 16 - 9);
  EXPECT_EQ(FindRow(canvas, "[ 1 ]"), -1);
  EXPECT_EQ(FindRow(canvas, "Bench"), -1);
  for (int r = layout.screen.row; r < layout.screen.row + kScreenRows; ++r) {
    for (int c = layout.screen.col; c < layout.screen.col + kScreenColumns; ++c) {
      EXPECT_NE(canvas.at(r, c).style, Style::kGraticule);
    }
  }
  EXPECT_EQ(layout.HitTest(layout.screen.row + 15, layout.screen.col + 3, false, false).target,
            Target::kNone);
}

TEST(ActivityTest, OwnWaitsSweepsAndTheInstrumentsOwnWorkCountTheirSeconds) {
  const std::string kNoPress = " s (no button press needed)";
  // A settling time of two seconds, on the program's clock.
  ActivityWatch watch;
  EXPECT_EQ(watch.Line(100), "");
  watch.NoteOwnWait(100, 2, 0.0);
  EXPECT_EQ(watch.Line(100), "The program waits \u2026 0" + kNoPress);
  EXPECT_EQ(watch.Line(101.6), "The program waits \u2026 1" + kNoPress);
  EXPECT_EQ(watch.Line(102.5), "");

  // One-second polls for a press (the level stays) are not shown; steps of
  // a sweep are, counted from the first step seen as one, through the turn
  // of the slope that repeats a level.
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
  EXPECT_EQ(sweep.Line(302.5), "The program sweeps the trigger level \u2026 1" + kNoPress);
  EXPECT_EQ(sweep.Line(303.5), "");
  // Without the instrument's settings (a real bus) only long waits show.
  ActivityWatch real;
  real.NoteOwnWait(400, 1, std::nullopt);
  real.NoteOwnWait(401.01, 1, std::nullopt);
  EXPECT_EQ(real.Line(401.5), "");

  // The instrument's own work comes first while it lasts.
  watch.NoteInstrument(500, "The instrument calibrates itself");
  watch.NoteOwnWait(501, 2, 0.0);
  EXPECT_EQ(watch.Line(503.2), "The instrument calibrates itself \u2026 3" + kNoPress);
  watch.NoteInstrument(503.5, "");
  EXPECT_EQ(watch.Line(503.9), "");
}

TEST(DialogTest, TitleIconPromptLinesAndButtonsCentred) {
  struct Case {
    MsgIcon icon;
    const char* mark;
  };
  for (Case c : {Case{MsgIcon::kCritical, "(X)"}, Case{MsgIcon::kExclamation, "/!\\"},
                 Case{MsgIcon::kInformation, "(i)"}}) {
    WindowView view = SimulatedWindow();
    view.dialog = DialogView{"Expected Id-response from device not found" + std::string(40, ' '),
                             "ID Query: ID?\n\nExpected Response: 243\r\nline three",
                             c.icon,
                             MsgButtons::kOk,
                             MsgAnswer::kOk,
                             ""};
    Canvas canvas(kWidth, kHeight);
    Layout layout = DrawWindow(view, canvas);

    int title = FindRow(canvas, "Expected Id-response from device not found");
    ASSERT_EQ(title, layout.dialog.row);
    // The widening blanks of the title are not drawn.
    EXPECT_NE(canvas.Row(title).find("found \u2500"), std::string::npos);
    int first = FindRow(canvas, "ID Query: ID?");
    EXPECT_EQ(FindColumn(canvas, first, c.mark), layout.dialog.col + 3);
    EXPECT_EQ(FindRow(canvas, "Expected Response: 243"), first + 2);
    EXPECT_EQ(FindRow(canvas, "line three"), first + 3);
    // The blank line of the prompt is kept.
    EXPECT_EQ(FindColumn(canvas, first + 1, "ID"), -1);
    // Centred, one button, chosen.
    int left = layout.dialog.col;
    int right = kWidth - (layout.dialog.col + layout.dialog.width);
    EXPECT_LE(std::abs(left - right), 1);
    EXPECT_EQ(FindRow(canvas, "Cancel"), -1);
    EXPECT_NE(canvas.Row(layout.ok.row).find("[>  OK  <]"), std::string::npos);
    EXPECT_EQ(layout.HitTest(layout.ok.row, layout.ok.col + 2, false, true).target,
              Target::kDialogOk);
  }
}

TEST(DialogTest, OkCancelMarksTheChosenButtonAndWrapsLongPromptsInNarrowTerminals) {
  WindowView view = SimulatedWindow();
  std::string prompt =
      "No listener on write function.\nSelect OK to continue or Cancel to terminate program. "
      "A sentence long enough to need wrapping in a terminal of sixty columns.";
  view.dialog = DialogView{
      "GPIB ERROR # 2",      prompt,
      MsgIcon::kExclamation, MsgButtons::kOkCancel,
      MsgAnswer::kCancel,    "GPIB adapter at 127.0.0.1:1234: connection lost: Connection reset"};
  Canvas canvas(kMinColumns, kMinRows);
  Layout layout = DrawWindow(view, canvas);
  ASSERT_FALSE(layout.too_small);
  EXPECT_GE(layout.dialog.col, 0);
  EXPECT_LE(layout.dialog.col + layout.dialog.width, kMinColumns);
  int buttons = FindRow(canvas, "[>Cancel<]");
  ASSERT_EQ(buttons, layout.cancel.row);
  EXPECT_NE(canvas.Row(buttons).find("[   OK   ]"), std::string::npos);
  EXPECT_EQ(layout.HitTest(buttons, layout.cancel.col + 1, false, true).target,
            Target::kDialogCancel);
  // Every word of the prompt, and the reason under it, is inside the box.
  std::string shown;
  for (int r = layout.dialog.row + 1; r < buttons; ++r) {
    for (int c = layout.dialog.col; c < layout.dialog.col + layout.dialog.width; ++c)
      shown += canvas.at(r, c).glyph;
    shown += " ";
  }
  for (const char* word :
       {"listener", "terminate", "program.", "sixty", "columns.", "Why:", "127.0.0.1:1234:"}) {
    EXPECT_NE(shown.find(word), std::string::npos) << word;
  }
}

TEST(TooSmallTest, SaysTheSizeNeededInsteadOfDrawing) {
  for (auto [width, height] :
       {std::pair{kMinColumns - 1, kMinRows}, std::pair{80, kMinRows - 1}, std::pair{20, 5}}) {
    WindowView view = SimulatedWindow();
    view.dialog = DialogView{"GPIB ERROR # 6",      "I/O operation aborted - timeout.",
                             MsgIcon::kExclamation, MsgButtons::kOkCancel,
                             MsgAnswer::kOk,        ""};
    Canvas canvas(width, height);
    Layout layout = DrawWindow(view, canvas);
    EXPECT_TRUE(layout.too_small);
    std::string all;
    for (const std::string& row : canvas.Rows()) all += row + " ";
    EXPECT_NE(all.find("60x22"), std::string::npos) << width << "x" << height << ": " << all;
    EXPECT_EQ(all.find("ATTEN"), std::string::npos);
    EXPECT_EQ(layout.HitTest(0, width - 2, false, true).target, Target::kNone);
    for (const std::string& row : canvas.Rows()) EXPECT_LE(TextWidth(row), width);
  }
}

TEST(IntroTest, CentredPanelOverTheWindow) {
  WindowView view = SimulatedWindow();
  view.intro = "Kalventa Checkout, v2.0 / 1994-2026 - guided performance checkout over GPIB";
  Canvas canvas(kWidth, kHeight);
  Layout layout = DrawWindow(view, canvas);
  int row = FindRow(canvas, *view.intro);
  ASSERT_GT(row, layout.intro.row);
  EXPECT_LT(row, layout.intro.row + layout.intro.height);
  EXPECT_LE(std::abs(layout.intro.col - (kWidth - layout.intro.col - layout.intro.width)), 1);
  EXPECT_EQ(layout.HitTest(kHeight - 1, 0, true, false).target, Target::kIntro);
}

TEST(TextTest, CleanTextKeepsOneColumnCharactersOnly) {
  EXPECT_EQ(CleanText("a\tb\x01"), "a\\x09b\\x01");
  EXPECT_EQ(CleanText("one\r\ntwo\rthree"), "one\ntwo\nthree");
  EXPECT_EQ(CleanText("5 \u00b5s 2 k\u03a9 \u2588"), "5 \u00b5s 2 k\u03a9 \u2588");
  // Bytes that are no UTF-8, an overlong form, a wide character, a combining
  // mark.
  EXPECT_EQ(CleanText("\xff\xc0\xafx"), "???x");
  EXPECT_EQ(CleanText("\u6f22|e\u0301"), "?|e?");
  EXPECT_EQ(CleanText("cut \xe2\x94"), "cut ??");

  Canvas canvas(6, 1);
  EXPECT_EQ(canvas.Put(0, 2, "\u00b5\u00b5\u00b5\u00b5\u00b5", Style::kNormal), 5);
  EXPECT_EQ(canvas.Row(0), "  \u00b5\u00b5\u00b5\u00b5");
  EXPECT_EQ(canvas.Put(0, -2, "abcd", Style::kNormal), 4);
  EXPECT_EQ(canvas.Row(0), "cd\u00b5\u00b5\u00b5\u00b5");
}

TEST(TextTest, WrapPromptBreaksAtBlanksKeepsEmptyLinesAndCutsLongWords) {
  EXPECT_EQ(WrapPrompt("Read cycle failed\nOperation aborted.", 40),
            (std::vector<std::string>{"Read cycle failed", "Operation aborted."}));
  EXPECT_EQ(WrapPrompt("one two three four", 9),
            (std::vector<std::string>{"one two", "three", "four"}));
  EXPECT_EQ(WrapPrompt("a\n\nb", 5), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(WrapPrompt("ABCDEFGHIJ", 4), (std::vector<std::string>{"ABCD", "EFGH", "IJ"}));
}

TEST(TextTest, EngineeringNotation) {
  EXPECT_EQ(EngineeringText(0.1, "V"), "100 mV");
  EXPECT_EQ(EngineeringText(5e-6, "s"), "5 \u00b5s");
  EXPECT_EQ(EngineeringText(0.5e-3, "s"), "500 \u00b5s");
  EXPECT_EQ(EngineeringText(1000, "Hz"), "1 kHz");
  EXPECT_EQ(EngineeringText(2.5, "V"), "2.5 V");
  EXPECT_EQ(EngineeringText(-0.25, "V"), "-250 mV");
  EXPECT_EQ(EngineeringText(999.7, "Hz"), "1 kHz");
  EXPECT_EQ(EngineeringText(0, "V"), "0 V");
  EXPECT_EQ(EngineeringText(350e6, "Hz"), "350 MHz");
}

TEST(BrailleTest, DotsMapToTheBraillePatterns) {
  std::array<std::array<bool, 4>, 2> dots{};
  EXPECT_EQ(BrailleGlyph(dots), "\u2800");
  dots[0][0] = true;
  EXPECT_EQ(BrailleGlyph(dots), "\u2801");
  dots = {};
  dots[1][3] = true;
  EXPECT_EQ(BrailleGlyph(dots), "\u2880");
  dots = {};
  dots[0][3] = true;
  dots[1][1] = true;
  EXPECT_EQ(BrailleGlyph(dots), "\u2850");
  for (auto& column : dots) column.fill(true);
  EXPECT_EQ(BrailleGlyph(dots), "\u28ff");
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
  // 1024 points: the centre line, then two divisions up from the trigger
  // point in the middle of the record.
  std::vector<double> step(1024, 0.0);
  for (std::size_t i = 512; i < step.size(); ++i) step[i] = 50;
  DotGrid grid = AcquiredDots({{0, step}, {2, std::vector<double>(1024, -75.0)}});
  EXPECT_EQ(LitRows(grid, 0), std::vector<int>{32});
  EXPECT_EQ(LitRows(grid, 39), std::vector<int>{32});
  std::vector<int> edge = LitRows(grid, 40);
  ASSERT_FALSE(edge.empty());
  EXPECT_EQ(edge.front(), 16);
  EXPECT_EQ(edge.back(), 32);
  EXPECT_EQ(LitRows(grid, 79), std::vector<int>{16});
  // ADD three divisions down, in its own bit.
  EXPECT_EQ(LitRows(grid, 10, 4), std::vector<int>{56});
  EXPECT_TRUE(LitRows(grid, 10, 2).empty());

  // A short record stretches; points off the screen or not numbers draw
  // nothing; a trace number out of range is passed over.
  std::vector<double> odd(40, 200.0);
  odd[0] = std::nan("");
  odd[20] = 0;
  grid = AcquiredDots({{1, odd}, {7, step}});
  EXPECT_TRUE(LitRows(grid, 0, 2).empty());
  EXPECT_TRUE(LitRows(grid, 30, 2).empty());
  // The one point on the screen, and the edges to it from above.
  EXPECT_EQ(LitRows(grid, 40, 2).back(), 32);
  EXPECT_EQ(LitRows(grid, 40, 2).front(), 0);
  for (int x = 0; x < 80; ++x) EXPECT_TRUE(LitRows(grid, x, 1).empty()) << x;
}

TEST(BenchTest, DescribesWhatIsConnectedAbbreviatedNeverCutInsideAWord) {
  SourceBench bench;
  EXPECT_EQ(BenchLine(DescribeBench(bench)), "Bench   nothing connected");
  bench.Connect(BenchSource::kTimeMarks, {BenchInput::kCh2});
  EXPECT_NE(BenchLine(DescribeBench(bench)).find("CH2: time marks"), std::string::npos);

  bench.SetGeneratorName("SG 504");
  bench.Connect(BenchSource::kSineGenerator, {BenchInput::kCh1, BenchInput::kExt2}, 10, true);
  BenchStatus status = DescribeBench(bench);
  EXPECT_FALSE(status.inputs[1]);
  const std::string full =
      "Bench   CH1: SG 504 \u00f710 50\u03a9 60 mVp-p sine 50 kHz   EXT2: SG 504 \u00f710 "
      "50\u03a9 60 mVp-p sine 50 kHz   CH2, EXT1 open";
  struct Case {
    int width;
    std::string expected;
  };
  const Case cases[] = {
      {200, full},
      {TextWidth(full), full},
      {TextWidth(full) - 1,
       "Bench:  CH1: SG 504 \u00f710 50\u03a9 60 mVp-p sine 50 kHz  EXT2: SG 504 \u00f710 "
       "50\u03a9 60 mVp-p sine 50 kHz  CH2, EXT1 open"},
      {100,
       "Bench:  CH1: SG 504 \u00f710 50\u03a9 60 mVp-p 50 kHz  EXT2: SG 504 \u00f710 50\u03a9 "
       "60 mVp-p 50 kHz  CH2, EXT1 open"},
      {78, "Bench:  CH1: 60 mVp-p 50 kHz  EXT2: 60 mVp-p 50 kHz  CH2, EXT1 open"},
      {60, "CH1: 60 mVp-p 50 kHz  EXT2: 60 mVp-p 50 kHz  CH2, EXT1 open"},
      {50, "CH1: 60 mVp-p 50 kHz  EXT2: 60 mVp-p 50 kHz \u2026"},
      {20, "\u2026"},
  };
  for (const Case& c : cases) {
    std::string line = BenchLine(status, c.width);
    EXPECT_EQ(line, c.expected) << "width " << c.width;
    EXPECT_LE(TextWidth(line), c.width);
  }
  // The settings line gives way in the same manner.
  InstrumentSettings settings;
  settings.channels[0].shown = true;
  std::string wide = SettingsLine(settings);
  EXPECT_EQ(wide,
            "CH1 100 mV/div DC   CH2 off   A 1 ms/div   Trig VERT \u2191 0 V AUTO   Acq NORMAL");
  EXPECT_EQ(SettingsLine(settings, 72),
            "CH1 100 mV/div DC  CH2 off  A 1 ms/div  Trig VERT \u2191 0 V AUTO  Acq NORMAL");
  EXPECT_EQ(SettingsLine(settings, 50), "CH1 100 mV/div DC  CH2 off  A 1 ms/div \u2026");
}

TEST(SettingsTest, ReadFromTheSimulatedInstrumentAndSummarised) {
  VirtualClock clock;
  SimScope scope("2440", clock);
  scope.Write(
      "VMO CH2;CH2 VOL:.05,POS:-1,COU:AC,INV;HOR ASE:5E-6;ATR SOU:CH2,SLO:MINUS,LEV:-0.1,"
      "MOD:NORM;ACQ MOD:AVG");
  InstrumentSettings settings = ReadSettings(scope);
  EXPECT_TRUE(settings.channels[1].shown);
  EXPECT_DOUBLE_EQ(settings.channels[1].volts_per_div, 0.05);
  EXPECT_DOUBLE_EQ(settings.channels[1].position, -1);
  EXPECT_EQ(settings.channels[1].coupling, "AC");
  EXPECT_TRUE(settings.channels[1].inverted);
  EXPECT_DOUBLE_EQ(settings.sec_per_div, 5e-6);
  std::string line = SettingsLine(settings);
  for (const char* part :
       {"CH2 50 mV/div AC INV", "A 5 \u00b5s/div", "Trig CH2 \u2193 -100 mV NORMAL", "Acq AVG"}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }

  // A setting the instrument would not show keeps the panel's default.
  scope.Write("CH1 VOL:0");
  EXPECT_DOUBLE_EQ(ReadSettings(scope).channels[0].volts_per_div, 0.1);
}

}  // namespace
}  // namespace kc
