// The checkout through a LAN/GPIB gateway: the VXI-11 back end against the
// simulated bus served as a gateway on a loopback port (in a thread of the
// test), and against stand-ins that answer badly. The instrument must
// receive over the gateway what it receives on the in-process bus; faults
// end in the GPIB error boxes, never in a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/vxi11_driver.h"
#include "shell/main_form.h"
#include "sim/script_technician.h"
#include "sim/vxi11_gateway.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The simulated bench served as a gateway on a loopback port by a thread of
// its own. `stop_when` (on that thread, between calls) ends the serving:
// the gateway goes (its connections close), or with `freeze` it keeps them
// open and answers no more.
class Gateway {
 public:
  using Condition = std::function<bool(CheckoutBench&)>;

  explicit Gateway(BenchOptions options = {}, const std::string& script = "",
                   Condition stop_when = {}, bool freeze = false)
      : bench_(options), stop_when_(std::move(stop_when)), freeze_(freeze) {
    technician_ =
        std::make_unique<ScriptTechnician>(bench_.scope(), bench_.platform().clock(), script);
    gateway_ =
        std::make_unique<Vxi11Gateway>(bench_.bus(), bench_.platform(), technician_.get(), &log_);
    std::string error;
    server_ = Vxi11Server::Listen(*gateway_, "127.0.0.1", 0, &error);
    if (!server_) throw std::runtime_error(error);
    name_ = server_->BusName();
    port_ = server_->port();
    thread_ = std::thread([this] {
      server_->Serve(bench_.platform(), [this] {
        if (!stopped_ && stop_when_ && stop_when_(bench_)) stopped_ = true;
        return stop_ || stopped_;
      });
      if (stopped_ && !freeze_) server_.reset();
      std::unique_lock<std::mutex> lock(mutex_);
      done_cv_.wait(lock, [this] { return stop_.load(); });
    });
  }
  ~Gateway() { Stop(); }

  // Ends serving; what the gateway saw may be read after it.
  void Stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
    server_.reset();
  }

  const std::string& name() const { return name_; }
  int port() const { return port_; }
  CheckoutBench& bench() { return bench_; }
  std::string log() const { return log_.str(); }

 private:
  CheckoutBench bench_;
  std::unique_ptr<ScriptTechnician> technician_;
  std::ostringstream log_;
  std::unique_ptr<Vxi11Gateway> gateway_;
  std::unique_ptr<Vxi11Server> server_;
  Condition stop_when_;
  bool freeze_;
  bool stopped_ = false;
  std::string name_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The program's side: the back end, the binding, the instrument operations
// and the main window, on a virtual clock.
struct Program {
  explicit Program(const std::string& bus_name, double answer_seconds = 1.0) {
    std::string error;
    std::optional<Vxi11Target> target = ParseVxi11Name(bus_name, &error);
    if (!target) throw std::runtime_error(error);
    Vxi11Options options;
    options.answer_seconds = answer_seconds;
    options.diagnostic = [this](const std::string& line) { diagnostics += line + "\n"; };
    driver = std::make_unique<Vxi11Driver>(*target, platform, options);
    gpib = std::make_unique<GpibBinding>(*driver);
    ops = std::make_unique<InstrumentOps>(*gpib, platform);
    form = std::make_unique<MainForm>(*ops);
  }
  int Run() {
    try {
      form->Run();
    } catch (const ProgramEnd& end) {
      return end.code;
    }
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> boxes;
    for (const RecordedBox& box : platform.boxes) boxes.push_back(box.title + ": " + box.prompt);
    return boxes;
  }

  TestPlatform platform;
  std::string diagnostics;
  std::unique_ptr<Vxi11Driver> driver;
  std::unique_ptr<GpibBinding> gpib;
  std::unique_ptr<InstrumentOps> ops;
  std::unique_ptr<MainForm> form;
};

// The calibrator check from the main menu, its two prompts and its result,
// then back to page one and QUIT.
const std::string kCalibratorScript = "b4,b4,b3,b1,b1,b1,b5,b5,b5";

TEST(Vxi11Gateway, TheCalibratorCheckSendsWhatTheInProcessBusSends) {
  CheckoutBench in_process({.operator_script = kCalibratorScript});
  ASSERT_EQ(in_process.Run(), kExitClosed) << in_process.end_message();

  Gateway gateway({}, kCalibratorScript);
  {
    Program program(gateway.name());
    EXPECT_EQ(program.Run(), kExitClosed) << program.diagnostics;
    EXPECT_EQ(program.platform.hint, "Use the Bezel Buttons of the 2440 on GPIB address 1");
    EXPECT_TRUE(program.platform.boxes.empty());
    EXPECT_EQ(program.diagnostics, "");
  }
  gateway.Stop();
  EXPECT_EQ(gateway.bench().received(), in_process.received());
  ASSERT_FALSE(in_process.received().empty());
  EXPECT_EQ(in_process.received().back(), "VMO CH2;CH2 COU:GND,POS:-.5");
  // The interface link and the oscilloscope's link, both destroyed on the
  // way out.
  std::string log = gateway.log();
  EXPECT_TRUE(Has(log, "# link 1 to gpib0 for 127.0.0.1:")) << log;
  EXPECT_TRUE(Has(log, "# link 2 to gpib0,1 for 127.0.0.1:")) << log;
  EXPECT_TRUE(Has(log, "# link 1 destroyed\n# link 2 destroyed\n")) << log;
}

// FindLstn over addresses 1 to 30, as the program searches at start.
struct Search {
  int status = 0;
  int error = 0;
  std::vector<int> found;
};
Search FindListeners(Vxi11Driver& driver) {
  std::int32_t status = 0, error = 0, count = 0, count_long = 0;
  driver.RegisterGpibGlobalsForThread(&status, &error, &count, &count_long);
  std::vector<Addr4882_t> pads;
  for (Addr4882_t pad = 1; pad <= 30; ++pad) pads.push_back(pad);
  pads.push_back(gpib::NOADDR);
  std::vector<Addr4882_t> results(15, 0);
  driver.FindLstn(0, pads.data(), results.data(), 15);
  Search search{status, error, {}};
  for (int i = 0; i < std::min<int>(count_long, 15); ++i) search.found.push_back(results[i]);
  return search;
}

TEST(Vxi11Gateway, ListenerSearch) {
  Gateway gateway({.extra_devices = {"5=silent", "9=scope:2430A"}});
  TestPlatform platform;
  {
    Vxi11Driver driver(*ParseVxi11Name(gateway.name(), nullptr), platform);
    Search search = FindListeners(driver);
    EXPECT_EQ(search.status, gpib::CMPL);
    EXPECT_EQ(search.found, (std::vector<int>{1, 5, 9}));
  }
  {
    // An address in the name is taken without a search.
    Vxi11Driver driver(*ParseVxi11Name(gateway.name() + "/gpib0,9", nullptr), platform);
    EXPECT_EQ(FindListeners(driver).found, (std::vector<int>{9}));
  }
  gateway.Stop();
  std::string log = gateway.log();
  EXPECT_TRUE(Has(log, "\nlisten 1\n")) << log;
  EXPECT_TRUE(Has(log, "\nlisten 2 nobody\n")) << log;
  EXPECT_TRUE(Has(log, "\nlisten 5\n")) << log;
  EXPECT_EQ(log.find("listen", log.find("# link 3")), std::string::npos) << log;
}

TEST(Vxi11Gateway, ListenerSearchWithNobodyAnswering) {
  Gateway gateway;
  gateway.bench().bus().StopAnswering(1);
  TestPlatform platform;
  Vxi11Driver driver(*ParseVxi11Name(gateway.name(), nullptr), platform);
  Search search = FindListeners(driver);
  EXPECT_EQ(search.status, gpib::ERR);
  EXPECT_EQ(search.error, gpib::EBUS);
}

TEST(Vxi11Gateway, AReadFromADeviceWithNothingToSayTimesOut) {
  Gateway gateway({.extra_devices = {"5=silent"}});
  TestPlatform platform;
  Vxi11Driver driver(*ParseVxi11Name(gateway.name(), nullptr), platform);
  GpibBinding gpib(driver);
  Integer silent = gpib.ibdev(0, 5, 0, 9, 1, 0);  // 100 ms
  gpib.ibwrt(silent, "ID?");
  EXPECT_EQ(gpib.ibsta, gpib::CMPL);
  std::string buffer(64, ' ');
  gpib.ibrd(silent, buffer);
  EXPECT_EQ(gpib.ibsta, static_cast<Integer>(gpib::ERR | gpib::TIMO));
  EXPECT_EQ(gpib.iberr, gpib::EABO);
  // The connection goes on: the oscilloscope answers.
  Integer scope = gpib.ibdev(0, 1, 0, gpib::T3s, 1, 0);
  gpib.ibwrt(scope, "ID?");
  gpib.ibrd(scope, buffer);
  EXPECT_EQ(gpib.ibsta, gpib::CMPL | gpib::END);
  EXPECT_EQ(buffer.substr(0, 11), "ID AB/2440,");
}

TEST(Vxi11Gateway, AWriteLongerThanTheGatewayTakesGoesInPieces) {
  Gateway gateway;
  TestPlatform platform;
  Vxi11Driver driver(*ParseVxi11Name(gateway.name(), nullptr), platform);
  GpibBinding gpib(driver);
  Integer scope = gpib.ibdev(0, 1, 0, gpib::T3s, 1, 0);
  std::string message = "MESS 16:\"" + std::string(Vxi11Gateway::kMaxRecvSize, 'A') + "\"";
  gpib.ibwrt(scope, message);
  EXPECT_EQ(gpib.ibsta, gpib::CMPL);
  EXPECT_EQ(gpib.ibcntl, static_cast<Long>(message.size()));
  gateway.Stop();
  EXPECT_EQ(gateway.bench().received(), std::vector<std::string>{message});
}

TEST(Vxi11Gateway, AGatewayThatGoesAwayOrFreezesInACheck) {
  const std::string ask = "\nSelect OK to continue or Cancel to terminate program.";
  struct Case {
    bool freeze;
    std::string box;
    std::string diagnostic;
  };
  const Case cases[] = {
      {false, "GPIB ERROR # 0: Operating system error." + ask, ": connection lost: "},
      {true, "GPIB ERROR # 6: I/O operation aborted - timeout." + ask, " does not answer "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    // The technician chooses the calibrator check and stands still: the
    // gateway goes once the check waits at its first prompt.
    Gateway gateway(
        {}, "b4,b4,b3",
        [](CheckoutBench& bench) {
          const std::vector<std::string>& received = bench.received();
          return !received.empty() && Has(received.back(), "PRESS ANY BEZEL BUTTON") &&
                 std::any_of(received.begin(), received.end(), [](const std::string& message) {
                   return Has(message, "CONNECT PG 506");
                 });
        },
        c.freeze);
    Program program(gateway.name(), 0.3);
    program.platform.answers = {MsgAnswer::kCancel};
    EXPECT_EQ(program.Run(), kExitFatal);
    EXPECT_EQ(program.Boxes(), std::vector<std::string>{c.box});
    EXPECT_TRUE(Has(program.diagnostics,
                    "GPIB gateway at 127.0.0.1:" + std::to_string(gateway.port()) + c.diagnostic))
        << program.diagnostics;
  }
}

}  // namespace
}  // namespace kc
