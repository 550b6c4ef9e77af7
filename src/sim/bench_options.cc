#include "sim/bench_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <set>

#include "sim/faults.h"
#include "sim/script_technician.h"
#include "sim/sim_devices.h"

namespace kc {

namespace {

constexpr int kLowestAddress = 1;
constexpr int kHighestAddress = 30;

// A GPIB primary address written as plain decimal digits, 1 to 30.
std::optional<int> ParseAddress(const std::string& text) {
  if (text.empty() || text.size() > 2) return std::nullopt;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  int address = std::stoi(text);
  if (address < kLowestAddress || address > kHighestAddress) return std::nullopt;
  return address;
}

std::string AddressError(const std::string& text) {
  return "bad GPIB address \"" + text + "\": an address is a number from 1 to 30";
}

}  // namespace

std::string BusHelp() {
  return "Buses (--bus):\n"
         "  sim[:MODEL][@ADDR]     the built-in simulated oscilloscope (default sim:2440@1):\n"
         "                         MODEL 2430 2430A 2431L 2432 2432A 2439L 2440 or any name\n"
         "                         of letters and digits, ADDR 1..30; e.g. sim:2432A@7\n"
         "  prologix://HOST[:PORT] a Prologix GPIB-ETHERNET, or an AR488 on the network,\n"
         "                         port 1234 unless given (IPv6 in brackets);\n"
         "                         e.g. prologix://192.168.1.50, prologix://127.0.0.1:40123\n"
         "  prologix:DEVICE[:BAUD] a Prologix GPIB-USB or an AR488 on a serial port, 115200\n"
         "                         baud unless given; e.g. prologix:/dev/ttyUSB0\n"
         "  ...?addr=A[,B...]      after a prologix name: the instruments' GPIB addresses,\n"
         "                         taken instead of a listener search (a Prologix has\n"
         "                         none); e.g. prologix:/dev/ttyUSB0?addr=1\n"
         "  gpib:N                 linux-gpib board N (0..15); e.g. gpib:0\n"
         "  PRLGX-TCPIP::HOST::PORT::INTFC   as prologix://HOST:PORT;\n"
         "                         e.g. PRLGX-TCPIP::192.168.1.50::1234::INTFC\n"
         "  PRLGX-ASRL::DEVICE::INTFC        as prologix:DEVICE;\n"
         "                         e.g. PRLGX-ASRL::/dev/ttyUSB0::INTFC\n"
         "  GPIB[N]::INTFC         as gpib:N; e.g. GPIB0::INTFC\n"
         "--sim-device and --operator belong to the simulated bus. With a real bus\n"
         "--virtual-time skips the program's own waits (the adapter's time-outs still\n"
         "run on the wall clock): only for an instrument simulated by kalventa-sim.\n";
}

void AddBenchOptions(CLI::App& app, BenchOptionTexts& texts) {
  app.add_option("--bus", texts.bus, "The bus with the oscilloscope (see Buses below)");
  app.add_option("--sim-device", texts.sim_devices,
                 "Another device on the simulated bus, ADDR=KIND (may be repeated)");
  app.add_option("--operator", texts.operator_script,
                 "Script of the simulated technician, such as b1,b2@3.5,trim,leave "
                 "(default: the keyboard)");
  app.add_option("--fault", texts.faults,
                 "A fault of the simulated oscilloscope, NAME=VALUE (may be repeated; "
                 "see Faults below)");
  app.add_option("--seed", texts.seed,
                 "Seed of the simulated oscilloscope's noise, a whole number: the same "
                 "seed gives the same readings (default: a new one each run)");
}

std::string FaultOptionHelp() {
  return "Faults of the simulated oscilloscope (--fault NAME=VALUE, may be repeated):\n" +
         FaultHelp() +
         "Without faults every model reads healthy and passes every check. --seed N\n"
         "makes the readings' noise the same from run to run.\n";
}

std::string TakeBenchOptions(const CLI::App& app, const BenchOptionTexts& texts,
                             BenchSettings& options) {
  std::string problem;
  std::optional<BusName> bus = ParseBusName(texts.bus, &problem);
  if (!bus) return problem;
  options.bus = *bus;
  bool simulated = bus->kind == BusName::Kind::kSim;
  if (!simulated && !texts.sim_devices.empty())
    return "--sim-device needs the simulated bus (--bus sim...), not \"" + texts.bus + "\"";
  if (!simulated && app.count("--operator") > 0)
    return "--operator needs the simulated bus (--bus sim...): at a real instrument the "
           "technician presses its buttons";

  std::set<int> taken = {options.bus.address};
  for (const std::string& text : texts.sim_devices) {
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) return "bad --sim-device \"" + text + "\": expected ADDR=KIND";
    std::string address_text = text.substr(0, equals);
    std::optional<int> address = ParseAddress(address_text);
    if (!address) return AddressError(address_text);
    if (!taken.insert(*address).second) return "GPIB address " + address_text + " is used twice";
    SimDeviceOption device{*address, text.substr(equals + 1), text};
    if (device.kind.empty())
      return "bad --sim-device \"" + text + "\": the kind after \"=\" is missing";
    if (!ParseDeviceSpec(text, &problem)) return "bad --sim-device: " + problem;
    options.sim_devices.push_back(device);
  }

  if (app.count("--operator") > 0) {
    problem = ScriptTechnician::Check(texts.operator_script);
    if (!problem.empty()) return "bad --operator script: " + problem;
    options.operator_script = texts.operator_script;
  }

  if (!simulated && (!texts.faults.empty() || app.count("--seed") > 0))
    return "--fault and --seed need the simulated bus (--bus sim...)";
  for (const std::string& text : texts.faults) {
    if (!ParseFault(text, &problem)) return problem;
    options.faults.push_back(text);
  }
  if (app.count("--seed") > 0) {
    const std::string& seed = texts.seed;
    bool digits =
        !seed.empty() && seed.size() <= 19 &&
        std::all_of(seed.begin(), seed.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) return "bad --seed \"" + seed + "\": a whole number of up to 19 digits";
    options.seed = std::stoull(seed);
  }
  return {};
}

SimRigSetup RigSetupFor(const BenchSettings& settings, bool keyboard) {
  SimRigSetup setup;
  setup.model = settings.bus.model;
  setup.address = settings.bus.address;
  for (const SimDeviceOption& device : settings.sim_devices)
    setup.extra_devices.push_back(device.text);
  setup.operator_script = settings.operator_script;
  setup.faults = settings.faults;
  setup.seed = settings.seed;
  setup.keyboard = keyboard;
  return setup;
}

}  // namespace kc
