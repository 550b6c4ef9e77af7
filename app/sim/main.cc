// kalventa-sim: the simulated oscilloscope behind a Prologix/AR488-compatible
// GPIB adapter on a TCP port or a pseudo-terminal. See --help.
#include <iostream>

#include "app/sim/sim_server.h"

int main(int argc, char** argv) {
  kc::SimServerOptions options;
  int status = kc::ParseSimServerOptions(argc, argv, options, std::cout, std::cerr);
  if (status >= 0) return status;
  return kc::RunSimServer(options, std::cout, std::cerr);
}
