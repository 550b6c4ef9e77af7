// Speed of the whole vertical accuracy check on the simulated bench in
// virtual time: eleven settings on two channels, each an averaged acquisition
// read through the measurement model, and the result screen.
#include <benchmark/benchmark.h>

#include "sim/screen_text.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

void BM_VerticalAccuracyCheck(benchmark::State& state) {
  for (auto _ : state) {
    // No self-calibration, connected when ready; the last prompt ends the run.
    CheckoutBench bench({.model = "2440", .operator_script = "b2,b1,b1"});
    if (!bench.Load()) {
      state.SkipWithError("start-up failed");
      return;
    }
    bench.Call([&bench] { bench.form().VertAcc(); });
    if (RenderScreenText(bench.scope().screen()[15]).find("PASS") == std::string::npos) {
      state.SkipWithError("the healthy instrument did not pass");
      return;
    }
  }
}
BENCHMARK(BM_VerticalAccuracyCheck)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kc

BENCHMARK_MAIN();
