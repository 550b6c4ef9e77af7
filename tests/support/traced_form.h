// A second main window on a bench's bus with a tracing driver below it, so
// that every command it writes is seen with its time.
#pragma once

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "link/tracing_driver.h"
#include "support/checkout_bench.h"

namespace kc {

// The data of every write in a driver trace, in order, each with the time of
// the write.
inline std::vector<std::pair<double, std::string>> TraceWrites(const std::string& trace) {
  std::vector<std::pair<double, std::string>> writes;
  std::istringstream in(trace);
  for (std::string line; std::getline(in, line);) {
    std::size_t data = line.find(" data \"");
    if (line.find(" ibwrt(") == std::string::npos || data == std::string::npos) continue;
    writes.emplace_back(std::stod(line), line.substr(data + 7, line.size() - data - 8));
  }
  return writes;
}

// Once it has been used the bench's own window must not talk to the bus any
// more: the bus reports into the tracer's status cells.
class TracedForm {
 public:
  explicit TracedForm(CheckoutBench& bench)
      : tracer_(bench.bus(), bench.platform().clock(), trace_),
        gpib_(tracer_),
        ops_(gpib_, bench.platform()),
        form_(ops_) {
    form_.dev = bench.form().dev;
    form_.ModelIndex = bench.form().ModelIndex;
    form_.ModelText = bench.form().ModelText;
  }

  MainForm& form() { return form_; }

  // Every command written, with the time of the write (seconds since midnight).
  std::vector<std::pair<double, std::string>> Writes() const { return TraceWrites(trace_.str()); }

 private:
  std::ostringstream trace_;
  TracingDriver tracer_;
  GpibBinding gpib_;
  InstrumentOps ops_;
  MainForm form_;
};

}  // namespace kc
