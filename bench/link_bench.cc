// Speed of the instrument link and the shell on the simulated bus, in virtual
// time: a query round trip, and a start-up up to the first menu.
#include <benchmark/benchmark.h>

#include "support/checkout_bench.h"

namespace kc {
namespace {

void BM_QueryDevOnSimulatedBus(benchmark::State& state) {
  CheckoutBench bench({.model = "2440"});
  if (!bench.Load()) {
    state.SkipWithError("start-up failed");
    return;
  }
  MainForm& form = bench.form();
  for (auto _ : state) {
    benchmark::DoNotOptimize(bench.ops().QueryDev(form.dev, "ID?"));
    bench.ClearReceived();
  }
}
BENCHMARK(BM_QueryDevOnSimulatedBus);

void BM_StartUpToFirstMenu(benchmark::State& state) {
  for (auto _ : state) {
    // With no script the run ends at the first wait for the technician, with
    // the title screen and page 1 on the instrument.
    CheckoutBench bench({.model = "2440"});
    benchmark::DoNotOptimize(bench.Run());
  }
}
BENCHMARK(BM_StartUpToFirstMenu);

}  // namespace
}  // namespace kc

BENCHMARK_MAIN();
