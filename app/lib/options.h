// The command line of kalventa-checkout:
//
//   kalventa-checkout [--bus BUS] [--sim-device ADDR=KIND]... [--operator SCRIPT]
//                     [--answers LIST] [--virtual-time] [--trace FILE]
//                     [--show-screen] [--help] [--version]
//
// Everything is checked before anything touches a bus: a bad value gives a
// message and the exit status 2.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "platform/platform.h"

namespace kc {

inline constexpr const char* kProgramName = "kalventa-checkout";
inline constexpr const char* kProgramVersion = "2.0";

// Which bus the checkout runs on, as named by --bus SCHEME[:...].
struct BusSpec {
  std::string scheme;  // "sim", ...
  // The simulated bus: the oscilloscope's model and its address.
  std::string model = "2440";
  int address = 1;
  // The text the bus was named by.
  std::string text;
};

// A bus scheme: its name, a one-line usage for --help, and the parser of what
// follows the scheme name (the whole text is passed; the result is the spec or
// an error text).
struct BusScheme {
  std::string name;
  std::string usage;
  std::function<std::variant<BusSpec, std::string>(const std::string& text)> parse;
};

// The schemes --bus knows; new controllers add themselves here.
std::vector<BusScheme>& BusSchemes();
// Parses a --bus value by its scheme: the spec, or an error text.
std::variant<BusSpec, std::string> ParseBus(const std::string& text);

// An extra device on the simulated bus (--sim-device ADDR=KIND).
struct SimDeviceOption {
  int address = 0;
  std::string kind;
  // As given on the command line.
  std::string text;
};

struct Options {
  BusSpec bus;
  std::vector<SimDeviceOption> sim_devices;
  // The simulated technician's script; absent: the keyboard of the terminal.
  std::optional<std::string> operator_script;
  // Answers for the message boxes of a run without a terminal.
  std::vector<MsgAnswer> answers;
  bool virtual_time = false;
  std::string trace_file;
  // Print the simulated instrument's screen after every change even without a
  // terminal.
  bool show_screen = false;
};

// Reads the answers list "ok,cancel,...": the answers, or an error text.
std::variant<std::vector<MsgAnswer>, std::string> ParseAnswers(const std::string& text);

// Parses the command line into `options`. Returns -1 when the program should
// run; otherwise the exit status (0 after --help or --version, which are
// printed to `out`; kExitUsage after a message on `err`).
int ParseOptions(int argc, const char* const* argv, Options& options, std::ostream& out,
                 std::ostream& err);

}  // namespace kc
