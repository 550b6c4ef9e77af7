// The parsers of what a user types: bus names, the whole command line, the
// technician's script, the simulated devices, the answers list, the numeric
// value of a reply, the adapter's listener lists and the instrument's command
// syntax.
//
// Findings: a crash or sanitizer report, an exception, and results that break
// what the parsers promise (an address outside 1..30, a failure without a
// message, a value that is not a finite Single, a run started from a command
// line that was refused).
#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/checkout/options.h"
#include "display/number_text.h"
#include "fuzz_platform.h"
#include "link/bus_registry.h"
#include "link/linux_gpib_driver.h"
#include "link/prologix_driver.h"
#include "link/scope_syntax.h"
#include "sim/script_technician.h"
#include "sim/sim_devices.h"

namespace kc::fuzz {
namespace {

void BusNames(const std::string& text) {
  std::string error;
  std::optional<BusName> bus = ParseBusName(text, &error);
  if (!bus) {
    if (error.empty()) Finding("a bus name refused without a message");
    return;
  }
  if (const auto* sim = bus->As<SimTarget>()) {
    if (sim->address < 1 || sim->address > 30) Finding("a simulated address outside 1..30");
  } else if (const auto* adapter = bus->As<PrologixTarget>()) {
    if (adapter->serial ? adapter->device.empty() || adapter->baud <= 0
                        : adapter->host.empty() || adapter->port < 1 || adapter->port > 65535)
      Finding("a bad adapter");
  } else if (const auto* board = bus->As<LinuxGpibTarget>()) {
    if (board->board < 0 || board->board > 15) Finding("a board outside 0..15");
  } else if (!bus->target.has_value()) {
    Finding("a bus name without a target");
  }
  if (BusRegistry::Builtin().Find(bus->scheme) == nullptr) Finding("a bus of no known scheme");
  for (int pad : bus->listeners) {
    if (pad < 1 || pad > 30) Finding("a listener outside 1..30");
  }
}

void CommandLine(FuzzedDataProvider& data) {
  static const char* const kWords[] = {
      "--bus",          "--sim-device",  "--operator",       "--answers",
      "--virtual-time", "--trace",       "--show-screen",    "--help",
      "--version",      "sim:2440@1",    "b1,b2@3.5,leave",  "ok,cancel",
      "5=silent",       "9=scope:2430A", "11=id:AB/2430,V1", "-"};
  std::vector<std::string> args = {"kalventa-checkout"};
  for (int i = data.ConsumeIntegralInRange(0, 8); i > 0; --i) {
    if (data.ConsumeBool()) {
      args.push_back(kWords[data.ConsumeIntegralInRange<std::size_t>(0, std::size(kWords) - 1)]);
    } else {
      args.push_back(data.ConsumeRandomLengthString(48));
    }
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  Options options;
  std::ostringstream out;
  std::ostringstream err;
  int code = ParseOptions(static_cast<int>(argv.size()), argv.data(), options, out, err);
  if (code != -1 && code != 0 && code != kExitUsage) Finding("an unknown exit status");
  if (code == kExitUsage && err.str().empty()) Finding("a refused command line without a message");
  if (code != -1) return;
  if (options.bus.text.empty()) Finding("a run without a bus name");
  for (const SimDeviceOption& device : options.sim_devices) {
    if (device.address < 1 || device.address > 30) Finding("a device outside 1..30");
  }
  if (options.operator_script && !ScriptTechnician::Check(*options.operator_script).empty()) {
    Finding("a run with a script that does not parse");
  }
}

void Script(const std::string& text) {
  std::string error;
  auto steps = ScriptTechnician::Parse(text, &error);
  if (!steps) {
    if (error.empty()) Finding("a script refused without a message");
    return;
  }
  for (const ScriptTechnician::Step& step : *steps) {
    if (step.action == ScriptTechnician::Step::Action::kBezel &&
        (step.button < 1 || step.button > 5)) {
      Finding("a button outside 1..5");
    }
    if (step.delay && (!std::isfinite(*step.delay) || *step.delay < 0)) Finding("a bad delay");
  }
}

void Devices(const std::string& text) {
  std::string error;
  std::optional<DeviceSpec> described = ParseDeviceSpec(text, &error);
  if (!described) {
    if (error.empty()) Finding("a device refused without a message");
    return;
  }
  if (described->address < 1 || described->address > 30) Finding("a device outside 1..30");
}

void Values(const std::string& text) {
  double value = Val(text);
  if (!std::isfinite(value) || std::fabs(value) > FLT_MAX) Finding("Val outside the Single range");
  Single single = ToSingle(value);
  if (!std::isfinite(single)) Finding("ToSingle of a value gave no finite Single");
  std::string plain = PlainNumber(single);
  if (plain.empty() || plain.find_first_of("eEin") != std::string::npos) {
    Finding("a number text with an exponent, inf or nan: " + plain);
  }
}

void Listeners(const std::string& text) {
  if (auto list = PrologixDriver::ParseListenerList(text)) {
    for (int pad : *list) {
      if (pad < 0 || pad > 30) Finding("a listener outside 0..30");
    }
  }
}

void Commands(const std::string& text) {
  for (const std::string& command_text : SplitMessage(text)) {
    std::string error;
    std::optional<ScopeCommand> command = ParseCommand(command_text, &error);
    if (!command) {
      if (error.empty()) Finding("a command refused without a reason");
      continue;
    }
    if (command->header.empty()) Finding("a command without a header");
    for (const auto& argument : command->arguments) {
      for (const std::string& part : argument) (void)Unquote(part);
    }
  }
}

}  // namespace
}  // namespace kc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace kc::fuzz;
  FuzzedDataProvider data(bytes, size);
  const int which = data.ConsumeIntegralInRange(0, 7);
  if (which == 0) {
    // Names start with a scheme's own beginning, as the registry lists them.
    std::vector<std::string> starts;
    for (const kc::BusScheme& scheme : kc::BusRegistry::Builtin().schemes()) {
      starts.insert(starts.end(), scheme.prefixes.begin(), scheme.prefixes.end());
      for (const std::string& word : scheme.visa_words) starts.push_back(word + "::");
    }
    std::string start =
        starts[data.ConsumeIntegralInRange<std::size_t>(0, starts.size()) % starts.size()];
    BusNames(start + data.ConsumeRemainingBytesAsString());
    return 0;
  }
  if (which == 1) {
    CommandLine(data);
    return 0;
  }
  const std::string text = data.ConsumeRemainingBytesAsString();
  switch (which) {
    case 2:
      Script(text);
      break;
    case 3:
      Devices(text);
      break;
    case 4: {
      auto answers = kc::ParseAnswers(text);
      (void)answers;
      break;
    }
    case 5:
      Values(text);
      break;
    case 6:
      Listeners(text);
      break;
    default:
      Commands(text);
      break;
  }
  return 0;
}
