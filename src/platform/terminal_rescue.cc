#include "platform/terminal_rescue.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/headless_platform.h"

namespace kc {

namespace {

// What is needed to give the terminal back from a signal handler.
struct Saved {
  volatile std::sig_atomic_t armed = 0;
  int in_fd = -1;
  int out_fd = -1;
  termios settings{};
  char leave[256] = {};
  std::size_t leave_length = 0;
};
Saved g_saved;
volatile std::sig_atomic_t g_hangup = 0;

void Restore() {
  if (g_saved.armed == 0) return;
  g_saved.armed = 0;
  std::size_t done = 0;
  while (done < g_saved.leave_length) {
    ssize_t n = ::write(g_saved.out_fd, g_saved.leave + done, g_saved.leave_length - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  tcsetattr(g_saved.in_fd, TCSAFLUSH, &g_saved.settings);
}

extern "C" void RescueAtExit() {
  Restore();
}

extern "C" void RescueOnHangup(int) {
  g_hangup = 1;
}

extern "C" void RescueOnTerminate(int signal_number) {
  Restore();
  std::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

TerminalRescue::TerminalRescue(int in_fd, bool watch_hangup) : watch_hangup_(watch_hangup) {
  g_saved.armed = 0;
  g_saved.leave_length = 0;
  if (tcgetattr(in_fd, &g_saved.settings) == 0) {
    g_saved.in_fd = in_fd;
    g_saved.armed = 1;
    saved_ = true;
    static bool at_exit_registered = false;
    if (!at_exit_registered) {
      std::atexit(RescueAtExit);
      at_exit_registered = true;
    }
  }
  InterruptWatch::SetLastWords(Restore);
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = RescueOnTerminate;
  sigaction(SIGTERM, &action, &previous_term_);
  if (watch_hangup_) {
    g_hangup = 0;
    action.sa_handler = RescueOnHangup;
    sigaction(SIGHUP, &action, &previous_hangup_);
  }
}

TerminalRescue::~TerminalRescue() {
  Restore();
  InterruptWatch::SetLastWords(nullptr);
  sigaction(SIGTERM, &previous_term_, nullptr);
  if (watch_hangup_) sigaction(SIGHUP, &previous_hangup_, nullptr);
}

void TerminalRescue::AddLeaveBytes(int out_fd, const char* text) {
  // A capability the terminal lacks reads as null or as (char*)-1.
  const auto* absent = reinterpret_cast<const char*>(-1);  // NOLINT(performance-no-int-to-ptr)
  if (text == nullptr || text == absent) return;
  std::size_t length = std::strlen(text);
  if (g_saved.leave_length + length >= sizeof g_saved.leave) return;
  g_saved.out_fd = out_fd;
  std::memcpy(g_saved.leave + g_saved.leave_length, text, length);
  g_saved.leave_length += length;
}

void TerminalRescue::Disarm() {
  g_saved.armed = 0;
}

bool TerminalRescue::TakeHangup() {
  if (g_hangup == 0) return false;
  g_hangup = 0;
  return true;
}

}  // namespace kc
