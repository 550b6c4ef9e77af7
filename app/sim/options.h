// The command line of kalventa-sim:
//
//   kalventa-sim [--listen [ADDR:]PORT | --pty] [--log FILE] [--show-screen]
//                [--bus sim[:MODEL][@ADDR]] [--sim-device ADDR=KIND]... [--operator SCRIPT]
//                [--fault NAME=VALUE]... [--seed N]
//
// The bench options are those of kalventa-checkout (sim/bench_options.h),
// the bus the simulated one only.
#pragma once

#include <ostream>
#include <string>

#include "sim/bench_options.h"

namespace kc {

inline constexpr const char* kSimProgramName = "kalventa-sim";

struct SimServerOptions {
  // The simulated bench: the bus (sim only), devices, technician.
  BenchSettings bench;
  std::string listen_address = "127.0.0.1";
  int listen_port = 1234;
  bool pty = false;
  // A VXI-11 gateway's core channel beside the adapter ("--vxi11 [ADDR:]PORT").
  bool vxi11 = false;
  std::string vxi11_address = "127.0.0.1";
  int vxi11_port = 0;
  std::string log_file;
  bool show_screen = false;
};

// Parses the command line. -1 when the server should run; otherwise the exit
// status (0 after --help or --version, printed to `out`; kExitUsage after a
// message on `err`).
int ParseSimServerOptions(int argc, const char* const* argv, SimServerOptions& options,
                          std::ostream& out, std::ostream& err);

}  // namespace kc
