#include "app/checkout/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <set>

#include "platform/text.h"
#include "sim/faults.h"
#include "sim/script_technician.h"
#include "sim/sim_devices.h"

namespace kc {

namespace {

constexpr int kLowestAddress = 1;
constexpr int kHighestAddress = 30;

// A GPIB primary address written as plain decimal digits, 1 to 30.
std::optional<int> ParseAddress(const std::string& text) {
  if (text.size() > 2) return std::nullopt;
  return WholeNumber(text, kLowestAddress, kHighestAddress);
}

std::string AddressError(const std::string& text) {
  return "bad GPIB address \"" + text + "\": an address is a number from 1 to 30";
}

std::string HelpFooter() {
  std::string footer = BusHelp();
  footer += "\n" + FaultOptionHelp();
  footer +=
      "\n"
      "Without a terminal on standard input and output the run is headless: the\n"
      "window's caption, hint, intro and every message box are written to standard\n"
      "output as tagged lines, boxes are answered from --answers (then OK/Cancel\n"
      "boxes get Cancel), and the instrument's last screen is printed at the end.\n"
      "\n"
      "Exit status:\n"
      "  0  the program closed (QUIT, MENU OFF twice in the menu)\n"
      "  1  start-up failure, Cancel in a GPIB error box, instrument not found\n"
      "  2  bad command line (nothing was sent on any bus)\n"
      "  3  the simulated technician's script ran out\n"
      "  4  interrupted: the window was closed and the closing sequence ran\n"
      "     (Ctrl-C, the terminal closed, the close mark)\n"
      "  130  interrupted a second time while closing\n";
  return footer;
}

}  // namespace

std::string BusHelp() {
  return BusRegistry::Builtin().Help() +
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

std::string TakeBenchOptions(const CLI::App& app, const BenchOptionTexts& texts, Options& options) {
  std::string problem;
  std::optional<BusName> bus = ParseBusName(texts.bus, &problem);
  if (!bus) return problem;
  options.bus = *bus;
  const SimTarget* sim = bus->As<SimTarget>();
  bool simulated = sim != nullptr;
  if (!simulated && !texts.sim_devices.empty())
    return "--sim-device needs the simulated bus (--bus sim...), not \"" + texts.bus + "\"";
  if (!simulated && app.count("--operator") > 0)
    return "--operator needs the simulated bus (--bus sim...): at a real instrument the "
           "technician presses its buttons";

  std::set<int> taken;
  if (simulated) taken.insert(sim->address);
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

std::variant<std::vector<MsgAnswer>, std::string> ParseAnswers(const std::string& text) {
  std::vector<MsgAnswer> answers;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string item = Lower(text.substr(start, comma - start));
    if (item == "ok") {
      answers.push_back(MsgAnswer::kOk);
    } else if (item == "cancel") {
      answers.push_back(MsgAnswer::kCancel);
    } else {
      return "bad answer \"" + item + "\" in --answers: use ok or cancel, separated by commas";
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return answers;
}

int UsageError(const char* program, const std::string& message, std::ostream& err) {
  err << program << ": " << message << "\n"
      << "Run with --help for more information.\n";
  return kExitUsage;
}

int ParseCommandLine(CLI::App& app, int argc, const char* const* argv, const char* program,
                     std::ostream& out, std::ostream& err) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion& version) {
    out << version.what() << "\n";
    return 0;
  } catch (const CLI::ParseError& error) {
    return UsageError(program, error.what(), err);
  }
  return -1;
}

int ParseOptions(int argc, const char* const* argv, Options& options, std::ostream& out,
                 std::ostream& err) {
  CLI::App app{"Kalventa Checkout: guided performance checkout of a 2430-family oscilloscope",
               kProgramName};
  BenchOptionTexts bench;
  std::string answers_text;
  AddBenchOptions(app, bench);
  app.add_option("--answers", answers_text,
                 "Answers for the message boxes in order, such as ok,cancel");
  app.add_flag("--virtual-time", options.virtual_time,
               "Run on a virtual clock: waits pass at once");
  app.add_option("--trace", options.trace_file, "Write every driver call to FILE");
  app.add_flag("--show-screen", options.show_screen,
               "Without a terminal: print the instrument screen after every change");
  app.set_version_flag("--version", std::string(kProgramName) + " " + kProgramVersion,
                       "Print the version and exit");
  app.footer(HelpFooter());

  auto usage_error = [&](const std::string& message) {
    return UsageError(kProgramName, message, err);
  };
  if (int status = ParseCommandLine(app, argc, argv, kProgramName, out, err); status >= 0) {
    return status;
  }

  std::string problem = TakeBenchOptions(app, bench, options);
  if (!problem.empty()) return usage_error(problem);
  if (app.count("--answers") > 0) {
    auto answers = ParseAnswers(answers_text);
    if (auto* message = std::get_if<std::string>(&answers)) return usage_error(*message);
    options.answers = std::get<std::vector<MsgAnswer>>(answers);
  }
  if (app.count("--trace") > 0 && options.trace_file.empty())
    return usage_error("--trace needs a file name");
  return -1;
}

}  // namespace kc
