// Runs the built kalventa-checkout as a user runs it without a terminal
// (standard input from /dev/null) and reads what it printed: the exit status,
// standard output and error, and the instrument's last screen.
#pragma once

#include <map>
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

}  // namespace kc
