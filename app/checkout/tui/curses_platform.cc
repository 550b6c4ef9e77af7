#include "app/checkout/tui/curses_platform.h"

#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>

#include "app/checkout/tui/curses_look.h"
#include "platform/exit_codes.h"
#include "sim/screen_text.h"

// Last, and functions only: curses defines ERR and OK, and its macros (move,
// clear, timeout...) would clash with ordinary names.
#define NCURSES_NOMACROS
#include <curses.h>

namespace kc {

namespace {

// Longest real-time slice of a wait between looks at the window.
constexpr double kWaitSlice = 0.05;
// Under a virtual clock a wait still looks at the keyboard this long.
constexpr double kVirtualWaitPoll = 0.05;
// How long a dialog waits for input between redraws.
constexpr double kDialogPoll = 0.1;
// Times an input that poll() reports ready may read as nothing before the
// terminal counts as gone (end of file).
constexpr int kEmptyReadsForGone = 3;
constexpr auto kBellFlash = std::chrono::milliseconds(250);
constexpr auto kPressShown = std::chrono::milliseconds(180);
// How often the front panel looks at the instrument (acquiring its traces
// takes a while).
constexpr auto kProbeInterval = std::chrono::milliseconds(100);
constexpr int kEscape = 27;
constexpr int kCtrlC = 3;
constexpr int kCtrlL = 12;
constexpr int kMenuOffButton = 6;

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

std::unique_ptr<CursesPlatform> CursesPlatform::Open(Clock& clock) {
  std::unique_ptr<CursesPlatform> platform(new CursesPlatform(clock));
  if (!platform->Start()) return nullptr;
  return platform;
}

CursesPlatform::CursesPlatform(Clock& clock) : clock_(clock) {}

bool CursesPlatform::Start() {
  if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) return false;
  const char* term = std::getenv("TERM");
  if (term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0) return false;
  // Only the character type follows the environment: numbers keep their
  // decimal point whatever the language.
  std::setlocale(LC_CTYPE, "");
  utf8_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;

  rescue_.emplace(STDIN_FILENO, /*watch_hangup=*/true);
  if (!rescue_->saved()) return false;
  screen_ = newterm(nullptr, stdout, stdin);
  if (screen_ == nullptr) return false;
  set_term(screen_);
  started_ = true;
  rescue_->AddLeaveBytes(STDOUT_FILENO, "\x1b[?1000l\x1b[?1002l\x1b[?1006l");
  for (const char* name : {"sgr0", "rmcup", "cnorm"})
    rescue_->AddLeaveBytes(STDOUT_FILENO, tigetstr(name));

  // Ctrl-C stays a signal, so that it is seen even while the program is
  // blocked in a driver call.
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  set_escdelay(25);
  curs_set(0);
  mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
  mouseinterval(0);
  if (has_colors()) {
    start_color();
    use_default_colors();
    InitLooks();
    colours_ = true;
  }
  dirty_ = true;
  return true;
}

CursesPlatform::~CursesPlatform() {
  if (!started_) return;
  // curses gives the terminal back itself; the rescue then puts the signal
  // handlers back as it goes.
  rescue_->Disarm();
  endwin();
  delscreen(screen_);
}

void CursesPlatform::TakeSignals() {
  if (TerminalRescue::TakeHangup()) MarkGone();
  if (InterruptWatch::Take()) OnCtrlC();
}

void CursesPlatform::MarkGone() {
  gone_ = true;
  // The terminal is gone: the window is closed.
  if (!closing_ && !close_pending()) RequestClose();
}

void CursesPlatform::OnCtrlC() {
  if (closing_ || close_pending()) EndProcess(kExitInterruptedTwice, "interrupted while closing");
  view_.note = "Closing... (Ctrl-C again ends at once)";
  dirty_ = true;
  RequestClose();
}

bool CursesPlatform::ReadInput(double seconds) {
  if (gone_) return false;
  auto deadline = UiClock::now() + std::chrono::duration_cast<UiClock::duration>(
                                       std::chrono::duration<double>(std::max(0.0, seconds)));
  bool any = false;
  int empty_reads = 0;
  for (;;) {
    int key = getch();
    if (key != ERR) {
      HandleKey(key);
      any = true;
      continue;
    }
    if (any) return true;
    double left = Seconds(deadline - UiClock::now());
    if (left <= 0) return false;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    int ready = poll(&input, 1, static_cast<int>(left * 1000.0 + 0.999));
    if (ready < 0) {
      // A signal: a resize shows up as a key, anything else is taken by
      // the caller.
      if (errno != EINTR) return false;
      key = getch();
      if (key == ERR) return false;
      HandleKey(key);
      return true;
    }
    if (ready == 0) return false;
    if ((input.revents & POLLIN) == 0 || ++empty_reads > kEmptyReadsForGone) {
      MarkGone();
      return false;
    }
  }
}

void CursesPlatform::PressButton(int button) {
  // The instrument leaves on two MENU OFF presses in a row.
  view_.panel.menu_off_once = button == kMenuOffButton && !view_.panel.menu_off_once;
  pressed_ = button;
  press_until_ = UiClock::now() + kPressShown;
  dirty_ = true;
  DeliverKey(button == kMenuOffButton ? 'M' : '0' + button);
}

void CursesPlatform::HandleMouse() {
  MEVENT event{};
  if (getmouse(&event) != OK) return;
  if ((event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) == 0) return;
  // The form wants keys only; a click closes the results.
  if (view_.identity) return;
  if (view_.results && !view_.dialog) {
    view_.results.reset();
    dirty_ = true;
    return;
  }
  Hit hit = layout_.HitTest(event.y, event.x, view_.intro.has_value(), view_.dialog.has_value());
  switch (hit.target) {
    case Target::kNone:
      break;
    case Target::kIntro:
      Click();
      break;
    case Target::kClose:
      if (!closing_ && !close_pending()) OnCtrlC();
      break;
    case Target::kBezel:
      PressButton(hit.button);
      break;
    case Target::kMenuOff:
      PressButton(kMenuOffButton);
      break;
    case Target::kDialogOk:
      dialog_answer_ = MsgAnswer::kOk;
      break;
    case Target::kDialogCancel:
      dialog_answer_ = MsgAnswer::kCancel;
      break;
    case Target::kDialogChoice:
      if (view_.dialog) {
        const std::vector<MsgAnswer> answers = BoxAnswers(view_.dialog->buttons);
        const auto index = static_cast<std::size_t>(hit.button - 1);
        if (index < answers.size()) dialog_answer_ = answers[index];
      }
      break;
  }
}

void CursesPlatform::HandleKey(int key) {
  if (key == KEY_RESIZE || key == kCtrlL) {
    if (key == kCtrlL) clearok(curscr, TRUE);
    dirty_ = true;
    return;
  }
  if (key == KEY_MOUSE) {
    HandleMouse();
    return;
  }
  if (key == kCtrlC) {
    OnCtrlC();
    return;
  }
  if (view_.identity) {
    HandleFormKey(key);
    return;
  }
  if (view_.dialog) {
    DialogView& dialog = *view_.dialog;
    bool ok_cancel = dialog.buttons == MsgButtons::kOkCancel;
    const std::vector<MsgAnswer> answers = BoxAnswers(dialog.buttons);
    const auto at = static_cast<std::size_t>(
        std::find(answers.begin(), answers.end(), dialog.selected) - answers.begin());
    if (dialog.buttons == MsgButtons::kVerdict) {
      if (key == 'p' || key == 'P') dialog_answer_ = MsgAnswer::kPass;
      if (key == 'f' || key == 'F') dialog_answer_ = MsgAnswer::kFail;
      if (key == 'n' || key == 'N') dialog_answer_ = MsgAnswer::kNotJudged;
      if (key == 'o' || key == 'O' || key == 'c' || key == 'C') return;
    }
    switch (key) {
      case KEY_LEFT:
      case KEY_UP:
      case KEY_BTAB:
        dialog.selected = answers[(at + answers.size() - 1) % answers.size()];
        dirty_ = true;
        break;
      case KEY_RIGHT:
      case KEY_DOWN:
      case '\t':
        dialog.selected = answers[(at + 1) % answers.size()];
        dirty_ = true;
        break;
      case '\r':
      case '\n':
      case KEY_ENTER:
      case ' ':
        dialog_answer_ = dialog.selected;
        break;
      case kEscape:
        dialog_answer_ = UnattendedAnswer(dialog.buttons);
        break;
      case 'o':
      case 'O':
        dialog_answer_ = MsgAnswer::kOk;
        break;
      case 'c':
      case 'C':
        if (ok_cancel) dialog_answer_ = MsgAnswer::kCancel;
        break;
      default:
        break;
    }
    return;
  }
  if (view_.results) {
    HandleResultsKey(key);
    return;
  }
  if (view_.intro) {
    Click();
    return;
  }
  if ((key == 'r' || key == 'R') && results_source_) {
    view_.results = ResultsView{ResultsLines(results_source_()), 0};
    dirty_ = true;
  } else if (key >= '1' && key <= '5') {
    PressButton(key - '0');
  } else if (key == 'm' || key == 'M') {
    PressButton(kMenuOffButton);
  } else if ((key == 'u' || key == 'U') && toggle_cable_) {
    toggle_cable_();
    dirty_ = true;
  }
}

void CursesPlatform::Refresh() {
  auto now = UiClock::now();
  bool flash = now < flash_until_;
  int pressed = now < press_until_ ? pressed_ : 0;
  PanelView& panel = view_.panel;
  if (flash != panel.bell_flash || pressed != panel.pressed) {
    panel.bell_flash = flash;
    panel.pressed = pressed;
    dirty_ = true;
  }
  WatchRecord();
  std::string activity = activity_.Line(clock_.Elapsed());
  if (activity != panel.activity) {
    panel.activity = std::move(activity);
    dirty_ = true;
  }
  if (!probe_ || now < next_probe_) return;
  next_probe_ = now + kProbeInterval;
  PanelProbe probe = probe_();
  activity_.NoteInstrument(clock_.Elapsed(), probe.instrument_busy);
  if (!(probe.settings == panel.settings) || !(probe.bench == panel.bench) ||
      probe.acquired != panel.acquired || probe.service_request != panel.service_request ||
      probe.cable_plugged != panel.cable_plugged) {
    panel.settings = std::move(probe.settings);
    panel.bench = std::move(probe.bench);
    panel.acquired = std::move(probe.acquired);
    panel.service_request = probe.service_request;
    panel.cable_plugged = probe.cable_plugged;
    dirty_ = true;
  }
}

void CursesPlatform::NoteOwnWait(double seconds) {
  if (!(seconds >= ActivityWatch::kShortest)) return;
  std::optional<double> level;
  if (probe_) {
    // The settings as they are now: the step of a sweep has just been sent.
    next_probe_ = {};
    Refresh();
    level = view_.panel.settings.trigger_level;
  }
  activity_.NoteOwnWait(clock_.Elapsed(), seconds, level);
  Refresh();
  DrawIfNeeded();
}

void CursesPlatform::Draw() {
  int rows = 0;
  int cols = 0;
  getmaxyx(stdscr, rows, cols);
  Canvas canvas(cols, rows);
  layout_ = DrawWindow(view_, canvas);
  for (int r = 0; r < rows; ++r) {
    int c = 0;
    while (c < cols) {
      Style style = canvas.at(r, c).style;
      std::string run;
      int start = c;
      for (; c < cols && canvas.at(r, c).style == style; ++c) {
        const std::string& glyph = canvas.at(r, c).glyph;
        run += utf8_ ? glyph : std::string(1, AsciiFor(glyph, style));
      }
      UseLook(style, colours_);
      mvaddstr(r, start, run.c_str());
    }
  }
  attrset(A_NORMAL);
  wnoutrefresh(stdscr);
  doupdate();
  dirty_ = false;
}

void CursesPlatform::DrawIfNeeded() {
  if (dirty_ && !gone_) Draw();
}

void CursesPlatform::PumpEvents() {
  TakeSignals();
  Refresh();
  DrawIfNeeded();
  if (clock_.is_virtual()) {
    ReadInput(0);
  } else {
    // The wait for input is this pump's tick.
    double start = clock_.Elapsed();
    for (;;) {
      double left = kRealPumpTick - (clock_.Elapsed() - start);
      if (left <= 0) break;
      if (gone_) {
        clock_.Pass(left);
        break;
      }
      ReadInput(left);
    }
  }
  TakeSignals();
  Refresh();
  DrawIfNeeded();
  if (close_pending()) closing_ = true;
  DeliverEvents();
  if (clock_.is_virtual()) clock_.Pass(kVirtualPumpTick);
}

bool CursesPlatform::WaitIdle(double max_seconds) {
  TakeSignals();
  if (close_pending()) return true;
  Refresh();
  DrawIfNeeded();
  if (clock_.is_virtual()) {
    ReadInput(std::min(max_seconds, kVirtualWaitPoll));
    clock_.Pass(max_seconds);
  } else {
    double end = clock_.Elapsed() + max_seconds;
    while (!close_pending()) {
      double left = end - clock_.Elapsed();
      if (left <= 0) break;
      double slice = std::min(left, kWaitSlice);
      if (gone_) {
        clock_.Pass(slice);
      } else if (ReadInput(slice)) {
        // Back to the caller after input: a bezel press may end its wait.
        break;
      }
      TakeSignals();
      Refresh();
      DrawIfNeeded();
    }
  }
  TakeSignals();
  Refresh();
  DrawIfNeeded();
  return close_pending();
}

void CursesPlatform::SetCaption(const std::string& text) {
  view_.caption = text;
  dirty_ = true;
}

void CursesPlatform::SetHint(const std::string& text) {
  view_.hint = text;
  dirty_ = true;
}

void CursesPlatform::ShowIntro(const std::string& text) {
  view_.intro = text;
  dirty_ = true;
  DrawIfNeeded();
}

void CursesPlatform::HideIntro() {
  view_.intro.reset();
  dirty_ = true;
}

MsgAnswer CursesPlatform::MessageBox(const std::string& prompt, const std::string& title,
                                     MsgIcon icon, MsgButtons buttons) {
  // Nobody is left to answer: the safe answer.
  MsgAnswer unattended = UnattendedAnswer(buttons);
  TakeSignals();
  if (gone_) return unattended;
  // A verdict box starts on Not judged: Enter alone records no verdict.
  const MsgAnswer first = buttons == MsgButtons::kVerdict ? MsgAnswer::kNotJudged : MsgAnswer::kOk;
  view_.dialog = DialogView{title, prompt, icon, buttons, first, message_detail()};
  dialog_answer_.reset();
  dirty_ = true;
  // The dialog goes away however the wait ends (a second Ctrl-C ends the run
  // from here).
  struct Dismiss {
    CursesPlatform& platform;
    ~Dismiss() {
      platform.view_.dialog.reset();
      platform.dirty_ = true;
    }
  } dismiss{*this};
  while (!dialog_answer_) {
    Refresh();
    DrawIfNeeded();
    ReadInput(kDialogPoll);
    TakeSignals();
    if (gone_ && !dialog_answer_) dialog_answer_ = unattended;
  }
  return *dialog_answer_;
}

void CursesPlatform::ShowInstrumentScreen(const std::vector<std::string>& lines, int bells) {
  if (view_.panel.kind == PanelView::Kind::kNone) view_.panel.kind = PanelView::Kind::kSimulated;
  view_.panel.lines = lines;
  if (bells_seen_ >= 0 && bells > bells_seen_) flash_until_ = UiClock::now() + kBellFlash;
  bells_seen_ = bells;
  dirty_ = true;
  Refresh();
}

void CursesPlatform::MirrorMessageLine(int line, const std::string& text) {
  if (line < 1 || line > kScreenRows) return;
  if (view_.panel.kind == PanelView::Kind::kNone) view_.panel.kind = PanelView::Kind::kMirror;
  view_.panel.lines.resize(kScreenRows);
  view_.panel.lines[static_cast<std::size_t>(line - 1)] = RenderScreenText(text);
  dirty_ = true;
}

void CursesPlatform::ShowFrontPanel(std::string model, std::function<PanelProbe()> probe,
                                    std::function<void()> toggle_cable) {
  view_.panel.kind = PanelView::Kind::kSimulated;
  view_.panel.model = std::move(model);
  probe_ = std::move(probe);
  toggle_cable_ = std::move(toggle_cable);
  dirty_ = true;
  Refresh();
}

void CursesPlatform::ShowMirror() {
  view_.panel.kind = PanelView::Kind::kMirror;
  view_.panel.lines.resize(kScreenRows);
  dirty_ = true;
}

void CursesPlatform::ShowNote(const std::string& text) {
  view_.note = text;
  dirty_ = true;
}

void CursesPlatform::ForgetBench() {
  probe_ = nullptr;
  toggle_cable_ = nullptr;
}

}  // namespace kc
