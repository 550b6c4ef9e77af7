// The platform on an interactive terminal: the window's caption and hint as
// header lines, the intro as a banner, message boxes as modal prompts answered
// from the keyboard, and a line-oriented view of the simulated instrument's
// screen with its bezel buttons on the keys 1 to 5.
//
// Keys: Enter = OK, Esc or c = Cancel in a box; 1..5 and m/M go to the key
// handler (the simulated front panel); any key closes the intro; Ctrl-C is the
// window's close request, and a second Ctrl-C once closing has begun ends the
// run at once. The terminal is put into raw mode (no echo, no line editing,
// Ctrl-C read as a byte) and restored on every way out: destruction, exit(),
// a second interrupt, SIGTERM.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/headless_platform.h"
#include "platform/platform.h"
#include "platform/terminal_rescue.h"

namespace kc {

class TerminalPlatform : public Platform {
 public:
  // Reads keys from `in_fd` and writes to `out_fd` (both normally the
  // terminal).
  TerminalPlatform(Clock& clock, int in_fd = 0, int out_fd = 1);
  ~TerminalPlatform() override;
  TerminalPlatform(const TerminalPlatform&) = delete;
  TerminalPlatform& operator=(const TerminalPlatform&) = delete;

  Clock& clock() override { return clock_; }
  void PumpEvents() override;
  bool WaitIdle(double max_seconds) override;
  void SetCaption(const std::string& text) override;
  void SetHint(const std::string& text) override;
  void ShowIntro(const std::string& text) override;
  void HideIntro() override;
  MsgAnswer MessageBox(const std::string& prompt, const std::string& title, MsgIcon icon,
                       MsgButtons buttons) override;
  void ShowInstrumentScreen(const std::vector<std::string>& lines, int bells) override;

  static constexpr const char* kKeyHelp = "keys 1-5 bezel, M twice MENU OFF, Ctrl-C close";

 private:
  // Key codes besides plain characters.
  static constexpr int kNoKey = -1;
  static constexpr int kEndOfInput = -2;
  static constexpr int kIgnored = -3;
  static constexpr int kEnter = '\r';
  static constexpr int kEscape = 27;
  static constexpr int kCtrlC = 3;

  // Waits up to `seconds` for the next key.
  int ReadKey(double seconds);
  // Reads what has arrived within `seconds`; false when nothing had.
  bool FillBuffer(double seconds);
  // Handles the keys that arrive within `seconds`; true when any did.
  bool ProcessInput(double seconds);
  void HandleKey(int key);
  void OnCtrlC();
  void TakeInterrupt();
  void Write(const std::string& text);
  int Columns() const;

  Clock& clock_;
  int in_fd_;
  int out_fd_;
  bool end_of_input_ = false;
  bool intro_shown_ = false;
  bool closing_ = false;
  bool in_place_ = false;
  // Rows of the instrument view just above the cursor, when nothing else has
  // been written since it was drawn (it is then redrawn in place).
  int screen_rows_ = 0;
  std::deque<unsigned char> pending_;
  TerminalRescue rescue_;
  InterruptWatch interrupts_;
};

}  // namespace kc
