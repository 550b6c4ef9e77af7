// The command-line options that set up the bus and its simulated bench
// (--bus, --sim-device, --operator, --fault, --seed), shared by
// kalventa-checkout and kalventa-sim. The bus is named as link/bus_name.h
// reads it; the options of the simulated bench are a usage error with any
// other bus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/bus_name.h"
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

// The bench options as given on the command line.
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
// `settings`. The text of the usage error, or empty.
std::string TakeBenchOptions(const CLI::App& app, const BenchOptionTexts& texts,
                             BenchSettings& settings);
// The help on bus names: each form with an example.
std::string BusHelp();
// The help on the simulated oscilloscope's faults and seed.
std::string FaultOptionHelp();

// The simulated rig the settings describe (they name the simulated bus);
// `keyboard`: a terminal's keys reach the instrument.
SimRigSetup RigSetupFor(const BenchSettings& settings, bool keyboard);

}  // namespace kc
