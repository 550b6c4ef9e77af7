// One run of the checkout as the command line asks for it: the clock, the
// platform (a terminal when standard input and output are both terminals,
// headless otherwise), the bus with its devices and technician, the optional
// driver trace, and the main window, run until the program ends.
#pragma once

#include <memory>
#include <ostream>

#include "app/checkout/options.h"
#include "platform/platform.h"

namespace kc {

// Runs the checkout; the exit status. Headless output goes to `out`, the
// message of the program's end (if any) and errors to `err`.
int RunCheckout(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace kc
