// The command line of kalventa-checkout:
//
//   kalventa-checkout [--bus BUS] [--sim-device ADDR=KIND]... [--operator SCRIPT]
//                     [--fault NAME=VALUE]... [--seed N] [--answers LIST] [--virtual-time] [--trace
//                     FILE]
//                     [--show-screen] [--help] [--version]
//
// Everything is checked before anything touches a bus: a bad value gives a
// message and the exit status 2. The bus is named as link/bus_name.h reads
// it; the options of the simulated bench (--sim-device, --operator) are a
// usage error with any other bus, and so are --fault and --seed.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "kc_version.h"
#include "link/bus_name.h"
#include "platform/platform.h"

namespace CLI {
class App;
}  // namespace CLI

namespace kc {

inline constexpr const char* kProgramName = "kalventa-checkout";
inline constexpr const char* kProgramVersion = kVersion;

// An extra device on the simulated bus (--sim-device ADDR=KIND).
struct SimDeviceOption {
  int address = 0;
  std::string kind;
  // As given on the command line.
  std::string text;
};

struct Options {
  // The bus with the oscilloscope; for the simulated bus also its model and
  // address.
  BusName bus;
  std::vector<SimDeviceOption> sim_devices;
  // The simulated technician's script; absent: the keyboard of the terminal.
  std::optional<std::string> operator_script;
  // Faults of the simulated oscilloscope, as given ("ch1-gain=3").
  std::vector<std::string> faults;
  // Seed of the simulated oscilloscope's noise; absent: a new one each run.
  std::optional<std::uint64_t> seed;
  // Answers for the message boxes of a run without a terminal.
  std::vector<MsgAnswer> answers;
  bool virtual_time = false;
  std::string trace_file;
  // Print the simulated instrument's screen after every change even without a
  // terminal.
  bool show_screen = false;
};

// The options that set up the bus and its simulated bench (--bus,
// --sim-device, --operator, --fault, --seed) as given on the command line;
// kalventa-sim takes them too.
struct BenchOptionTexts {
  std::string bus = "sim:2440@1";
  std::vector<std::string> sim_devices;
  std::string operator_script;
  std::vector<std::string> faults;
  std::string seed;
};

// Adds --bus, --sim-device, --operator, --fault and --seed to `app`, read
// into `texts`.
void AddBenchOptions(CLI::App& app, BenchOptionTexts& texts);
// Checks what AddBenchOptions read after `app` has parsed and stores it in
// `options` (bus, sim_devices, operator_script, faults, seed). The text of
// the usage error, or empty.
std::string TakeBenchOptions(const CLI::App& app, const BenchOptionTexts& texts, Options& options);
// The help on bus names: each form with an example.
std::string BusHelp();
// The help on the simulated oscilloscope's faults and seed.
std::string FaultOptionHelp();

// A usage error of `program`: the message and a hint on --help to `err`;
// kExitUsage.
int UsageError(const char* program, const std::string& message, std::ostream& err);
// Parses the command line with `app`. -1 when the program should go on;
// otherwise the exit status: 0 after --help or --version (printed to `out`),
// kExitUsage after a usage error on `err`.
int ParseCommandLine(CLI::App& app, int argc, const char* const* argv, const char* program,
                     std::ostream& out, std::ostream& err);

// Reads the answers list "ok,cancel,...": the answers, or an error text.
std::variant<std::vector<MsgAnswer>, std::string> ParseAnswers(const std::string& text);

// Parses the command line into `options`. Returns -1 when the program should
// run; otherwise the exit status (0 after --help or --version, which are
// printed to `out`; kExitUsage after a message on `err`).
int ParseOptions(int argc, const char* const* argv, Options& options, std::ostream& out,
                 std::ostream& err);

}  // namespace kc
