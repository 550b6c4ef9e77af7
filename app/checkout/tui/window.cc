#include "app/checkout/tui/window.h"

#include <algorithm>

namespace kc {

namespace {

const char* IconMark(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kCritical:
      return "(X)";
    case MsgIcon::kExclamation:
      return "/!\\";
    case MsgIcon::kInformation:
      return "(i)";
  }
  return "   ";
}

Style IconStyle(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kCritical:
      return Style::kIconCritical;
    case MsgIcon::kExclamation:
      return Style::kIconExclamation;
    case MsgIcon::kInformation:
      return Style::kIconInformation;
  }
  return Style::kDialog;
}

void DrawTooSmall(const WindowView& view, Canvas& canvas) {
  int width = canvas.width();
  int height = canvas.height();
  canvas.Fill({0, 0, height, width}, Style::kNormal);
  // The size needed comes first: a tiny terminal may show only that.
  std::vector<std::string> lines = {
      "Terminal too small: needs at least " + std::to_string(kMinColumns) + "x" +
          std::to_string(kMinRows) + ",",
      "this one is " + std::to_string(width) + "x" + std::to_string(height) + ".",
      "Please enlarge the window.",
  };
  if (view.dialog) {
    lines.push_back("");
    lines.push_back("Waiting: " + TrimRight(view.dialog->title));
    const MsgButtons buttons = view.dialog->buttons;
    lines.push_back(buttons == MsgButtons::kOkCancel  ? "Enter = OK, Esc = Cancel"
                    : buttons == MsgButtons::kVerdict ? "P = Pass, F = Fail, N = Not judged"
                                                      : "Enter = OK");
  }
  // Narrow terminals get the lines wrapped rather than cut.
  std::vector<std::string> shown;
  for (const std::string& line : lines) {
    if (line.empty()) {
      shown.push_back(line);
      continue;
    }
    for (const std::string& part : WrapPrompt(line, std::max(1, width - 2))) shown.push_back(part);
  }
  int top = std::max(0, (height - static_cast<int>(shown.size())) / 2);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    canvas.Put(top + static_cast<int>(i), 0, Centered(shown[i], width), Style::kWarning, width);
  }
}

// The keys of the simulated front panel, shorter in a narrow terminal; R
// when the run's results can be shown.
std::string SimulatedHelp(int width, bool results_key) {
  if (results_key) {
    for (const char* help :
         {"1-5 bezel buttons   M twice: MENU OFF   U: GPIB cable   R: results   mouse: click a "
          "button   Ctrl-C: close",
          "1-5 bezel buttons  M twice: MENU OFF  U: GPIB cable  R: results  Ctrl-C: close"}) {
      if (TextWidth(help) <= width) return help;
    }
    return "1-5 bezel  M twice: MENU OFF  U: cable  R: results  Ctrl-C: close";
  }
  std::string help =
      "1-5 bezel buttons   M twice: MENU OFF   U: GPIB cable   mouse: click a button   "
      "Ctrl-C: close";
  if (TextWidth(help) <= width) return help;
  return "1-5 bezel buttons  M twice: MENU OFF  U: GPIB cable  Ctrl-C: close";
}

// Rows of the panel's frame: border, the screen, the button row, border;
// and its columns: border, padding, the screen, a gap, the side column with
// the indicators and MENU OFF, padding, border.
constexpr int kSideColumn = 10;
constexpr int kFrameWidth = 1 + 1 + kScreenColumns + 2 + kSideColumn + 1 + 1;
constexpr int kFrameHeight = 1 + kScreenRows + 1 + 1;
// The caption and the hint above the panel.
constexpr int kTopRows = 2;

struct StatusLine {
  std::string text;
  Style style = Style::kStatus;
  int rank = 0;  // lines of a lower rank get the rows first
};

// The lines under the panel in the order drawn, the few that fit kept.
// When rows are short the settings line gives way to where the record was
// saved.
std::vector<StatusLine> StatusLines(const PanelView& panel, const std::string& record_saved,
                                    int width, int rows) {
  std::vector<StatusLine> lines;
  bool simulated = panel.kind == PanelView::Kind::kSimulated;
  if (simulated) {
    lines.push_back({BenchLine(panel.bench, width), Style::kStatus, 1});
    lines.push_back({SettingsLine(panel.settings, width), Style::kStatus, 2});
  }
  if (!record_saved.empty())
    lines.push_back({RecordSavedLine(record_saved, width), Style::kStatus, 2});
  // The line for what goes on by itself is kept free when there is room, so
  // that the panel does not move when it comes and goes.
  if (panel.menu_off_once && simulated) {
    lines.push_back({kMenuOffOnce, Style::kWarning, 0});
  } else {
    lines.push_back({panel.activity, Style::kActivity, panel.activity.empty() ? 3 : 0});
  }
  while (static_cast<int>(lines.size()) > std::max(0, rows)) {
    auto worst =
        std::max_element(lines.begin(), lines.end(),
                         [](const StatusLine& a, const StatusLine& b) { return a.rank < b.rank; });
    lines.erase(worst);
  }
  return lines;
}

void DrawPanel(const PanelView& panel, const std::string& record_saved, Canvas& canvas,
               Layout& layout) {
  int width = canvas.width();
  // The rows between the hint and the key help: the frame, the status lines
  // that fit, a blank under the hint when there is one to spare, and what is
  // left shared above and below.
  int room = canvas.height() - 1 - kTopRows - kFrameHeight;
  std::vector<StatusLine> lines = StatusLines(panel, record_saved, width - 2, room);
  int spare = room - static_cast<int>(lines.size());
  int top = kTopRows + (spare > 0 ? 1 + (spare - 1) / 2 : 0);
  Rect frame{top, std::max(0, (width - kFrameWidth) / 2), kFrameHeight, kFrameWidth};
  bool simulated = panel.kind == PanelView::Kind::kSimulated;
  canvas.Fill(frame, Style::kNormal);
  canvas.Frame(frame, panel.bell_flash ? Style::kFrameFlash : Style::kFrame);
  std::string title = simulated ? " " + (panel.model.empty() ? std::string("2440") : panel.model) +
                                      " DIGITAL STORAGE OSCILLOSCOPE (simulated) "
                                : " Message lines written to the instrument ";
  canvas.Put(frame.row, frame.col + 2, title, Style::kFrameTitle, frame.width - 4);

  layout.screen = {frame.row + 1, frame.col + 2, kScreenRows, kScreenColumns};
  static const std::vector<AcquiredTrace> kNoTraces;
  const std::vector<AcquiredTrace>* traces =
      simulated ? (panel.acquired ? &*panel.acquired : &kNoTraces) : nullptr;
  DrawScreen(panel.lines, traces, canvas, layout.screen);

  // Under the frame, moved left together as far as the longest line needs.
  int longest = 0;
  for (const StatusLine& line : lines) longest = std::max(longest, TextWidth(line.text));
  int col = std::max(1, std::min(frame.col, width - 1 - longest));
  int below = frame.row + frame.height;
  for (const StatusLine& line : lines) {
    canvas.Put(below++, col, line.text, line.style, width - 1 - col);
  }
  if (!simulated) return;

  int button_row = layout.screen.row + kScreenRows;
  for (int n = 1; n <= kBezelButtons; ++n) {
    int button_col = layout.screen.col + (n - 1) * kLabelWidth;
    canvas.Put(button_row, button_col + 2, "[ " + std::to_string(n) + " ]",
               panel.pressed == n ? Style::kButtonPressed : Style::kButton);
    // The button with its two label lines: a click on either presses it.
    layout.bezel[static_cast<std::size_t>(n - 1)] = {button_row - 2, button_col, 3, kLabelWidth};
  }
  int side = layout.screen.col + kScreenColumns + 2;
  layout.menu_off = {button_row, side, 1, kSideColumn};
  canvas.Put(button_row, side, "[MENU OFF]",
             panel.pressed == 6 || panel.menu_off_once ? Style::kButtonPressed : Style::kButton);

  int row = layout.screen.row + 1;
  canvas.Put(row, side, "GPIB", Style::kHelp);
  canvas.Put(row + 1, side, panel.cable_plugged ? "\u25cf cable" : "\u00d7 unplugged",
             panel.cable_plugged ? Style::kIndicatorOn : Style::kWarning);
  canvas.Put(row + 3, side, "\u25cf SRQ",
             panel.service_request ? Style::kIndicatorOn : Style::kIndicatorOff);
  canvas.Put(row + 5, side, "\u25cf BELL",
             panel.bell_flash ? Style::kIndicatorOn : Style::kIndicatorOff);
}

void DrawIntro(const std::string& text, Canvas& canvas, Layout& layout) {
  int width = canvas.width();
  int height = canvas.height();
  int text_width = std::max(10, std::min(width - 10, 90));
  std::vector<std::string> lines = WrapPrompt(text, text_width);
  int inner = 0;
  for (const std::string& line : lines) inner = std::max(inner, TextWidth(line));
  const std::string note = "a key or a click continues";
  inner = std::max(inner, TextWidth(note));
  Rect box{0, 0, static_cast<int>(lines.size()) + 6, inner + 8};
  box.row = std::max(0, (height - box.height) / 2);
  box.col = std::max(0, (width - box.width) / 2);
  canvas.Fill(box, Style::kIntro);
  canvas.Frame(box, Style::kIntro);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    canvas.Put(box.row + 2 + static_cast<int>(i), box.col + 4, Centered(lines[i], inner),
               Style::kIntro, inner);
  }
  canvas.Put(box.row + box.height - 2, box.col + 4, Centered(note, inner), Style::kHelp, inner);
  layout.intro = box;
}

const char* ButtonName(MsgAnswer answer) {
  switch (answer) {
    case MsgAnswer::kCancel:
      return "Cancel";
    case MsgAnswer::kPass:
      return " Pass ";
    case MsgAnswer::kFail:
      return " Fail ";
    case MsgAnswer::kNotJudged:
      return "Not judged";
    case MsgAnswer::kOk:
      break;
  }
  return "  OK  ";
}

void DrawDialog(const DialogView& dialog, Canvas& canvas, Layout& layout) {
  int width = canvas.width();
  int height = canvas.height();
  int box_width = std::min(width - 4, 76);
  // Border, padding, the icon mark and its gap, padding, border.
  int text_width = std::max(1, box_width - 11);
  std::vector<std::string> lines = WrapPrompt(dialog.prompt, text_width);
  if (!dialog.detail.empty()) {
    lines.emplace_back();
    for (std::string& line : WrapPrompt("Why: " + dialog.detail, text_width))
      lines.push_back(std::move(line));
  }
  int max_lines = std::max(1, height - 8);
  if (static_cast<int>(lines.size()) > max_lines) {
    lines.resize(static_cast<std::size_t>(max_lines));
    lines.back() = FitText(lines.back(), text_width - 1) + "\u2026";
  }
  std::string title = CleanText(TrimRight(dialog.title));
  for (char& c : title) {
    if (c == '\n') c = ' ';
  }
  // The chosen button is marked in its text too, for terminals without
  // colours.
  const std::vector<MsgAnswer> answers = BoxAnswers(dialog.buttons);
  std::vector<std::string> button_texts;
  int buttons_width = -3;
  for (const MsgAnswer answer : answers) {
    std::string name = ButtonName(answer);
    button_texts.push_back(dialog.selected == answer ? "[>" + name + "<]" : "[ " + name + " ]");
    buttons_width += TextWidth(button_texts.back()) + 3;
  }

  int content = buttons_width;
  for (const std::string& line : lines) content = std::max(content, 5 + TextWidth(line));
  content = std::max(content, TextWidth(title) + 2);
  Rect box{0, 0, static_cast<int>(lines.size()) + 5, std::min(box_width, content + 6)};
  box.row = std::max(0, (height - box.height) / 2);
  box.col = std::max(0, (width - box.width) / 2);
  canvas.Fill(box, Style::kDialog);
  canvas.Frame(box, Style::kDialog);
  canvas.Put(box.row, box.col + 2, " " + title + " ", Style::kDialogTitle, box.width - 4);

  int text_col = box.col + 3;
  canvas.Put(box.row + 2, text_col, IconMark(dialog.icon), IconStyle(dialog.icon));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    canvas.Put(box.row + 2 + static_cast<int>(i), text_col + 5, lines[i], Style::kDialog,
               box.width - 9);
  }
  int button_row = box.row + box.height - 2;
  int col = box.col + (box.width - buttons_width) / 2;
  auto style = [&](MsgAnswer answer) {
    return dialog.selected == answer ? Style::kDialogButtonSelected : Style::kDialogButton;
  };
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const Rect at{button_row, col, 1,
                  canvas.Put(button_row, col, button_texts[i], style(answers[i]))};
    if (answers[i] == MsgAnswer::kOk) layout.ok = at;
    if (answers[i] == MsgAnswer::kCancel) layout.cancel = at;
    layout.choices.push_back(at);
    col += TextWidth(button_texts[i]) + 3;
  }
  layout.dialog = box;
}

}  // namespace

Hit Layout::HitTest(int row, int col, bool intro_shown, bool dialog_shown) const {
  if (too_small) return {};
  if (dialog_shown) {
    if (ok.Contains(row, col)) return {Target::kDialogOk};
    if (cancel.Contains(row, col)) return {Target::kDialogCancel};
    for (std::size_t i = 0; i < choices.size(); ++i) {
      if (choices[i].Contains(row, col)) return {Target::kDialogChoice, static_cast<int>(i) + 1};
    }
    return {};
  }
  if (intro_shown) return {Target::kIntro};
  if (close.Contains(row, col)) return {Target::kClose};
  for (std::size_t i = 0; i < bezel.size(); ++i) {
    if (bezel[i].Contains(row, col)) return {Target::kBezel, static_cast<int>(i) + 1};
  }
  if (menu_off.Contains(row, col)) return {Target::kMenuOff};
  return {};
}

Layout DrawWindow(const WindowView& view, Canvas& canvas) {
  Layout layout;
  int width = canvas.width();
  int height = canvas.height();
  if (width < kMinColumns || height < kMinRows) {
    layout.too_small = true;
    DrawTooSmall(view, canvas);
    return layout;
  }
  canvas.Fill({0, 0, height, width}, Style::kNormal);
  canvas.Fill({0, 0, 1, width}, Style::kCaption);
  canvas.Put(0, 1, view.caption, Style::kCaption, width - 6);
  layout.close = {0, width - 4, 1, 3};
  canvas.Put(0, width - 4, "[\u00d7]", Style::kCaptionClose);
  canvas.Put(1, 1, view.hint, Style::kHint, width - 2);

  if (view.panel.kind != PanelView::Kind::kNone)
    DrawPanel(view.panel, view.record_saved, canvas, layout);

  std::string bottom = view.note;
  Style bottom_style = Style::kWarning;
  if (bottom.empty()) {
    if (view.panel.kind == PanelView::Kind::kSimulated)
      bottom = SimulatedHelp(width - 2, view.results_key);
    else
      bottom = view.results_key ? "R: results   Ctrl-C: close" : "Ctrl-C: close";
    bottom_style = Style::kHelp;
  }
  canvas.Put(height - 1, 1, bottom, bottom_style, width - 2);

  if (view.intro) DrawIntro(*view.intro, canvas, layout);
  if (view.identity) layout.identity = DrawIdentityForm(*view.identity, canvas);
  if (view.results) layout.results = DrawResults(*view.results, canvas, layout.results_page);
  if (view.dialog) DrawDialog(*view.dialog, canvas, layout);
  return layout;
}

}  // namespace kc
