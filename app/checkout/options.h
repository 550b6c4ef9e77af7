// The command line of kalventa-checkout:
//
//   kalventa-checkout [--bus BUS] [--sim-device ADDR=KIND]... [--operator SCRIPT]
//                     [--fault NAME=VALUE]... [--seed N] [--answers LIST] [--virtual-time]
//                     [--trace FILE] [--sequence [LIST]] [--show-screen] [--serial TEXT]
//                     [--technician TEXT] [--record-dir DIR | --no-record] [--help] [--version]
//
// Everything is checked before anything touches a bus: a bad value gives a
// message and the exit status 2. The bench options (--bus, --sim-device,
// --operator, --fault, --seed) are those of sim/bench_options.h.
#pragma once

#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "platform/command_line.h"
#include "platform/platform.h"
#include "sim/bench_options.h"

namespace kc {

inline constexpr const char* kProgramName = "kalventa-checkout";

struct Options : BenchSettings {
  // Answers for the message boxes of a run without a terminal.
  std::vector<MsgAnswer> answers;
  bool virtual_time = false;
  std::string trace_file;
  // Print the simulated instrument's screen after every change even without a
  // terminal.
  bool show_screen = false;
  // Checks to run in one go from the menu (--sequence); empty: none.
  std::vector<std::string> sequence;
  // The checkout record: the instrument's serial number and the technician
  // (empty when not given), its folder (empty: the default one), or none.
  std::string serial;
  std::string technician;
  std::string record_dir;
  bool no_record = false;
};

// Reads the answers list "ok,cancel,pass,fail,not-judged,...": the answers,
// or an error text.
std::variant<std::vector<MsgAnswer>, std::string> ParseAnswers(const std::string& text);

// Parses the command line into `options`. Returns -1 when the program should
// run; otherwise the exit status (0 after --help or --version, which are
// printed to `out`; kExitUsage after a message on `err`).
int ParseOptions(int argc, const char* const* argv, Options& options, std::ostream& out,
                 std::ostream& err);

}  // namespace kc
