// kalventa-sim and kalventa-checkout as a user runs them: the simulated
// oscilloscope served on a loopback port or a pseudo-terminal, or as a
// LAN/GPIB gateway (VXI-11), the checkout on the other end through its
// Prologix/AR488 or VXI-11 back end. What the instrument receives over the
// network must be what it receives on the in-process bus for the same
// technician. Faults: nobody listening, the adapter or the gateway gone or
// frozen in the middle of a check.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/sim/options.h"
#include "link/tracing_driver.h"
#include "support/checkout_bench.h"
#include "support/program_run.h"

namespace kc {
namespace {

using namespace harness;  // NOLINT(google-build-using-namespace)

// Generous bounds for events that come in well under a second.
constexpr double kStartSeconds = 20;
constexpr double kRunSeconds = 120;
// The calibrator check from the main menu (page 3 by PAGE TWO, PAGE THREE),
// its two prompts and its result, then PAGE TWO, PAGE ONE and QUIT.
const std::string kCalibratorScript = "b4,b4,b3,b1,b1,b1,b5,b5,b5";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The messages the oscilloscope at address 1 received, as the log writes them.
std::vector<std::string> LoggedWrites(const std::string& log) {
  std::vector<std::string> writes;
  std::istringstream lines(log);
  const std::string lead = "write 1 \"";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(lead, 0) != 0 || line.back() != '"') continue;
    writes.push_back(line.substr(lead.size(), line.size() - lead.size() - 1));
  }
  return writes;
}

// What the oscilloscope receives on the in-process bus for the same
// technician (same model, address and seed), escaped as the log writes it.
std::vector<std::string> InProcessWrites(const std::string& script) {
  CheckoutBench bench({.operator_script = script});
  EXPECT_EQ(bench.Run(), kExitClosed) << bench.end_message();
  std::vector<std::string> writes;
  for (const std::string& message : bench.received())
    writes.push_back(TracingDriver::EscapeData(message.data(), static_cast<long>(message.size())));
  return writes;
}

// The lines of the message boxes a headless run wrote.
std::vector<std::string> Boxes(const std::string& out) {
  std::vector<std::string> boxes;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("[box] ", 0) == 0) boxes.push_back(line);
  return boxes;
}

class NetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ProgramPath().empty() || SimProgramPath().empty())
      GTEST_SKIP() << "the programs are not built (KC_BIN_DIR)";
  }

  // Starts kalventa-sim with `args` and --log; where it serves
  // ("127.0.0.1:PORT" or the pty's path), empty when it did not say.
  std::string StartSim(std::vector<std::string> args) {
    // Each server has files of its own: none is read before it is written.
    sim_name_ = "sim" + std::to_string(++sims_);
    args.insert(args.end(), {"--log", dir_.Path(sim_name_ + ".log")});
    sim_ = std::make_unique<Process>(SimProgramPath(), args, dir_.Path(sim_name_ + ".out"),
                                     dir_.Path(sim_name_ + ".err"));
    std::string out;
    WaitFor([&] { return Has(out = SimOut(), "\n"); }, kStartSeconds);
    for (std::string lead : {"listening on ", "serving on "}) {
      if (out.rfind(lead, 0) == 0) return out.substr(lead.size(), out.find('\n') - lead.size());
    }
    ADD_FAILURE() << "kalventa-sim did not say where it serves: " << out
                  << ReadFile(dir_.Path(sim_name_ + ".err"));
    return {};
  }
  // The bus name of the gateway kalventa-sim serves with --vxi11, as its
  // fourth line of output gives it.
  std::string GatewayBus() {
    std::string out;
    WaitFor([&] { return std::ranges::count(out = SimOut(), '\n') >= 4; }, kStartSeconds);
    const std::size_t at = out.find("--bus vxi11://");
    EXPECT_NE(at, std::string::npos) << out;
    return at == std::string::npos ? "" : out.substr(at + 6, out.find('\n', at) - at - 6);
  }
  std::string SimOut() const { return ReadFile(dir_.Path(sim_name_ + ".out")); }
  std::string SimLog() const { return ReadFile(dir_.Path(sim_name_ + ".log")); }
  // Waits until the log shows `part`.
  bool SimLogged(const std::string& part) {
    return WaitFor([&] { return Has(SimLog(), part); }, kStartSeconds);
  }
  // Ends kalventa-sim as Ctrl-C does; its exit status.
  int StopSim() {
    sim_->Signal(SIGINT);
    return sim_->Wait(kStartSeconds);
  }

  void StartCheckout(const std::vector<std::string>& args) {
    checkout_ = std::make_unique<Process>(ProgramPath(), args, dir_.Path("checkout.out"),
                                          dir_.Path("checkout.err"));
  }
  ProgramRun FinishCheckout() {
    ProgramRun run;
    run.code = checkout_->Wait(kRunSeconds);
    run.out = ReadFile(dir_.Path("checkout.out"));
    run.err = ReadFile(dir_.Path("checkout.err"));
    return run;
  }
  ProgramRun RunCheckout(const std::vector<std::string>& args) {
    StartCheckout(args);
    return FinishCheckout();
  }

  // The checkout in the calibrator check, waiting for the technician at its
  // first prompt (who chose the check and stands still there): the prompt is
  // out and the serial poll that begins the wait found nothing pending.
  bool CheckoutWaitingInTheCalibratorCheck(const std::string& answers, bool gateway) {
    std::string where =
        StartSim({"--listen", "0", "--vxi11", "0", "--seed", "1", "--operator", "b4,b4,b3"});
    const std::string bus = gateway ? GatewayBus() : "prologix://" + where;
    StartCheckout({"--bus", bus, "--virtual-time", "--answers", answers});
    bool waiting = WaitFor(
        [&] {
          std::string log = SimLog();
          std::size_t prompt = log.find("CONNECT PG 506, 500");
          return prompt != std::string::npos && Has(log.substr(prompt), "spoll 1 0\n");
        },
        kRunSeconds);
    EXPECT_TRUE(waiting) << SimLog();
    return waiting;
  }

  ScratchDir dir_;
  int sims_ = 0;
  std::string sim_name_;
  std::unique_ptr<Process> sim_;
  std::unique_ptr<Process> checkout_;
};

TEST_F(NetTest, TheCalibratorCheckSendsWhatTheInProcessBusSends) {
  struct Case {
    std::vector<std::string> sim_args;
    std::string bus_lead;
    bool virtual_time;
    std::string script;
  };
  const Case cases[] = {
      {{"--listen", "127.0.0.1:0"}, "prologix://", true, kCalibratorScript},
      {{"--pty"}, "prologix:", true, kCalibratorScript},
      // The program's own waits (intro, queries, closing) in real time.
      {{"--listen", "0"}, "PRLGX-TCPIP::", false, "b5"},
      {{"--listen", "0", "--vxi11", "127.0.0.1:0"}, "vxi11://", true, kCalibratorScript},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bus_lead);
    std::vector<std::string> args = c.sim_args;
    args.insert(args.end(), {"--seed", "1", "--operator", c.script});
    std::string where = StartSim(args);
    std::string bus = c.bus_lead + where;
    if (c.bus_lead == "PRLGX-TCPIP::")
      bus = "PRLGX-TCPIP::127.0.0.1::" + where.substr(10) + "::INTFC";
    const bool gateway = c.bus_lead == "vxi11://";
    if (gateway) bus = GatewayBus();
    EXPECT_EQ(SimOut(), (c.bus_lead == "prologix:" ? "serving on " : "listening on ") + where +
                            "\nconnect with: kalventa-checkout --bus " +
                            (c.bus_lead == "prologix:" ? "prologix:" : "prologix://") + where +
                            "\n" +
                            (gateway ? "VXI-11 gateway on " + bus.substr(8) +
                                           "\nconnect with: kalventa-checkout --bus " + bus + "\n"
                                     : ""));
    std::vector<std::string> checkout_args = {"--bus", bus};
    if (c.virtual_time) checkout_args.push_back("--virtual-time");
    ProgramRun run = RunCheckout(checkout_args);
    EXPECT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_TRUE(Has(run.out, "\n[hint] Use the Bezel Buttons of the 2440 on GPIB address 1\n"));
    EXPECT_EQ(Boxes(run.out), std::vector<std::string>{});

    // The server has taken everything the checkout sent before it stops.
    const std::vector<std::string> expected = InProcessWrites(c.script);
    WaitFor([&] { return LoggedWrites(SimLog()).size() >= expected.size(); }, kStartSeconds);
    // The gateway's interface link and the oscilloscope's, both destroyed on
    // the way out.
    if (gateway) {
      EXPECT_TRUE(SimLogged("# link 1 destroyed\n# link 2 destroyed\n")) << SimLog();
      EXPECT_TRUE(Has(SimLog(), "# link 1 to gpib0 for 127.0.0.1:")) << SimLog();
      EXPECT_TRUE(Has(SimLog(), "# link 2 to gpib0,1 for 127.0.0.1:")) << SimLog();
    } else if (c.bus_lead != "prologix:") {
      EXPECT_TRUE(SimLogged("disconnected: the host closed the connection\n")) << SimLog();
    }
    EXPECT_EQ(StopSim(), 0);
    EXPECT_EQ(LoggedWrites(SimLog()), expected);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected.back(), "VMO CH2;CH2 COU:GND,POS:-.5");
  }
}

TEST_F(NetTest, NobodyListeningAtStartEndsWithTheInitializationError) {
  int port = 0;
  int refusing = RefusingLoopback(&port);
  ASSERT_GE(refusing, 0);
  ProgramRun run =
      RunCheckout({"--bus", "prologix://127.0.0.1:" + std::to_string(port), "--virtual-time"});
  ::close(refusing);
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(Boxes(run.out), std::vector<std::string>{"[box] Initialization Error 7 (critical, "
                                                     "OK):  / Correct problem and restart. -> OK"});
  EXPECT_FALSE(Has(run.out, "[hint]"));
  EXPECT_TRUE(Has(run.err, "kalventa-checkout: GPIB adapter at 127.0.0.1:" + std::to_string(port) +
                               ": cannot connect: Connection refused"))
      << run.err;
}

TEST_F(NetTest, AnAdapterOrAGatewayGoneOrFrozenInACheck) {
  const std::string ask = " / Select OK to continue or Cancel to terminate program. -> ";
  const std::string lost = "[box] GPIB ERROR # 0 (exclamation, OK/Cancel): Operating system error.";
  const std::string gone =
      "[box] GPIB ERROR # 7 (exclamation, OK/Cancel): Non-existent GPIB board.";
  const std::string silent =
      "[box] GPIB ERROR # 6 (exclamation, OK/Cancel): I/O operation aborted - timeout.";
  struct Case {
    bool gateway;
    int signal;
    std::string answers;
    std::vector<std::string> boxes;
    std::string diagnostic;
  };
  const Case cases[] = {
      // Gone: Cancel ends the run; OK goes on, each later call finds nobody
      // listening, until Cancel (the answers used up).
      {false, SIGKILL, "cancel", {lost + ask + "Cancel"}, ": connection lost: "},
      {false,
       SIGKILL,
       "ok,ok",
       {lost + ask + "OK", gone + ask + "OK", gone + ask + "Cancel"},
       ": connection lost: "},
      // Frozen: connected, but nothing answers any more.
      {false, SIGSTOP, "cancel", {silent + ask + "Cancel"}, " does not answer ++srq"},
      {true, SIGKILL, "cancel", {lost + ask + "Cancel"}, ": connection lost: "},
      {true, SIGSTOP, "cancel", {silent + ask + "Cancel"}, " does not answer "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers + " " + std::to_string(c.signal) + (c.gateway ? " gateway" : ""));
    ASSERT_TRUE(CheckoutWaitingInTheCalibratorCheck(c.answers, c.gateway));
    sim_->Signal(c.signal);
    ProgramRun run = FinishCheckout();
    sim_->Signal(SIGCONT);
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    EXPECT_EQ(Boxes(run.out), c.boxes);
    EXPECT_TRUE(Has(run.err, c.diagnostic)) << run.err;
    EXPECT_TRUE(Has(run.err, c.gateway ? "GPIB gateway at 127.0.0.1:" : "adapter at 127.0.0.1:"))
        << run.err;
  }
}

// The adapter's command language is tested on the emulator itself; here the
// server's part: one host at a time, lines split over sends, the log.
TEST_F(NetTest, OneHostAtATimeAndHostsMayComeAndGo) {
  std::string where = StartSim({"--listen", "0"});
  int port = std::stoi(where.substr(where.rfind(':') + 1));
  int first = ConnectLoopback(port);
  ASSERT_GE(first, 0);
  // A second host while the first is connected is closed at once, not
  // left waiting.
  int second = ConnectLoopback(port);
  ASSERT_GE(second, 0);
  EXPECT_TRUE(ClosedByPeer(second, kStartSeconds));
  ::close(second);

  // A line split over two sends.
  std::string answer;
  SendAll(first, "++eos 3\n++eot_enable 1\n++eot_char 4\nI");
  SendAll(first, "D?\n++read eoi\n");
  EXPECT_TRUE(ReadUntil(first, "\x04", kStartSeconds, &answer)) << answer;
  EXPECT_EQ(answer, "ID AB/2440,V81.1\n\x04");
  ::close(first);

  // When it has gone, the next host is served, with the settings it left.
  ASSERT_TRUE(SimLogged("disconnected: the host closed the connection\n"));
  int third = ConnectLoopback(port);
  answer.clear();
  SendAll(third, "++eot_char\n");
  EXPECT_TRUE(ReadUntil(third, "\r\n", kStartSeconds, &answer));
  EXPECT_EQ(answer, "4\r\n");
  ::close(third);
  EXPECT_EQ(StopSim(), 0);
  std::string log = SimLog();
  EXPECT_TRUE(Has(log, "write 1 \"ID?\"\nread 1 \"ID AB/2440,V81.1\\n\"\n")) << log;
  EXPECT_TRUE(Has(log, "# turned away 127.0.0.1:")) << log;
}

TEST_F(NetTest, BadCommandLinesOpenNothing) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--bus", "prologix://127.0.0.1"}, "kalventa-sim serves the simulated bus"},
      {{"--bus", "sim@31"}, "bad bus \"sim@31\""},
      {{"--listen", "70000"}, "the port \"70000\" is not a number 0 to 65535"},
      {{"--listen", "1.2.3:4"}, "\"1.2.3\" is not an IP address"},
      {{"--listen", "::1:4"}, "an IPv6 address goes in brackets"},
      {{"--listen", "0", "--pty"}, "--listen and --pty"},
      {{"--operator", "b7"}, "bad --operator script"},
      {{"--log", ""}, "--log needs a file name"},
  };
  for (const auto& [args, message] : cases) {
    Process sim(SimProgramPath(), args, dir_.Path("bad.out"), dir_.Path("bad.err"));
    EXPECT_EQ(sim.Wait(kStartSeconds), 2) << message;
    EXPECT_EQ(ReadFile(dir_.Path("bad.out")), "") << message;
    std::string err = ReadFile(dir_.Path("bad.err"));
    EXPECT_EQ(err.rfind("kalventa-sim: ", 0), 0u) << err;
    EXPECT_TRUE(Has(err, message)) << err;
  }
}

TEST(SimServerOptions, WhereItServes) {
  struct Case {
    std::vector<const char*> args;
    const char* address;
    int port;
    bool pty;
  };
  const Case cases[] = {
      {{}, "127.0.0.1", 1234, false},
      {{"--listen", "0"}, "127.0.0.1", 0, false},
      {{"--listen", "localhost:7"}, "localhost", 7, false},
      {{"--listen", "0.0.0.0:1234"}, "0.0.0.0", 1234, false},
      {{"--listen", "[::1]:0"}, "::1", 0, false},
      {{"--pty", "--bus", "sim:2432A@7", "--seed", "42"}, "127.0.0.1", 1234, true},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"kalventa-sim"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SimServerOptions options;
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(ParseSimServerOptions(static_cast<int>(argv.size()), argv.data(), options, out, err),
              -1)
        << err.str();
    EXPECT_EQ(options.listen_address, c.address);
    EXPECT_EQ(options.listen_port, c.port);
    EXPECT_EQ(options.pty, c.pty);
  }
}

}  // namespace
}  // namespace kc
