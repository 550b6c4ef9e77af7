// The program's cost on a network bus, on the wall clock, for each back end
// that talks to one: the simulated 2440 at address 1 served on a loopback
// port (in a thread of its own) as kalventa-sim's Prologix/AR488 adapter or
// as a VXI-11 gateway, and the matching back end on the other end. Each
// measure runs once per back end (the template argument names it):
// - BM_WriteAndRead: WriteDev then ReadDev of "ID?", the part of a query that
//   is not its fixed 0.1 s wait: the program's overhead per query (target
//   below 1 ms).
// - BM_QueryDev: the whole QueryDev; "beyond_wait_ms" is what it takes beyond
//   0.1 s, the wait's own granularity included (the wait reads a
//   single-precision seconds-since-midnight clock, whose steps are about 8 ms
//   late in the day).
// - BM_IdleServiceRequestWait: a 3 s ibwait for RQS that nothing ends, the
//   back end polling ("++srq" on the adapter, the SRQ bus status every 25 ms
//   on the gateway); the processor time of the whole process (driver and
//   server) and of the waiting thread alone, in percent of one core (target
//   below 2 %).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/sim/sim_server.h"
#include "link/gpib_binding.h"
#include "link/instrument_ops.h"
#include "link/prologix_driver.h"
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

// kalventa-sim's adapter on a loopback port, served by a thread of its own.
class LoopbackAdapter {
 public:
  LoopbackAdapter() : platform_(clock_, quiet_), bus_(platform_) {
    bus_.Attach(1, std::make_unique<SimScope>("2440", clock_));
    emulator_ = std::make_unique<AdapterEmulator>(bus_, platform_, nullptr, nullptr);
    std::string error;
    server_ = SimServer::Listen("127.0.0.1", 0, &error);
    if (!server_) throw std::runtime_error(error);
    std::string where = server_->Describe();
    port_ = std::stoi(where.substr(where.rfind(':') + 1));
    thread_ = std::thread(
        [this] { server_->Serve(*emulator_, platform_, -1, [this] { return stop_.load(); }); });
  }
  ~LoopbackAdapter() {
    stop_ = true;
    thread_.join();
  }
  LoopbackAdapter(const LoopbackAdapter&) = delete;
  LoopbackAdapter& operator=(const LoopbackAdapter&) = delete;

  std::unique_ptr<GpibDriver> Driver(Platform& platform) const {
    return std::make_unique<PrologixDriver>(MakeTcpStream("127.0.0.1", port_), platform);
  }

 private:
  std::ostream quiet_{nullptr};
  RealClock clock_;
  HeadlessPlatform platform_;
  SimBus bus_;
  std::unique_ptr<AdapterEmulator> emulator_;
  std::unique_ptr<SimServer> server_;
  std::atomic<bool> stop_{false};
  int port_ = 0;
  std::thread thread_;
};

// The simulated bus as a VXI-11 gateway on a loopback port, served by a
// thread of its own.
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

  std::unique_ptr<GpibDriver> Driver(Platform& platform) const {
    return std::make_unique<Vxi11Driver>(*ParseVxi11Name(server_->BusName(), nullptr), platform);
  }

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

// The program's side: the back end, the binding and the instrument
// operations, with the instrument found and opened as at start-up.
class Program {
 public:
  template <class Served>
  explicit Program(const Served& served)
      : platform_(clock_, quiet_),
        driver_(served.Driver(platform_)),
        gpib_(*driver_),
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
  std::unique_ptr<GpibDriver> driver_;
  GpibBinding gpib_;
  InstrumentOps ops_;
};

template <class Served>
void BM_WriteAndRead(benchmark::State& state) {
  Served served;
  Program program(served);
  if (program.dev == 0) {
    state.SkipWithError("the instrument was not found");
    return;
  }
  for (auto _ : state) {
    program.ops().WriteDev(program.dev, "ID?");
    benchmark::DoNotOptimize(program.ops().ReadDev(program.dev));
  }
}
BENCHMARK_TEMPLATE(BM_WriteAndRead, LoopbackAdapter)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_WriteAndRead, LoopbackGateway)->Unit(benchmark::kMicrosecond);

template <class Served>
void BM_QueryDev(benchmark::State& state) {
  Served served;
  Program program(served);
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
BENCHMARK_TEMPLATE(BM_QueryDev, LoopbackAdapter)->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_QueryDev, LoopbackGateway)->Iterations(30)->Unit(benchmark::kMillisecond);

template <class Served>
void BM_IdleServiceRequestWait(benchmark::State& state) {
  Served served;
  Program program(served);
  if (program.dev == 0) {
    state.SkipWithError("the instrument was not found");
    return;
  }
  // Time-out code 12: the wait ends after 3 s without a service request.
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
BENCHMARK_TEMPLATE(BM_IdleServiceRequestWait, LoopbackAdapter)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_TEMPLATE(BM_IdleServiceRequestWait, LoopbackGateway)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kc

BENCHMARK_MAIN();
