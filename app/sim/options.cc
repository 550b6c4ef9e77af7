#include "app/sim/options.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <charconv>

#include "platform/command_line.h"

namespace kc {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A port number written as plain digits, 0 to 65535.
std::optional<int> PortNumber(const std::string& text) {
  int value = -1;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || text[0] == '-' || error != std::errc() || stop != end || value > 65535)
    return std::nullopt;
  return value;
}

// [ADDR:]PORT, [IPV6]:PORT
std::string ParseListen(const std::string& text, std::string& address, int& port) {
  std::string port_text = text;
  std::string host;
  if (!text.empty() && text[0] == '[') {
    std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return "expected [IPV6]:PORT";
    host = text.substr(1, close - 1);
    port_text = text.substr(close + 2);
  } else if (std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    port_text = text.substr(colon + 1);
    if (host.find(':') != std::string::npos) return "an IPv6 address goes in brackets: [::1]:1234";
  }
  std::optional<int> number = PortNumber(port_text);
  if (!number) return "the port \"" + port_text + "\" is not a number 0 to 65535";
  if (!host.empty()) {
    in6_addr scratch{};
    bool good = Lower(host) == "localhost" ||
                inet_pton(host.find(':') != std::string::npos ? AF_INET6 : AF_INET, host.c_str(),
                          &scratch) == 1;
    if (!good) return "\"" + host + "\" is not an IP address (such as 127.0.0.1 or ::1)";
    address = host;
  }
  port = *number;
  return {};
}

std::string SimHelpFooter() {
  return "Serves the simulated bus as a Prologix/AR488-compatible GPIB adapter:\n"
         "  --listen [ADDR:]PORT   a TCP port, on 127.0.0.1 unless ADDR names another\n"
         "                         address (0.0.0.0 serves the network); port 0 picks a\n"
         "                         free one. Default: 127.0.0.1:1234\n"
         "  --pty                  a pseudo-terminal instead, like a USB adapter's serial\n"
         "                         port; its path is printed\n"
         "The first line printed says where it is; the second how to connect, e.g.\n"
         "  kalventa-checkout --bus prologix://127.0.0.1:1234\n"
         "  kalventa-checkout --bus prologix:/dev/pts/7\n"
         "One host at a time; a host may disconnect and another connect.\n"
         "\n"
         "The bus (--bus sim[:MODEL][@ADDR], --sim-device), the technician\n"
         "(--operator), the faults and the seed are those of kalventa-checkout. A\n"
         "scripted technician does its next step when the host looks at the SRQ\n"
         "line (++srq) while nothing is pending. In a terminal the instrument's\n"
         "screen is shown and the keys 1-5 press its bezel buttons, M twice is MENU\n"
         "OFF twice; Ctrl-C ends.\n"
         "\n"
         "Exit status: 0 after Ctrl-C, 1 when the port cannot be opened, 2 for a bad\n"
         "command line.\n";
}

}  // namespace

int ParseSimServerOptions(int argc, const char* const* argv, SimServerOptions& options,
                          std::ostream& out, std::ostream& err) {
  CLI::App app{"kalventa-sim: the simulated 2430-family oscilloscope behind a GPIB adapter",
               kSimProgramName};
  BenchOptionTexts bench;
  AddBenchOptions(app, bench);
  std::string listen_text;
  app.add_option("--listen", listen_text, "Serve on a TCP port, [ADDR:]PORT");
  app.add_flag("--pty", options.pty, "Serve on a new pseudo-terminal");
  app.add_option("--log", options.log_file, "Write every bus operation to FILE");
  app.add_flag("--show-screen", options.show_screen,
               "Without a terminal: print the instrument screen after every change");
  app.set_version_flag("--version", std::string(kSimProgramName) + " " + kProgramVersion,
                       "Print the version and exit");
  app.footer(SimHelpFooter() + "\n" + FaultOptionHelp());

  auto usage_error = [&](const std::string& message) {
    return UsageError(kSimProgramName, message, err);
  };
  if (int status = ParseCommandLine(app, argc, argv, kSimProgramName, out, err); status >= 0) {
    return status;
  }

  std::string problem = TakeBenchOptions(app, bench, options.bench);
  if (!problem.empty()) return usage_error(problem);
  if (options.bench.bus.kind != BusName::Kind::kSim)
    return usage_error("kalventa-sim serves the simulated bus: --bus sim[:MODEL][@ADDR], not \"" +
                       bench.bus + "\"");
  if (app.count("--listen") > 0 && options.pty)
    return usage_error("--listen and --pty: one or the other");
  if (app.count("--listen") > 0) {
    problem = ParseListen(listen_text, options.listen_address, options.listen_port);
    if (!problem.empty()) return usage_error("bad --listen \"" + listen_text + "\": " + problem);
  }
  if (app.count("--log") > 0 && options.log_file.empty())
    return usage_error("--log needs a file name");
  return -1;
}

}  // namespace kc
