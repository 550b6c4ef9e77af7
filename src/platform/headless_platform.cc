#include "platform/headless_platform.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kc {

namespace {

volatile std::sig_atomic_t g_interrupts = 0;
void (*volatile g_last_words)() = nullptr;

extern "C" void OnInterrupt(int) {
  if (g_interrupts > 0) {
    // The first request has not been taken yet: the run is not pumping events,
    // so it would never see this one either.
    if (g_last_words != nullptr) g_last_words();
    static const char kNote[] = "\nkalventa-checkout: interrupted\n";
    ssize_t ignored = write(STDERR_FILENO, kNote, sizeof kNote - 1);
    (void)ignored;
    _exit(kExitInterruptedTwice);
  }
  g_interrupts = 1;
}

// Real-time waits sleep in slices this long so that an interrupt is seen soon.
constexpr double kWaitSlice = 0.02;

}  // namespace

InterruptWatch::InterruptWatch() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  g_interrupts = 0;
  sigaction(SIGINT, &action, &previous_);
}

InterruptWatch::~InterruptWatch() {
  sigaction(SIGINT, &previous_, nullptr);
  g_interrupts = 0;
}

bool InterruptWatch::Take() {
  if (g_interrupts == 0) return false;
  g_interrupts = 0;
  return true;
}

void InterruptWatch::Raise() {
  g_interrupts = 1;
}

void InterruptWatch::SetLastWords(void (*hook)()) {
  g_last_words = hook;
}

const char* IconName(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kCritical:
      return "critical";
    case MsgIcon::kExclamation:
      return "exclamation";
    case MsgIcon::kInformation:
      return "information";
  }
  return "?";
}

const char* ButtonsName(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::kOkCancel:
      return "OK/Cancel";
    case MsgButtons::kVerdict:
      return "Pass/Fail/Not judged";
    case MsgButtons::kOk:
      break;
  }
  return "OK";
}

const char* AnswerName(MsgAnswer answer) {
  switch (answer) {
    case MsgAnswer::kCancel:
      return "Cancel";
    case MsgAnswer::kPass:
      return "Pass";
    case MsgAnswer::kFail:
      return "Fail";
    case MsgAnswer::kNotJudged:
      return "Not judged";
    case MsgAnswer::kOk:
      break;
  }
  return "OK";
}

std::string OneLine(const std::string& text) {
  std::string result;
  bool in_break = false;
  for (char c : text) {
    if (c == '\n' || c == '\r') {
      if (!in_break) result += " / ";
      in_break = true;
      continue;
    }
    in_break = false;
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      result += escaped;
    } else {
      result += c;
    }
  }
  return result;
}

HeadlessPlatform::HeadlessPlatform(Clock& clock, std::ostream& out, std::vector<MsgAnswer> answers)
    : clock_(clock), out_(out), answers_(answers.begin(), answers.end()) {}

void HeadlessPlatform::TakeInterrupt() {
  if (!InterruptWatch::Take()) return;
  if (closing_) {
    out_.flush();
    EndProcess(kExitInterruptedTwice, "interrupted while closing");
  }
  RequestClose();
}

void HeadlessPlatform::PumpEvents() {
  TakeInterrupt();
  if (close_pending()) closing_ = true;
  DeliverEvents();
  if (clock_.is_virtual()) {
    clock_.Pass(kVirtualPumpTick);
  } else {
    clock_.Pass(kRealPumpTick);
  }
}

void HeadlessPlatform::SayWhenWaiting(std::ostream& note, std::string text) {
  wait_note_ = &note;
  wait_text_ = std::move(text);
}

bool HeadlessPlatform::WaitIdle(double max_seconds) {
  TakeInterrupt();
  if (wait_note_ != nullptr) {
    *wait_note_ << wait_text_ << std::endl;
    wait_note_ = nullptr;
  }
  if (clock_.is_virtual()) {
    clock_.Pass(max_seconds);
    return close_pending();
  }
  double end = clock_.Elapsed() + max_seconds;
  while (!close_pending()) {
    double left = end - clock_.Elapsed();
    if (left <= 0) break;
    clock_.Pass(std::min(left, kWaitSlice));
    TakeInterrupt();
  }
  return close_pending();
}

void HeadlessPlatform::SetCaption(const std::string& text) {
  out_ << "[caption] " << text << '\n' << std::flush;
}

void HeadlessPlatform::SetHint(const std::string& text) {
  out_ << "[hint] " << text << '\n' << std::flush;
}

void HeadlessPlatform::ShowIntro(const std::string& text) {
  out_ << "[intro] " << text << '\n' << std::flush;
}

MsgAnswer HeadlessPlatform::MessageBox(const std::string& prompt, const std::string& title,
                                       MsgIcon icon, MsgButtons buttons) {
  MsgAnswer answer = UnattendedAnswer(buttons);
  if (!answers_.empty()) {
    // An answer the box does not offer counts as nobody's answer.
    const std::vector<MsgAnswer> offered = BoxAnswers(buttons);
    if (offered.size() > 1 &&
        std::find(offered.begin(), offered.end(), answers_.front()) != offered.end()) {
      answer = answers_.front();
    }
    answers_.pop_front();
  }
  // Some titles are widened with trailing blanks; they carry nothing here.
  std::string shown_title = title;
  shown_title.erase(shown_title.find_last_not_of(' ') + 1);
  out_ << "[box] " << OneLine(shown_title) << " (" << IconName(icon) << ", " << ButtonsName(buttons)
       << "): " << OneLine(prompt) << " -> " << AnswerName(answer) << '\n';
  if (!message_detail().empty()) out_ << "[box reason] " << OneLine(message_detail()) << '\n';
  out_ << std::flush;
  return answer;
}

void HeadlessPlatform::ShowInstrumentScreen(const std::vector<std::string>& lines, int bells) {
  screen_ = lines;
  bells_ = bells;
  if (echo_screen_) PrintScreen();
}

void HeadlessPlatform::PrintScreen() {
  bool blank = std::all_of(screen_.begin(), screen_.end(), [](const std::string& line) {
    return line.find_first_not_of(' ') == std::string::npos;
  });
  if (blank) return;
  for (std::size_t i = screen_.size(); i-- > 0;) {
    if (screen_[i].find_first_not_of(' ') == std::string::npos) continue;
    std::string number = std::to_string(i + 1);
    if (number.size() < 2) number = "0" + number;
    out_ << "[screen " << number << "] " << OneLine(screen_[i]) << '\n';
  }
  out_ << "[screen] bells " << bells_ << '\n' << std::flush;
}

}  // namespace kc
