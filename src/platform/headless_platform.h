// The platform for runs without a terminal (pipes, CI): everything the window
// would show is written to a stream as tagged lines, message boxes are answered
// from a list, and Ctrl-C (SIGINT) is the window's close request.
//
// Output lines, one per event:
//   [caption] <text>
//   [hint] <text>
//   [intro] <text>
//   [box] <title> (<icon>, <buttons>): <prompt, line breaks as " / "> -> <answer>
//                               buttons OK, OK/Cancel or Pass/Fail/Not judged
//   [box reason] <text>         after a box shown while the bus back end has
//                               said why (Platform::SetMessageDetail)
//   [screen NN] <text>          instrument screen lines that are not blank,
//                               top (16) to bottom (1)
//   [screen] bells <n>          closes a screen block
// The instrument screen is printed after every change only when asked
// (set_echo_screen); PrintScreen prints the last one seen, which the program
// does once when it ends, so a finished run shows what the instrument showed.
#pragma once

#include <csignal>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "platform/exit_codes.h"
#include "platform/platform.h"

namespace kc {

// Turns SIGINT into a close request for as long as it lives. A second SIGINT
// before the first has been taken ends the process at once (exit status 130),
// so a run that no longer reaches its event pump can still be stopped.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // True once per SIGINT received since the last call.
  static bool Take();
  // Raised by hand (tests, the terminal's own Ctrl-C handling).
  static void Raise();
  // Called (from the signal handler, so it must be async-signal-safe) just
  // before the process ends on a second SIGINT; the terminal restores itself.
  static void SetLastWords(void (*hook)());

 private:
  struct sigaction previous_ {};
};

// "OK/Cancel"-style names used in the tagged output.
const char* IconName(MsgIcon icon);
const char* ButtonsName(MsgButtons buttons);
const char* AnswerName(MsgAnswer answer);
// A prompt on one line: each run of line breaks becomes " / ", other control
// characters appear as \xNN.
std::string OneLine(const std::string& text);

class HeadlessPlatform : public Platform {
 public:
  // `answers` answer the message boxes in order, one per box (an OK box only
  // has OK, whatever its entry says; an entry a box does not offer, such as
  // "pass" at an OK/Cancel box, counts as used up). When they are used up an
  // OK/Cancel box gets Cancel, so an unattended run never loops on an error,
  // a verdict box Not judged, and an OK box OK.
  HeadlessPlatform(Clock& clock, std::ostream& out, std::vector<MsgAnswer> answers = {});

  Clock& clock() override { return clock_; }
  void PumpEvents() override;
  bool WaitIdle(double max_seconds) override;
  void SetCaption(const std::string& text) override;
  void SetHint(const std::string& text) override;
  void ShowIntro(const std::string& text) override;
  void HideIntro() override {}
  MsgAnswer MessageBox(const std::string& prompt, const std::string& title, MsgIcon icon,
                       MsgButtons buttons) override;
  void ShowInstrumentScreen(const std::vector<std::string>& lines, int bells) override;

  // Writes `text` on `note` once, at the program's first idle wait on the
  // bus: on a real bus that is a wait for the technician at the instrument,
  // which would otherwise be silent.
  void SayWhenWaiting(std::ostream& note, std::string text);

  // Print every instrument screen change, not only the last one.
  void set_echo_screen(bool echo) { echo_screen_ = echo; }
  // Prints the last instrument screen seen; nothing when none was shown or it
  // was blank.
  void PrintScreen();

 private:
  // Turns a received SIGINT into a close request; one received after the
  // close has begun ends the run at once.
  void TakeInterrupt();

  Clock& clock_;
  std::ostream& out_;
  std::deque<MsgAnswer> answers_;
  bool echo_screen_ = false;
  std::vector<std::string> screen_;
  int bells_ = 0;
  bool closing_ = false;
  std::ostream* wait_note_ = nullptr;
  std::string wait_text_;
  InterruptWatch interrupts_;
};

}  // namespace kc
