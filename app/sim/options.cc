#include "app/sim/options.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>

#include "link/bus_syntax.h"
#include "platform/command_line.h"
#include "platform/text.h"

namespace kc {

namespace {

// [ADDR:]PORT, [IPV6]:PORT; port 0 picks a free one.
std::string ParseListen(const std::string& text, std::string& address, int& port) {
  std::string problem;
  if (AllDigits(text) || text.empty()) {
    std::optional<int> number = WholeNumber(text, 0, 65535);
    if (!number) return "the port \"" + text + "\" is not a number 0 to 65535";
    port = *number;
    return {};
  }
  std::optional<HostPort> where = ParseHostPort(text, -1, &problem, 0);
  if (!where) {
    if (problem.find("brackets") != std::string::npos)
      return "an IPv6 address goes in brackets: [::1]:1234";
    return problem;
  }
  if (where->port < 0) return "expected [ADDR:]PORT";
  in6_addr scratch{};
  bool good = Lower(where->host) == "localhost" ||
              inet_pton(where->host.find(':') != std::string::npos ? AF_INET6 : AF_INET,
                        where->host.c_str(), &scratch) == 1;
  if (!good) return "\"" + where->host + "\" is not an IP address (such as 127.0.0.1 or ::1)";
  address = where->host;
  port = where->port;
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
  AddBenchOptions(app, options.bench);
  std::string listen_text;
  app.add_option("--listen", listen_text, "Serve on a TCP port, [ADDR:]PORT");
  app.add_flag("--pty", options.pty, "Serve on a new pseudo-terminal");
  std::string vxi11_text;
  app.add_option("--vxi11", vxi11_text,
                 "Serve the simulated bus as a VXI-11 gateway too, on the TCP port [ADDR:]PORT");
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

  std::string problem = TakeBenchOptions(app, options.bench);
  if (!problem.empty()) return usage_error(problem);
  if (!options.bench.bus.simulated())
    return usage_error("kalventa-sim serves the simulated bus: --bus sim[:MODEL][@ADDR], not \"" +
                       options.bench.bus.text + "\"");
  if (app.count("--listen") > 0 && options.pty)
    return usage_error("--listen and --pty: one or the other");
  if (app.count("--listen") > 0) {
    problem = ParseListen(listen_text, options.listen_address, options.listen_port);
    if (!problem.empty()) return usage_error("bad --listen \"" + listen_text + "\": " + problem);
  }
  if (app.count("--vxi11") > 0) {
    options.vxi11 = true;
    problem = ParseListen(vxi11_text, options.vxi11_address, options.vxi11_port);
    if (!problem.empty()) return usage_error("bad --vxi11 \"" + vxi11_text + "\": " + problem);
  }
  if (app.count("--log") > 0 && options.log_file.empty())
    return usage_error("--log needs a file name");
  return -1;
}

}  // namespace kc
