#include "lib/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <set>

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

// sim[:MODEL][@ADDR]
std::variant<BusSpec, std::string> ParseSimBus(const std::string& text) {
  BusSpec spec;
  spec.scheme = "sim";
  spec.text = text;
  std::string rest = text.substr(3);
  std::size_t at = rest.find('@');
  if (at != std::string::npos) {
    std::string address_text = rest.substr(at + 1);
    std::optional<int> address = ParseAddress(address_text);
    if (!address) return AddressError(address_text);
    spec.address = *address;
    rest.erase(at);
  }
  if (!rest.empty()) {
    if (rest[0] != ':') return "bad bus \"" + text + "\": expected sim[:MODEL][@ADDR]";
    std::string model = rest.substr(1);
    if (model.empty()) return "bad bus \"" + text + "\": the model after \":\" is missing";
    // The model becomes part of the identification reply: no separators, no
    // blanks, nothing unprintable.
    for (char c : model) {
      if (c == ',' || c == ';' || c == '"' || !std::isgraph(static_cast<unsigned char>(c)))
        return "bad model \"" + model + "\": use letters and digits, such as 2440 or 2432A";
    }
    spec.model = model;
  }
  return spec;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string HelpFooter() {
  std::string footer = "Buses:\n";
  for (const BusScheme& scheme : BusSchemes()) footer += "  " + scheme.usage + "\n";
  footer +=
      "\n"
      "Without a terminal on standard input and output the run is headless: the\n"
      "window's caption, hint, intro and every message box are written to standard\n"
      "output as tagged lines, boxes are answered from --answers (then OK/Cancel\n"
      "boxes get Cancel), and the instrument's last screen is printed at the end.\n"
      "\n"
      "Exit status:\n"
      "  0  the program closed (QUIT, MENU OFF twice in the menu, Ctrl-C)\n"
      "  1  start-up failure, Cancel in a GPIB error box, instrument not found\n"
      "  2  bad command line (nothing was sent on any bus)\n"
      "  3  the simulated technician's script ran out\n"
      "  130  interrupted a second time while closing\n";
  return footer;
}

}  // namespace

std::vector<BusScheme>& BusSchemes() {
  static std::vector<BusScheme> schemes = {
      {"sim",
       "sim[:MODEL][@ADDR]  the built-in simulated oscilloscope (default sim:2440@1);\n"
       "                     MODEL 2430 2430A 2431L 2432 2432A 2439L 2440 or any name,\n"
       "                     ADDR 1..30",
       ParseSimBus},
  };
  return schemes;
}

std::variant<BusSpec, std::string> ParseBus(const std::string& text) {
  std::size_t end = text.find_first_of(":@");
  std::string scheme = text.substr(0, end);
  for (const BusScheme& known : BusSchemes()) {
    if (known.name == scheme) return known.parse(text);
  }
  std::string names;
  for (const BusScheme& known : BusSchemes()) names += (names.empty() ? "" : ", ") + known.name;
  return "unknown bus \"" + text + "\": known buses are " + names;
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

int ParseOptions(int argc, const char* const* argv, Options& options, std::ostream& out,
                 std::ostream& err) {
  CLI::App app{"Kalventa Checkout: guided performance checkout of a 2430-family oscilloscope",
               kProgramName};
  std::string bus_text = "sim:2440@1";
  std::vector<std::string> device_texts;
  std::string operator_script;
  std::string answers_text;
  app.add_option("--bus", bus_text, "The bus with the oscilloscope (see Buses below)");
  app.add_option("--sim-device", device_texts,
                 "Another device on the simulated bus, ADDR=KIND (may be repeated)");
  app.add_option("--operator", operator_script,
                 "Script of the simulated technician, such as b1,b2@3.5,leave "
                 "(default: the keyboard)");
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
    err << kProgramName << ": " << message << "\n"
        << "Run with --help for more information.\n";
    return kExitUsage;
  };

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
    return usage_error(error.what());
  }

  auto bus = ParseBus(bus_text);
  if (auto* message = std::get_if<std::string>(&bus)) return usage_error(*message);
  options.bus = std::get<BusSpec>(bus);

  std::set<int> taken;
  if (options.bus.scheme == "sim") taken.insert(options.bus.address);
  for (const std::string& text : device_texts) {
    if (options.bus.scheme != "sim")
      return usage_error("--sim-device needs the simulated bus (--bus sim...)");
    std::size_t equals = text.find('=');
    if (equals == std::string::npos)
      return usage_error("bad --sim-device \"" + text + "\": expected ADDR=KIND");
    std::string address_text = text.substr(0, equals);
    std::optional<int> address = ParseAddress(address_text);
    if (!address) return usage_error(AddressError(address_text));
    if (!taken.insert(*address).second)
      return usage_error("GPIB address " + address_text + " is used twice");
    SimDeviceOption device{*address, text.substr(equals + 1), text};
    if (device.kind.empty())
      return usage_error("bad --sim-device \"" + text + "\": the kind after \"=\" is missing");
    std::string problem;
    if (!ParseDeviceSpec(text, &problem)) return usage_error("bad --sim-device: " + problem);
    options.sim_devices.push_back(device);
  }

  if (app.count("--operator") > 0) {
    std::string problem = ScriptTechnician::Check(operator_script);
    if (!problem.empty()) return usage_error("bad --operator script: " + problem);
    options.operator_script = operator_script;
  }
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
