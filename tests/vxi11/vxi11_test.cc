// The VXI-11 back end's bus calls against the simulated bus served as a
// LAN/GPIB gateway on a loopback port (in a thread of the test): the listener
// search, time-outs and long writes. (A whole check through kalventa-sim's
// gateway, and the gateway gone or frozen in it: the network suite.)
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/vxi11_driver.h"
#include "sim/vxi11_gateway.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The simulated bench served as a gateway on a loopback port by a thread of
// its own, until Stop.
class Gateway {
 public:
  explicit Gateway(BenchOptions options = {}) : bench_(options) {
    gateway_ = std::make_unique<Vxi11Gateway>(bench_.bus(), bench_.platform(), nullptr, &log_);
    std::string error;
    server_ = Vxi11Server::Listen(*gateway_, "127.0.0.1", 0, &error);
    if (!server_) throw std::runtime_error(error);
    name_ = server_->BusName();
    thread_ =
        std::thread([this] { server_->Serve(bench_.platform(), [this] { return stop_.load(); }); });
  }
  ~Gateway() { Stop(); }

  // Ends serving; what the gateway saw may be read after it.
  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    server_.reset();
  }

  const std::string& name() const { return name_; }
  CheckoutBench& bench() { return bench_; }
  std::string log() const { return log_.str(); }

 private:
  CheckoutBench bench_;
  std::ostringstream log_;
  std::unique_ptr<Vxi11Gateway> gateway_;
  std::unique_ptr<Vxi11Server> server_;
  std::string name_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

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

}  // namespace
}  // namespace kc
