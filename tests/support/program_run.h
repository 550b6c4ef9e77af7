// The built programs run as a user runs them, and the loopback plumbing the
// network suites share: child processes with their output in files, waits
// for events with generous deadlines, loopback ports and connections.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kc {

struct ProgramRun {
  int code = -1;
  std::string out;
  std::string err;
  // The last screen the headless run printed: "[screen NN] text" by line
  // number, glyphs rendered.
  std::map<int, std::string> screen;

  // The screen line, empty when blank.
  std::string Line(int line) const;
  // The whole last screen, for failure messages.
  std::string Screen() const;
};

// The program's path from KC_BIN_DIR; empty when it is not built there.
std::string ProgramPath();

// The arguments of the command the README shows between `marker` comments
// ("<!-- whole-checkout -->"): continuation lines joined as the shell joins
// them, the program's path and the redirection of standard input left out.
// Empty when there is no such command.
std::vector<std::string> ReadmeCommand(const std::string& marker);

// Runs the program with `args`; a run that hangs is killed after two minutes.
ProgramRun RunProgram(const std::vector<std::string>& args);

// The helpers of the network, adapter-cut and end-to-end suites.
namespace harness {

// kalventa-sim's path from KC_BIN_DIR; empty when it is not built there.
std::string SimProgramPath();

std::string ReadFile(const std::string& path);

// Polls `done` until it holds or `seconds` pass; false then.
bool WaitFor(const std::function<bool()>& done, double seconds);

// A child process with standard input from /dev/null and its output in
// files; killed when it is destroyed while still running.
class Process {
 public:
  Process(const std::string& binary, const std::vector<std::string>& args,
          const std::string& out_path, const std::string& err_path);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool running() const { return pid_ > 0 && !status_; }
  void Signal(int signal_number);
  // The exit status; -1 when it did not end within `seconds` (it is killed
  // then) or ended by a signal.
  int Wait(double seconds);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A folder under /tmp for one test's files, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// A listening loopback socket on a free port (-1 on failure) and its port.
int ListenLoopback(int* port);
// A connection to a loopback port; -1 when refused.
int ConnectLoopback(int port);
// A loopback port nobody listens on: bound, never listening, held open.
int RefusingLoopback(int* port);
bool SendAll(int fd, const std::string& bytes);
// Reads until `*text` ends with `end`; false when the connection closes or
// `seconds` pass first.
bool ReadUntil(int fd, const std::string& end, double seconds, std::string* text);
// True when the peer closes the connection within `seconds` without sending
// (an ignored connection stays open: false).
bool ClosedByPeer(int fd, double seconds);

}  // namespace harness
}  // namespace kc
