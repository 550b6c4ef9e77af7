// Gives a terminal back as it was found on every way out of the program: when
// its owner is done, at exit(), on SIGTERM (the process then dies of the
// signal, as the shell expects) and on a second Ctrl-C that ends the run at
// once. Optionally notes SIGHUP (the terminal closed) for its owner to take.
//
// One rescue at a time: it keeps what it restores where signal handlers can
// reach it, and touches it there only with async-signal-safe calls.
#pragma once

#include <csignal>

namespace kc {

class TerminalRescue {
 public:
  // Saves the settings of the terminal on `in_fd` (nothing to restore when it
  // is no terminal) and takes SIGTERM, and SIGHUP when `watch_hangup`.
  explicit TerminalRescue(int in_fd, bool watch_hangup = false);
  // Restores the terminal (unless disarmed) and the previous signal handlers.
  ~TerminalRescue();
  TerminalRescue(const TerminalRescue&) = delete;
  TerminalRescue& operator=(const TerminalRescue&) = delete;

  // Whether the terminal's settings were saved.
  bool saved() const { return saved_; }

  // Bytes written to `out_fd` before the settings are restored, such as those
  // that leave a full-screen mode; null texts (a capability the terminal does
  // not have) are passed over, and what does not fit in a small buffer is
  // left out.
  void AddLeaveBytes(int out_fd, const char* text);

  // The owner gives the terminal back itself from now on: nothing is restored
  // on the way out any more.
  void Disarm();

  // True once per SIGHUP received since the last call (when watched).
  static bool TakeHangup();

 private:
  bool saved_ = false;
  bool watch_hangup_ = false;
  struct sigaction previous_term_ {};
  struct sigaction previous_hangup_ {};
};

}  // namespace kc
