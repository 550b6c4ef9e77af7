// One run of the checkout as the command line asks for it: the clock, the
// platform (a terminal when standard input and output are both terminals,
// headless otherwise), the bus with its devices and technician, the optional
// driver trace, and the main window, run until the program ends.
#pragma once

#include <memory>
#include <ostream>

#include "app/checkout/options.h"
#include "platform/platform.h"
#include "sim/bench_hand.h"
#include "sim/sim_bench.h"
#include "sim/sim_bus.h"
#include "sim/sim_scope.h"

namespace kc {

class FrontPanelLink;

// The simulated bus with its oscilloscope, the extra devices and whoever
// stands at the instrument.
struct SimBench {
  std::unique_ptr<SimBus> bus;
  SimScope* scope = nullptr;
  std::unique_ptr<SimTechnician> technician;
  // The sources and cables beside the oscilloscope, and the technician's
  // hands on them.
  std::unique_ptr<SourceBench> sources;
  std::unique_ptr<BenchHand> hand;
  // The full-screen window's front panel on the instrument, when there is one.
  std::unique_ptr<FrontPanelLink> panel;

  SimBench();
  ~SimBench();
};

// Builds the simulated bench the options name: the oscilloscope at the bus
// address (its screen shown on `platform`, its readings from the measurement
// model with the --fault faults and the --seed noise), the sources with the
// technician's hands on them, the --sim-device devices, and the scripted
// technician or, at a terminal, the keyboard.
void BuildSimBench(const Options& options, Platform& platform, bool terminal, SimBench& bench);

// Runs the checkout; the exit status. Headless output goes to `out`, the
// message of the program's end (if any) and errors to `err`.
int RunCheckout(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace kc
