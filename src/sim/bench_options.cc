#include "sim/bench_options.h"

#include <CLI/CLI.hpp>
#include <set>

#include "platform/text.h"
#include "sim/faults.h"
#include "sim/script_technician.h"
#include "sim/sim_devices.h"

namespace kc {

namespace {

// A value the command line cannot take: CLI11 reports it as a usage error
// with exactly this message.
[[noreturn]] void Refuse(const std::string& message) {
  throw CLI::ValidationError(message);
}

// "ADDR=KIND", read once into the device's address and the text the rig
// builds it from.
SimDeviceOption ReadDevice(const std::string& text) {
  std::size_t equals = text.find('=');
  if (equals == std::string::npos) Refuse("bad --sim-device \"" + text + "\": expected ADDR=KIND");
  std::string address_text = text.substr(0, equals);
  std::optional<int> address =
      address_text.size() <= 2 ? WholeNumber(address_text, 1, 30) : std::nullopt;
  if (!address)
    Refuse("bad GPIB address \"" + address_text + "\": an address is a number from 1 to 30");
  if (equals + 1 == text.size())
    Refuse("bad --sim-device \"" + text + "\": the kind after \"=\" is missing");
  std::string problem;
  if (!ParseDeviceSpec(text, &problem)) Refuse("bad --sim-device: " + problem);
  return {*address, text.substr(equals + 1), text};
}

}  // namespace

std::string BusHelp() {
  return BusRegistry::Builtin().Help() +
         "--sim-device and --operator belong to the simulated bus. With a real bus\n"
         "--virtual-time skips the program's own waits (the adapter's time-outs still\n"
         "run on the wall clock): only for an instrument simulated by kalventa-sim.\n";
}

void AddBenchOptions(CLI::App& app, BenchSettings& settings) {
  app.add_option_function<std::string>(
      "--bus",
      [&settings](const std::string& text) {
        std::string problem;
        std::optional<BusName> bus = ParseBusName(text, &problem);
        if (!bus) Refuse(problem);
        settings.bus = *bus;
      },
      "The bus with the oscilloscope (see Buses below)");
  app.add_option_function<std::vector<std::string>>(
      "--sim-device",
      [&settings](const std::vector<std::string>& texts) {
        for (const std::string& text : texts) settings.sim_devices.push_back(ReadDevice(text));
      },
      "Another device on the simulated bus, ADDR=KIND (may be repeated)");
  app.add_option_function<std::string>(
      "--operator",
      [&settings](const std::string& script) {
        std::string problem = ScriptTechnician::Check(script);
        if (!problem.empty()) Refuse("bad --operator script: " + problem);
        settings.operator_script = script;
      },
      "Script of the simulated technician, such as b1,b2@3.5,trim,leave "
      "(default: the keyboard)");
  app.add_option_function<std::vector<std::string>>(
      "--fault",
      [&settings](const std::vector<std::string>& texts) {
        for (const std::string& text : texts) {
          std::string problem;
          if (!ParseFault(text, &problem)) Refuse(problem);
          settings.faults.push_back(text);
        }
      },
      "A fault of the simulated oscilloscope, NAME=VALUE (may be repeated; see Faults below)");
  app.add_option_function<std::string>(
      "--seed",
      [&settings](const std::string& text) {
        // Digits only: a sign or an exponent is no seed.
        if (!AllDigits(text) || text.size() > 19)
          Refuse("bad --seed \"" + text + "\": a whole number of up to 19 digits");
        settings.seed = std::stoull(text);
      },
      "Seed of the simulated oscilloscope's noise, a whole number: the same seed gives the "
      "same readings (default: a new one each run)");
}

std::string FaultOptionHelp() {
  return "Faults of the simulated oscilloscope (--fault NAME=VALUE, may be repeated):\n" +
         FaultHelp() +
         "Without faults every model reads healthy and passes every check. --seed N\n"
         "makes the readings' noise the same from run to run.\n";
}

std::string TakeBenchOptions(const CLI::App& app, const BenchSettings& settings) {
  const SimTarget* sim = settings.bus.As<SimTarget>();
  if (sim == nullptr) {
    if (!settings.sim_devices.empty())
      return "--sim-device needs the simulated bus (--bus sim...), not \"" + settings.bus.text +
             "\"";
    if (app.count("--operator") > 0)
      return "--operator needs the simulated bus (--bus sim...): at a real instrument the "
             "technician presses its buttons";
    if (!settings.faults.empty() || settings.seed)
      return "--fault and --seed need the simulated bus (--bus sim...)";
    return {};
  }
  std::set<int> taken = {sim->address};
  for (const SimDeviceOption& device : settings.sim_devices)
    if (!taken.insert(device.address).second)
      return "GPIB address " + std::to_string(device.address) + " is used twice";
  return {};
}

SimRigSetup RigSetupFor(const BenchSettings& settings, bool keyboard) {
  SimRigSetup setup;
  if (const SimTarget* sim = settings.bus.As<SimTarget>()) {
    setup.model = sim->model;
    setup.address = sim->address;
  }
  for (const SimDeviceOption& device : settings.sim_devices)
    setup.extra_devices.push_back(device.text);
  setup.operator_script = settings.operator_script;
  setup.faults = settings.faults;
  setup.seed = settings.seed;
  setup.keyboard = keyboard;
  return setup;
}

}  // namespace kc
