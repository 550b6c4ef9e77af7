// The command-line options that set up the bus and its simulated bench
// (--bus, --sim-device, --operator, --fault, --seed), shared by
// kalventa-checkout and kalventa-sim. Each is read once, into its typed
// value, while the command line is parsed (the bus as the bus registry reads
// it); the options of the simulated bench are a usage error with any other
// bus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/bus_registry.h"
#include "sim/rig.h"

namespace CLI {
class App;
}  // namespace CLI

namespace kc {

// An extra device on the simulated bus (--sim-device ADDR=KIND).
struct SimDeviceOption {
  int address = 0;
  std::string kind;
  // As given on the command line.
  std::string text;
};

// The bus and its simulated bench as the command line chose them.
struct BenchSettings {
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
};

// Adds --bus, --sim-device, --operator, --fault and --seed to `app`, each
// read into `settings` as it is parsed; a bad value is a parse error with a
// message that says what is wrong.
void AddBenchOptions(CLI::App& app, BenchSettings& settings);
// What can only be checked once the whole command line is read (the
// simulated bench's options with another bus, an address used twice): the
// text of the usage error, or empty.
std::string TakeBenchOptions(const CLI::App& app, const BenchSettings& settings);
// The help on bus names: each form with an example.
std::string BusHelp();
// The help on the simulated oscilloscope's faults and seed.
std::string FaultOptionHelp();

// The simulated rig the settings describe (they name the simulated bus);
// `keyboard`: a terminal's keys reach the instrument.
SimRigSetup RigSetupFor(const BenchSettings& settings, bool keyboard);

}  // namespace kc
