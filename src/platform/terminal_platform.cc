#include "platform/terminal_platform.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kc {

namespace {

// Characters of a message line as the instrument shows them.
constexpr std::size_t kScreenColumns = 40;
// Under a virtual clock a wait still looks at the keyboard this long.
constexpr double kVirtualWaitPoll = 0.05;
// An Esc followed this fast by more bytes starts a key sequence (arrows...).
constexpr double kEscapeSequenceGap = 0.03;

std::string Repeat(char c, std::size_t n) {
  return std::string(n, c);
}

// Characters of a UTF-8 text (the rendered instrument glyphs are several
// bytes each).
std::size_t Width(const std::string& text) {
  std::size_t width = 0;
  for (char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

// The text cut to `width` characters, never inside a character.
std::string Fit(const std::string& text, std::size_t width) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && count++ == width) {
      return text.substr(0, i);
    }
  }
  return text;
}

const char* IconMark(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kCritical:
      return "(x)";
    case MsgIcon::kExclamation:
      return "(!)";
    case MsgIcon::kInformation:
      return "(i)";
  }
  return "";
}

// Splits a prompt at its line breaks; other control characters as \xNN.
std::vector<std::string> PromptLines(const std::string& prompt) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < prompt.size(); ++i) {
    char c = prompt[i];
    if (c == '\r' && i + 1 < prompt.size() && prompt[i + 1] == '\n') continue;
    if (c == '\n' || c == '\r') {
      lines.emplace_back();
    } else {
      lines.back() += OneLine(std::string(1, c));
    }
  }
  return lines;
}

}  // namespace

TerminalPlatform::TerminalPlatform(Clock& clock, int in_fd, int out_fd)
    : clock_(clock), in_fd_(in_fd), out_fd_(out_fd), rescue_(in_fd) {
  termios settings{};
  if (rescue_.saved() && tcgetattr(in_fd_, &settings) == 0) {
    settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    tcsetattr(in_fd_, TCSAFLUSH, &settings);
  }
  const char* term = std::getenv("TERM");
  in_place_ = isatty(out_fd_) != 0 && term != nullptr && std::strcmp(term, "dumb") != 0;
}

TerminalPlatform::~TerminalPlatform() = default;

void TerminalPlatform::Write(const std::string& text) {
  screen_rows_ = 0;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(out_fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the terminal is gone; nothing to show it on
    done += static_cast<std::size_t>(n);
  }
}

int TerminalPlatform::Columns() const {
  winsize size{};
  if (ioctl(out_fd_, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
  return 80;
}

bool TerminalPlatform::FillBuffer(double seconds) {
  if (end_of_input_) {
    if (seconds > 0) clock_.Pass(clock_.is_virtual() ? 0 : seconds);
    return false;
  }
  pollfd fds{in_fd_, POLLIN, 0};
  // A day at most: longer waits would not fit poll()'s milliseconds.
  int timeout_ms = static_cast<int>(std::lround(std::clamp(seconds, 0.0, 86400.0) * 1000.0));
  int ready = poll(&fds, 1, timeout_ms);
  if (ready <= 0) return false;
  unsigned char bytes[64];
  ssize_t n = ::read(in_fd_, bytes, sizeof bytes);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return false;
  if (n <= 0) {
    end_of_input_ = true;
    return true;
  }
  pending_.insert(pending_.end(), bytes, bytes + n);
  return true;
}

int TerminalPlatform::ReadKey(double seconds) {
  if (pending_.empty() && !FillBuffer(seconds) && pending_.empty()) return kNoKey;
  if (pending_.empty()) return end_of_input_ ? kEndOfInput : kNoKey;
  int key = pending_.front();
  pending_.pop_front();
  if (key == '\n') return kEnter;
  if (key != kEscape) return key;
  if (pending_.empty()) FillBuffer(kEscapeSequenceGap);
  if (pending_.empty()) return kEscape;
  // A key sequence: ESC [ params final, ESC O x, or ESC x. Skip it whole.
  int lead = pending_.front();
  pending_.pop_front();
  if (lead == '[') {
    while (!pending_.empty()) {
      int c = pending_.front();
      pending_.pop_front();
      if (c >= 0x40 && c <= 0x7e) break;
    }
  } else if (lead == 'O' && !pending_.empty()) {
    pending_.pop_front();
  }
  return kIgnored;
}

void TerminalPlatform::TakeInterrupt() {
  if (InterruptWatch::Take()) OnCtrlC();
}

void TerminalPlatform::OnCtrlC() {
  if (closing_ || close_pending()) {
    Write("\n");
    EndProcess(kExitInterruptedTwice, "interrupted while closing");
  }
  Write("\nClosing (Ctrl-C again ends at once)...\n");
  RequestClose();
}

void TerminalPlatform::HandleKey(int key) {
  if (key == kCtrlC) {
    OnCtrlC();
  } else if (key == kEndOfInput) {
    // The terminal is gone: the window is closed.
    if (!closing_) RequestClose();
  } else if (key == kIgnored) {
    // an unused key sequence
  } else if (intro_shown_) {
    Click();
  } else if ((key >= '1' && key <= '5') || key == 'm' || key == 'M') {
    DeliverKey(key);
  }
}

bool TerminalPlatform::ProcessInput(double seconds) {
  bool any = false;
  for (int key = ReadKey(seconds); key != kNoKey; key = ReadKey(0)) {
    any = true;
    HandleKey(key);
    if (key == kEndOfInput) break;
  }
  return any;
}

void TerminalPlatform::PumpEvents() {
  TakeInterrupt();
  if (clock_.is_virtual()) {
    ProcessInput(0);
  } else {
    // The wait for keys is this pump's tick.
    double start = clock_.Elapsed();
    if (ProcessInput(kRealPumpTick)) {
      double left = kRealPumpTick - (clock_.Elapsed() - start);
      if (left > 0) clock_.Pass(left);
    }
  }
  if (close_pending()) closing_ = true;
  DeliverEvents();
  if (clock_.is_virtual()) clock_.Pass(kVirtualPumpTick);
}

bool TerminalPlatform::WaitIdle(double max_seconds) {
  TakeInterrupt();
  if (close_pending()) return true;
  if (clock_.is_virtual()) {
    ProcessInput(std::min(max_seconds, kVirtualWaitPoll));
    clock_.Pass(max_seconds);
  } else {
    double end = clock_.Elapsed() + max_seconds;
    while (!close_pending()) {
      double left = end - clock_.Elapsed();
      if (left <= 0) break;
      // Back to the caller after a key: a bezel press may have ended its wait.
      if (ProcessInput(std::min(left, 0.05))) break;
      TakeInterrupt();
    }
  }
  TakeInterrupt();
  return close_pending();
}

void TerminalPlatform::SetCaption(const std::string& text) {
  Write(text + "\n" + Repeat('=', std::min<std::size_t>(text.size(), 78)) + "\n");
}

void TerminalPlatform::SetHint(const std::string& text) {
  Write(text + "\n\n");
}

void TerminalPlatform::ShowIntro(const std::string& text) {
  std::size_t width = std::min<std::size_t>(text.size(), static_cast<std::size_t>(Columns()) - 8);
  std::string rule = "  +" + Repeat('-', width + 4) + "+\n";
  Write("\n" + rule + "  |  " + Fit(text, width) + "  |\n" + rule + "\n");
  intro_shown_ = true;
}

void TerminalPlatform::HideIntro() {
  intro_shown_ = false;
}

MsgAnswer TerminalPlatform::MessageBox(const std::string& prompt, const std::string& title,
                                       MsgIcon icon, MsgButtons buttons) {
  const bool ok_cancel = buttons == MsgButtons::kOkCancel;
  const bool verdict = buttons == MsgButtons::kVerdict;
  std::string shown_title = title;
  shown_title.erase(shown_title.find_last_not_of(' ') + 1);
  std::string text = "\n+-- " + std::string(IconMark(icon)) + " " + OneLine(shown_title) + "\n";
  for (const std::string& line : PromptLines(prompt)) text += "| " + line + "\n";
  const char* keys = verdict     ? "+-- P = Pass, F = Fail, Enter or N = Not judged: "
                     : ok_cancel ? "+-- Enter = OK, Esc or C = Cancel: "
                                 : "+-- Enter = OK: ";
  Write(text + keys);

  MsgAnswer answer = MsgAnswer::kOk;
  for (;;) {
    TakeInterrupt();
    int key = ReadKey(0.1);
    if ((key == kNoKey && !end_of_input_) || key == kIgnored) continue;
    if (key == kCtrlC) {
      OnCtrlC();
      Write(keys);
      continue;
    }
    if (key == kEndOfInput || (key == kNoKey && end_of_input_)) {
      // Nobody is left to answer: the safe answer, and the window closes.
      if (!closing_) RequestClose();
      answer = UnattendedAnswer(buttons);
      break;
    }
    if (verdict) {
      if (key == 'p' || key == 'P') answer = MsgAnswer::kPass;
      if (key == 'f' || key == 'F') answer = MsgAnswer::kFail;
      if (key == kEnter || key == kEscape || key == 'n' || key == 'N') {
        answer = MsgAnswer::kNotJudged;
      }
      if (answer != MsgAnswer::kOk) break;
      continue;
    }
    if (key == kEnter || key == ' ') {
      answer = MsgAnswer::kOk;
      break;
    }
    if (key == kEscape || key == 'c' || key == 'C') {
      answer = ok_cancel ? MsgAnswer::kCancel : MsgAnswer::kOk;
      break;
    }
  }
  Write(std::string(AnswerName(answer)) + "\n\n");
  return answer;
}

void TerminalPlatform::ShowInstrumentScreen(const std::vector<std::string>& lines, int bells) {
  std::size_t width = static_cast<std::size_t>(std::max(20, Columns() - 6));
  std::vector<std::string> rows;
  std::string rule = "  +" + Repeat('-', kScreenColumns + 2) + "+";
  rows.push_back(rule + " bells " + std::to_string(bells));
  for (std::size_t i = lines.size(); i-- > 0;) {
    std::string number = std::to_string(i + 1);
    if (number.size() < 2) number = " " + number;
    std::string text = Fit(OneLine(lines[i]), width);
    std::size_t shown = Width(text);
    if (shown <= kScreenColumns) text += std::string(kScreenColumns - shown, ' ') + " |";
    rows.push_back(number + "| " + text);
  }
  rows.push_back(rule);
  rows.push_back(std::string("  ") + kKeyHelp);

  std::string text;
  if (in_place_ && screen_rows_ > 0) text += "\x1b[" + std::to_string(screen_rows_) + "A";
  for (const std::string& row : rows) text += "\r\x1b[2K" + row + "\n";
  if (!in_place_) {
    // A plain terminal gets the rows without control sequences.
    text.clear();
    for (const std::string& row : rows) text += row + "\n";
  }
  Write(text);
  screen_rows_ = static_cast<int>(rows.size());
}

}  // namespace kc
