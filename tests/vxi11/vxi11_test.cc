// The checkout through a LAN/GPIB gateway: the VXI-11 back end against the
// simulated bus served as a gateway on a loopback port (in a thread of the
// test), and against stand-ins that answer badly. The instrument must
// receive over the gateway what it receives on the in-process bus; faults
// end in the GPIB error boxes, never in a hang.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

#include "link/onc_rpc.h"
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

TEST(Vxi11Names, ClaimedAndRead) {
  struct Case {
    std::string text;
    bool claimed;
    std::string host;  // empty: the name is refused
    int port;
    std::vector<int> listeners;
    std::string error;  // part of the message for a refused name
  };
  const Case cases[] = {
      {"vxi11://192.168.1.60", true, "192.168.1.60", 0, {}, ""},
      {"VXI11://gw-3.lab:1024/gpib0", true, "gw-3.lab", 1024, {}, ""},
      {"vxi11://[fd00::5]:1024/gpib0,7", true, "fd00::5", 1024, {7}, ""},
      {"TCPIP::10.0.0.7::gpib0,1::INSTR", true, "10.0.0.7", 0, {1}, ""},
      {"tcpip0::10.0.0.7::GPIB0,30::instr", true, "10.0.0.7", 0, {30}, ""},
      {"TCPIP::[fd00::5]::gpib0,2::INSTR", true, "fd00::5", 0, {2}, ""},
      {"vxi11://", true, "", 0, {}, "host name \"\" is empty"},
      {"vxi11://fd00::5", true, "", 0, {}, "must be written in brackets"},
      {"vxi11://host:70000", true, "", 0, {}, "the port \"70000\" is not a number 1 to 65535"},
      {"vxi11://host/inst0", true, "", 0, {}, "as gpib0 or gpib0,ADDR, not \"inst0\""},
      {"vxi11://host/gpib0,31", true, "", 0, {}, "the address \"31\" is not a number 1 to 30"},
      {"TCPIP::10.0.0.7::gpib0::INSTR", true, "", 0, {}, "the instrument's address is missing"},
      {"TCPIP::10.0.0.7:1024::gpib0,1::INSTR", true, "", 0, {}, "has no port"},
      {"TCPIP::10.0.0.7::gpib0,1::INTFC", false, "", 0, {}, ""},
      {"PRLGX-TCPIP::10.0.0.7::1234::INTFC", false, "", 0, {}, ""},
      {"prologix://10.0.0.7", false, "", 0, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ClaimsVxi11Name(c.text), c.claimed);
    if (!c.claimed) continue;
    std::string error;
    std::optional<Vxi11Target> target = ParseVxi11Name(c.text, &error);
    if (c.host.empty()) {
      EXPECT_FALSE(target);
      EXPECT_EQ(error.rfind("bad bus \"" + c.text + "\": ", 0), 0u) << error;
      EXPECT_TRUE(Has(error, c.error)) << error;
      continue;
    }
    ASSERT_TRUE(target) << error;
    EXPECT_EQ(target->host, c.host);
    EXPECT_EQ(target->port, c.port);
    EXPECT_EQ(target->interface_name, "gpib0");
    EXPECT_EQ(target->listeners, c.listeners);
  }
}

// Record marking and XDR bounds: what a broken peer sends must not be
// stored beyond the limits.
TEST(Vxi11Records, FragmentsAndBounds) {
  rpc::RecordReader reader(16);
  // Two fragments (the first not the last), then a third record's header
  // that announces more than the limit.
  reader.Feed(
      std::string("\x00\x00\x00\x03"
                  "abc",
                  7));
  std::string record;
  EXPECT_EQ(reader.Next(&record), rpc::RecordReader::State::kIncomplete);
  reader.Feed(
      std::string("\x80\x00\x00\x02"
                  "de"
                  "\x80\x00\x00\x11",
                  10));
  ASSERT_EQ(reader.Next(&record), rpc::RecordReader::State::kComplete);
  EXPECT_EQ(record, "abcde");
  EXPECT_EQ(reader.Next(&record), rpc::RecordReader::State::kTooLarge);
  EXPECT_EQ(reader.buffered(), 0u);

  std::string data;
  std::string five_bytes(
      "\x00\x00\x00\x05"
      "hello\0\0\0",
      12);
  EXPECT_TRUE(rpc::XdrReader(five_bytes)(data, 5));
  EXPECT_EQ(data, "hello");
  EXPECT_FALSE(rpc::XdrReader(five_bytes)(data, 4));                     // beyond the field's limit
  EXPECT_FALSE(rpc::XdrReader(five_bytes.substr(0, 9))(data, 1 << 20));  // padding missing
  std::string huge("\xff\xff\xff\xf0", 4);
  EXPECT_FALSE(rpc::XdrReader(huge)(data, ~std::size_t{0}));
  bool flag = false;
  EXPECT_FALSE(rpc::XdrReader(std::string("\x00\x00\x00\x02", 4))(flag));
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

TEST(Vxi11Gateway, ADeviceLockedByAnotherClient) {
  Gateway gateway;
  // Another client links to the oscilloscope with its lock.
  rpc::Client other(vxi11::kCoreProgram, vxi11::kCoreVersion);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  ASSERT_FALSE(other.Connect("127.0.0.1", gateway.port(), deadline));
  vxi11::CreateLinkParms parms{7, true, 0, "gpib0,1"};
  std::string results;
  ASSERT_FALSE(other.Call(vxi11::kCreateLink, rpc::Encode(parms), deadline, &results));
  vxi11::CreateLinkResp link;
  ASSERT_TRUE(rpc::Decode(results, &link));
  EXPECT_EQ(link.error, vxi11::kNoError);

  TestPlatform platform;
  std::string diagnostics;
  Vxi11Options options;
  options.diagnostic = [&](const std::string& line) { diagnostics += line + "\n"; };
  Vxi11Driver driver(*ParseVxi11Name(gateway.name(), nullptr), platform, options);
  GpibBinding gpib(driver);
  Integer scope = gpib.ibdev(0, 1, 0, gpib::T3s, 1, 0);
  gpib.ibwrt(scope, "ID?");
  EXPECT_EQ(gpib.ibsta, static_cast<Integer>(gpib::ERR | gpib::TIMO));
  EXPECT_EQ(gpib.iberr, gpib::EABO);
  EXPECT_EQ(diagnostics, "GPIB gateway at 127.0.0.1:" + std::to_string(gateway.port()) +
                             ": gpib0,1: locked by another client\n");
  // The lock goes with the other client's connection.
  other.Close();
  gpib.ibwrt(scope, "ID?");
  for (int i = 0; i < 100 && gpib.ibsta != gpib::CMPL; ++i) gpib.ibwrt(scope, "ID?");
  EXPECT_EQ(gpib.ibsta, gpib::CMPL);
}

TEST(Vxi11Gateway, CallsItCannotServe) {
  Gateway gateway;
  struct Case {
    std::uint32_t program;
    std::uint32_t version;
    std::uint32_t procedure;
    std::string args;
    std::error_code error;
  };
  const std::string link_to_nothing = rpc::Encode(vxi11::CreateLinkParms{0, false, 0, "inst0"});
  const Case cases[] = {
      {0x0607B0, 1, vxi11::kCreateLink, link_to_nothing, rpc::Error::kProgramUnavailable},
      {vxi11::kCoreProgram, 2, vxi11::kCreateLink, link_to_nothing, rpc::Error::kVersionMismatch},
      {vxi11::kCoreProgram, 1, 21, "", rpc::Error::kProcedureUnavailable},
      {vxi11::kCoreProgram, 1, vxi11::kCreateLink, link_to_nothing.substr(0, 14),
       rpc::Error::kGarbageArguments},
      {vxi11::kCoreProgram, 1, vxi11::kCreateLink, link_to_nothing, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.procedure);
    rpc::Client client(c.program, c.version);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    ASSERT_FALSE(client.Connect("127.0.0.1", gateway.port(), deadline));
    std::string results;
    EXPECT_EQ(client.Call(c.procedure, c.args, deadline, &results), c.error);
    vxi11::CreateLinkResp link;
    if (!c.error) {
      EXPECT_TRUE(rpc::Decode(results, &link) && link.error == vxi11::kNotAccessible);
    }
  }
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

// A stand-in on loopback for a broken gateway, or for a portmapper: it
// answers the first call on its first connection with what `answer` makes of
// the bytes received, then keeps the connection open (or closes it with
// `hang_up`) and says nothing more.
class StandIn {
 public:
  using Answer = std::function<std::string(const std::string& received)>;

  StandIn(Answer answer, bool hang_up) : answer_(std::move(answer)), hang_up_(hang_up) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listen_fd_, 4) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("no loopback port");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~StandIn() {
    stop_ = true;
    thread_.join();
    close(listen_fd_);
  }
  int port() const { return port_; }

 private:
  // Waits for input on `fd` until it comes or the test ends.
  bool Readable(int fd) {
    while (!stop_) {
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, 10) > 0) return true;
    }
    return false;
  }
  void Serve() {
    if (!Readable(listen_fd_)) return;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    char buffer[512];
    ssize_t n = fd >= 0 && Readable(fd) ? recv(fd, buffer, sizeof buffer, 0) : -1;
    if (n > 0) {
      std::string reply = answer_(std::string(buffer, static_cast<std::size_t>(n)));
      send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      if (!hang_up_) Readable(fd);
    }
    if (fd >= 0) close(fd);
  }

  Answer answer_;
  bool hang_up_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(Vxi11Gateway, TruncatedOversizedAndGarbledRecords) {
  struct Case {
    std::string what;
    std::string reply;
    bool hang_up;
    int error;
    std::string diagnostic;
  };
  const std::string announces_100("\x80\x00\x00\x64", 4);
  const Case cases[] = {
      {"cut short, then closed", announces_100 + "0123456789", true, gpib::EDVR,
       ": connection lost: End of file"},
      {"cut short, then silent", announces_100 + "0123456789", false, gpib::EABO,
       " does not answer create_link"},
      {"two gigabytes announced", std::string("\xff\xff\xff\xf0", 4), false, gpib::EDVR,
       ": create_link: RPC record too large"},
      {"no reply message",
       std::string("\x80\x00\x00\x04"
                   "\x00\x00\x00\x01",
                   8),
       false, gpib::EDVR, ": create_link: garbled RPC reply"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StandIn broken([&](const std::string&) { return c.reply; }, c.hang_up);
    TestPlatform platform;
    std::string diagnostics;
    Vxi11Options options;
    options.answer_seconds = 0.2;
    options.connect_seconds = 0.5;
    options.diagnostic = [&](const std::string& line) { diagnostics += line + "\n"; };
    Vxi11Driver driver(
        *ParseVxi11Name("vxi11://127.0.0.1:" + std::to_string(broken.port()), nullptr), platform,
        options);
    GpibBinding gpib(driver);
    Integer scope = gpib.ibdev(0, 1, 0, gpib::T3s, 1, 0);
    gpib.ibwrt(scope, "ID?");
    EXPECT_EQ(gpib.ibsta, static_cast<Integer>(gpib::ERR));
    EXPECT_EQ(gpib.iberr, c.error);
    EXPECT_EQ(diagnostics,
              "GPIB gateway at 127.0.0.1:" + std::to_string(broken.port()) + c.diagnostic + "\n");
  }
}

std::string Hex(std::string_view bytes) {
  std::string text;
  for (char c : bytes) {
    static const char kDigits[] = "0123456789abcdef";
    text += kDigits[(c >> 4) & 0xF];
    text += kDigits[c & 0xF];
  }
  return text;
}

TEST(Vxi11Gateway, ThePortFromThePortmapper) {
  Gateway gateway;
  struct Case {
    std::uint32_t port;  // the portmapper's answer; 0: not registered
    int status;
    std::string diagnostic;
  };
  const Case cases[] = {
      {static_cast<std::uint32_t>(gateway.port()), gpib::CMPL, ""},
      {0, gpib::ERR,
       ": no VXI-11 core channel from its portmapper (port PORT): program not registered with "
       "the portmapper\n"},
  };
  for (const Case& c : cases) {
    std::string asked;
    StandIn portmapper(
        [&](const std::string& received) {
          rpc::CallHeader call;
          std::string_view args;
          if (received.size() < 4 ||
              !rpc::DecodeCall(std::string_view(received).substr(4), &call, &args))
            return std::string();
          asked = std::to_string(call.program) + "/" + std::to_string(call.version) + "/" +
                  std::to_string(call.procedure) + " " + Hex(args);
          rpc::XdrWriter port;
          port(c.port);
          return rpc::MarkRecord(
              rpc::EncodeReply(call.xid, rpc::AcceptStat::kSuccess, port.bytes()));
        },
        true);
    TestPlatform platform;
    std::string diagnostics;
    Vxi11Options options;
    options.portmapper_port = portmapper.port();
    options.diagnostic = [&](const std::string& line) { diagnostics += line + "\n"; };
    Vxi11Driver driver(*ParseVxi11Name("vxi11://127.0.0.1", nullptr), platform, options);
    Search search = FindListeners(driver);
    EXPECT_EQ(search.status, c.status);
    // GETPORT (procedure 3 of program 100000 version 2) for the core
    // channel: program, version, protocol and port, four units.
    EXPECT_EQ(asked, "100000/2/3 000607af000000010000000600000000");
    std::string expected = c.diagnostic;
    if (!expected.empty()) {
      expected.replace(expected.find("PORT"), 4, std::to_string(portmapper.port()));
      expected = "GPIB gateway at 127.0.0.1" + expected;
    }
    EXPECT_EQ(diagnostics, expected);
  }
}

}  // namespace
}  // namespace kc
