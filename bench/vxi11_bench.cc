// The program's cost behind a LAN/GPIB gateway, on the wall clock: the
// simulated bus served as a VXI-11 gateway on a loopback port (in a thread
// of its own, the simulated 2440 at address 1 behind it) and the VXI-11 back
// end on the other end. The same measures as net_bench.cc for the adapter:
//
// - BM_Vxi11WriteAndRead: WriteDev then ReadDev of "ID?" (two RPC calls and
//   the descriptor's time-out calls, no wait): the overhead per query.
// - BM_Vxi11QueryDev: the whole QueryDev; "beyond_wait_ms" is what it takes
//   beyond its fixed 0.1 s wait.
// - BM_Vxi11IdleServiceRequestWait: a 3 s ibwait for RQS that nothing ends,
//   the back end polling the SRQ bus status every 25 ms; the processor time
//   of the whole process (driver and gateway) and of the waiting thread, in
//   percent of one core.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "link/gpib_binding.h"
#include "link/instrument_ops.h"
#include "link/vxi11_driver.h"
#include "platform/clock.h"
#include "platform/headless_platform.h"
#include "sim/sim_bus.h"
#include "sim/sim_scope.h"
#include "sim/vxi11_gateway.h"

namespace kc {
namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The gateway on a loopback port, served by a thread of its own.
class LoopbackGateway {
 public:
  LoopbackGateway() : platform_(clock_, quiet_), bus_(platform_) {
    bus_.Attach(1, std::make_unique<SimScope>("2440", clock_));
    gateway_ = std::make_unique<Vxi11Gateway>(bus_, platform_, nullptr, nullptr);
    std::string error;
    server_ = Vxi11Server::Listen(*gateway_, "127.0.0.1", 0, &error);
    if (!server_) throw std::runtime_error(error);
    thread_ = std::thread([this] { server_->Serve(platform_, [this] { return stop_.load(); }); });
  }
  ~LoopbackGateway() {
    stop_ = true;
    thread_.join();
  }
  LoopbackGateway(const LoopbackGateway&) = delete;
  LoopbackGateway& operator=(const LoopbackGateway&) = delete;

  std::string name() const { return server_->BusName(); }

 private:
  std::ostream quiet_{nullptr};
  RealClock clock_;
  HeadlessPlatform platform_;
  SimBus bus_;
  std::unique_ptr<Vxi11Gateway> gateway_;
  std::unique_ptr<Vxi11Server> server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The program's side, with the instrument found and opened as at start-up.
class Program {
 public:
  explicit Program(const std::string& name)
      : platform_(clock_, quiet_),
        driver_(*ParseVxi11Name(name, nullptr), platform_),
        gpib_(driver_),
        ops_(gpib_, platform_) {
    ops_.DefaultTimeout = 12;
    ops_.FindListeners(1);
    std::string query = "ID?";
    std::string expected = "!244";
    dev = ops_.FindDevice(query, expected);
  }

  InstrumentOps& ops() { return ops_; }
  GpibBinding& gpib() { return gpib_; }
  Integer dev = 0;

 private:
  std::ostream quiet_{nullptr};
  RealClock clock_;
  HeadlessPlatform platform_;
  Vxi11Driver driver_;
  GpibBinding gpib_;
  InstrumentOps ops_;
};

void BM_Vxi11WriteAndRead(benchmark::State& state) {
  LoopbackGateway gateway;
  Program program(gateway.name());
  if (program.dev == 0) {
    state.SkipWithError("the instrument was not found");
    return;
  }
  for (auto _ : state) {
    program.ops().WriteDev(program.dev, "ID?");
    benchmark::DoNotOptimize(program.ops().ReadDev(program.dev));
  }
}
BENCHMARK(BM_Vxi11WriteAndRead)->Unit(benchmark::kMicrosecond);

void BM_Vxi11QueryDev(benchmark::State& state) {
  LoopbackGateway gateway;
  Program program(gateway.name());
  if (program.dev == 0) {
    state.SkipWithError("the instrument was not found");
    return;
  }
  double total = 0;
  for (auto _ : state) {
    SteadyClock::time_point start = SteadyClock::now();
    benchmark::DoNotOptimize(program.ops().QueryDev(program.dev, "ID?"));
    total += SecondsSince(start);
  }
  double per_query = total / static_cast<double>(state.iterations());
  state.counters["beyond_wait_ms"] = (per_query - 0.1) * 1000.0;
}
BENCHMARK(BM_Vxi11QueryDev)->Iterations(30)->Unit(benchmark::kMillisecond);

void BM_Vxi11IdleServiceRequestWait(benchmark::State& state) {
  LoopbackGateway gateway;
  Program program(gateway.name());
  if (program.dev == 0) {
    state.SkipWithError("the instrument was not found");
    return;
  }
  program.gpib().ibtmo(program.dev, gpib::T3s);
  double wall = 0;
  double process_cpu = 0;
  double thread_cpu = 0;
  for (auto _ : state) {
    SteadyClock::time_point start = SteadyClock::now();
    double process_before = CpuSeconds(RUSAGE_SELF);
    double thread_before = CpuSeconds(RUSAGE_THREAD);
    program.gpib().ibwait(program.dev, gpib::RQS | gpib::TIMO);
    thread_cpu += CpuSeconds(RUSAGE_THREAD) - thread_before;
    process_cpu += CpuSeconds(RUSAGE_SELF) - process_before;
    wall += SecondsSince(start);
  }
  state.counters["cpu_percent_process"] = 100.0 * process_cpu / wall;
  state.counters["cpu_percent_waiting_thread"] = 100.0 * thread_cpu / wall;
}
BENCHMARK(BM_Vxi11IdleServiceRequestWait)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kc

BENCHMARK_MAIN();
