// kalventa-sim and kalventa-checkout as a user runs them: the simulated
// oscilloscope served on a loopback port or a pseudo-terminal, the checkout
// on the other end through its Prologix/AR488 back end. What the instrument
// receives over the adapter must be what it receives on the in-process bus
// for the same technician. Faults: nobody listening, the adapter gone or
// frozen in the middle of a check, an adapter that never answers and one
// that answers every command with an error line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/sim/options.h"
#include "link/tracing_driver.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

// kalventa-sim says where it serves within this.
constexpr double kStartSeconds = 5;
// A checkout that takes longer than this has hung; it is killed.
constexpr double kRunSeconds = 60;
// The calibrator check from the main menu (page 3 by PAGE TWO, PAGE THREE),
// its two prompts and its result, then PAGE TWO, PAGE ONE and QUIT.
const std::string kCalibratorScript = "b4,b4,b3,b1,b1,b1,b5,b5,b5";

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Polls `done` every 10 ms for at most `seconds`.
bool WaitFor(const std::function<bool()>& done, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A child process with standard input from /dev/null and its output in
// files; killed when it is destroyed while still running.
class Process {
 public:
  Process(const std::string& binary, const std::vector<std::string>& args,
          const std::string& out_path, const std::string& err_path) {
    std::vector<std::string> argv_text = {binary};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv_text) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      int in = open("/dev/null", O_RDONLY);
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in < 0 || out < 0 || err < 0) _exit(125);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execv(binary.c_str(), argv.data());
      _exit(126);
    }
  }
  ~Process() {
    if (running()) {
      kill(pid_, SIGKILL);
      Wait(kStartSeconds);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool running() const { return pid_ > 0 && !status_; }
  void Signal(int signal_number) {
    if (running()) kill(pid_, signal_number);
  }
  // The exit status; -1 when it did not end within `seconds` (it is killed
  // then) or ended by a signal.
  int Wait(double seconds) {
    if (pid_ <= 0) return -1;
    if (!status_) {
      int status = 0;
      bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, seconds);
      if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        status_ = -1;
        return -1;
      }
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return *status_;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct RunResult {
  int code = -1;
  std::string out;
  std::string err;
};

// A loopback port nobody listens on (taken and given back).
int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Reads until `*text` ends with `end` or the connection closes or `seconds`
// pass; false on the last two.
bool ReadUntil(int fd, const std::string& end, double seconds, std::string* text) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (text->size() < end.size() || text->compare(text->size() - end.size(), end.size(), end)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[512];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    text->append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// A stand-in for an adapter that is not working: on loopback, it takes
// connections and either never answers, or answers "++ver" and gives an
// error line for every other command.
class BrokenAdapter {
 public:
  enum class Kind { kSilent, kErrorLines };

  explicit BrokenAdapter(Kind kind) : kind_(kind) {
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
  ~BrokenAdapter() {
    stop_ = true;
    thread_.join();
    close(listen_fd_);
  }

  int port() const { return port_; }
  int connections() const { return connections_; }

 private:
  void Serve() {
    std::vector<int> clients;
    std::vector<std::string> lines;
    while (!stop_) {
      std::vector<pollfd> fds = {{listen_fd_, POLLIN, 0}};
      for (int fd : clients) fds.push_back({fd, POLLIN, 0});
      if (poll(fds.data(), fds.size(), 10) <= 0) continue;
      for (std::size_t i = 0; i < clients.size(); ++i) {
        if ((fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        char buffer[512];
        ssize_t n = recv(clients[i], buffer, sizeof buffer, 0);
        if (n <= 0) {
          // The host went; the adapter never hangs up by itself.
          close(clients[i]);
          clients[i] = -1;
          continue;
        }
        if (kind_ == Kind::kSilent) continue;
        for (ssize_t k = 0; k < n; ++k) {
          if (buffer[k] != '\n') {
            lines[i] += buffer[k];
            continue;
          }
          if (lines[i] == "++ver") {
            SendAll(clients[i], "AR488 GPIB controller, ver. 0.53.04, 13/04/2025\r\n");
          } else if (lines[i].rfind("++", 0) == 0) {
            SendAll(clients[i], "Unrecognized command\r\n");
          }
          lines[i].clear();
        }
      }
      for (std::size_t i = clients.size(); i-- > 0;) {
        if (clients[i] >= 0) continue;
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
      }
      if ((fds[0].revents & POLLIN) != 0) {
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
          clients.push_back(fd);
          lines.emplace_back();
          ++connections_;
        }
      }
    }
    for (int fd : clients) close(fd);
  }

  Kind kind_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

class NetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("KC_BIN_DIR");
    if (dir == nullptr) GTEST_SKIP() << "KC_BIN_DIR is not set";
    checkout_ = std::string(dir) + "/kalventa-checkout";
    sim_ = std::string(dir) + "/kalventa-sim";
    for (const std::string& binary : {checkout_, sim_}) {
      if (access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << binary << " is not built";
    }
    char dir_template[] = "/tmp/kc_net_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    work_ = dir_template;
  }
  void TearDown() override {
    sim_process_.reset();
    checkout_process_.reset();
    if (!work_.empty()) std::filesystem::remove_all(work_);
  }

  std::string Path(const std::string& name) const { return work_ + "/" + name; }

  // Starts kalventa-sim with `args` and --log; where it serves ("127.0.0.1:PORT"
  // or the pty's path), empty when it did not say.
  std::string StartSim(std::vector<std::string> args) {
    args.insert(args.end(), {"--log", Path("sim.log")});
    sim_process_.reset();
    for (const char* name : {"sim.out", "sim.err", "sim.log"}) std::filesystem::remove(Path(name));
    sim_process_ = std::make_unique<Process>(sim_, args, Path("sim.out"), Path("sim.err"));
    std::string out;
    WaitFor(
        [&] {
          out = ReadFile(Path("sim.out"));
          return out.find('\n') != std::string::npos;
        },
        kStartSeconds);
    for (const char* lead : {"listening on ", "serving on "}) {
      std::string prefix = lead;
      if (out.rfind(prefix, 0) == 0)
        return out.substr(prefix.size(), out.find('\n') - prefix.size());
    }
    ADD_FAILURE() << "kalventa-sim did not say where it serves: " << out
                  << ReadFile(Path("sim.err"));
    return {};
  }

  // Ends kalventa-sim as Ctrl-C does; its exit status.
  int StopSim() {
    sim_process_->Signal(SIGINT);
    return sim_process_->Wait(kStartSeconds);
  }

  std::string SimLog() const { return ReadFile(Path("sim.log")); }

  void StartCheckout(const std::vector<std::string>& args) {
    checkout_process_ =
        std::make_unique<Process>(checkout_, args, Path("checkout.out"), Path("checkout.err"));
  }

  RunResult FinishCheckout(double seconds = kRunSeconds) {
    RunResult result;
    result.code = checkout_process_->Wait(seconds);
    result.out = ReadFile(Path("checkout.out"));
    result.err = ReadFile(Path("checkout.err"));
    return result;
  }

  RunResult RunCheckout(const std::vector<std::string>& args) {
    StartCheckout(args);
    return FinishCheckout();
  }

  // Starts a check that waits at its first prompt: the calibrator, with a
  // technician who stops after choosing it. True once the checkout waits for
  // the technician there.
  bool CheckoutWaitingInTheCalibratorCheck(const std::string& answers) {
    std::string where = StartSim({"--listen", "0", "--seed", "1", "--operator", "b4,b4,b3"});
    if (where.empty()) return false;
    StartCheckout({"--bus", "prologix://" + where, "--virtual-time", "--answers", answers});
    // The prompt is out and the serial poll that begins the wait has found
    // nothing pending: from here on the checkout only looks at SRQ.
    bool waiting = WaitFor(
        [&] {
          std::string log = SimLog();
          std::size_t prompt = log.find("CONNECT PG 506, 500");
          return prompt != std::string::npos &&
                 log.find("spoll 1 0\n", prompt) != std::string::npos;
        },
        kRunSeconds);
    EXPECT_TRUE(waiting) << SimLog();
    return waiting;
  }

  std::string checkout_;
  std::string sim_;
  std::string work_;
  std::unique_ptr<Process> sim_process_;
  std::unique_ptr<Process> checkout_process_;
};

// The messages the oscilloscope at address 1 received, as the log writes
// them.
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

// The messages the oscilloscope receives on the in-process bus for the same
// technician (same model, address and seed), escaped as the log writes them.
std::vector<std::string> InProcessWrites(const std::string& script) {
  CheckoutBench bench({.operator_script = script});
  EXPECT_EQ(bench.Run(), kExitClosed) << bench.end_message();
  std::vector<std::string> writes;
  for (const std::string& message : bench.received())
    writes.push_back(TracingDriver::EscapeData(message.data(), static_cast<long>(message.size())));
  return writes;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(NetTest, TheCalibratorCheckOverALoopbackPortSendsWhatTheInProcessBusSends) {
  std::string where =
      StartSim({"--listen", "127.0.0.1:0", "--seed", "1", "--operator", kCalibratorScript});
  ASSERT_EQ(where.rfind("127.0.0.1:", 0), 0u) << where;
  EXPECT_EQ(ReadFile(Path("sim.out")), "listening on " + where +
                                           "\nconnect with: kalventa-checkout --bus prologix://" +
                                           where + "\n");

  RunResult run = RunCheckout({"--bus", "prologix://" + where, "--virtual-time"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_TRUE(Has(run.out, "\n[hint] Use the Bezel Buttons of the 2440 on GPIB address 1\n"))
      << run.out;
  EXPECT_EQ(StopSim(), 0);

  std::string log = SimLog();
  std::vector<std::string> expected = InProcessWrites(kCalibratorScript);
  EXPECT_EQ(LoggedWrites(log), expected);
  // The check ran to its verdict, and the run ended with the channels rested.
  ASSERT_GE(expected.size(), 2u);
  EXPECT_EQ(expected.back(), "VMO CH2;CH2 COU:GND,POS:-.5");
  bool verdict = false;
  for (const std::string& write : expected) verdict |= Has(write, "CALCULATED: ");
  EXPECT_TRUE(verdict);
  EXPECT_TRUE(Has(log, "# host connected from 127.0.0.1:")) << log;
  EXPECT_TRUE(Has(log, "disconnected: the host closed the connection\n")) << log;
}

TEST_F(NetTest, TheCalibratorCheckOverAPseudoTerminal) {
  std::string path = StartSim({"--pty", "--seed", "1", "--operator", kCalibratorScript});
  ASSERT_EQ(path.rfind("/dev/", 0), 0u) << path;
  RunResult run = RunCheckout({"--bus", "prologix:" + path, "--virtual-time"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_EQ(StopSim(), 0);
  EXPECT_EQ(LoggedWrites(SimLog()), InProcessWrites(kCalibratorScript));
}

TEST_F(NetTest, OnTheWallClockStartUpAndQuit) {
  // The program's own waits (intro, queries, closing) in real time.
  std::string where = StartSim({"--listen", "0", "--seed", "1", "--operator", "b5"});
  ASSERT_FALSE(where.empty());
  RunResult run = RunCheckout(
      {"--bus", "PRLGX-TCPIP::127.0.0.1::" + where.substr(where.rfind(':') + 1) + "::INTFC"});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_EQ(StopSim(), 0);
  EXPECT_EQ(LoggedWrites(SimLog()), InProcessWrites("b5"));
}

TEST_F(NetTest, NobodyListeningAtStartEndsWithTheInitializationError) {
  int port = FreePort();
  RunResult run =
      RunCheckout({"--bus", "prologix://127.0.0.1:" + std::to_string(port), "--virtual-time"});
  EXPECT_EQ(run.code, 1);
  EXPECT_TRUE(Has(run.out,
                  "[box] Initialization Error 7 (critical, OK):  / Correct problem and "
                  "restart. -> OK\n"))
      << run.out;
  EXPECT_FALSE(Has(run.out, "[hint]"));
  EXPECT_TRUE(Has(run.err, "kalventa-checkout: GPIB adapter at 127.0.0.1:" + std::to_string(port) +
                               ": cannot connect: Connection refused"))
      << run.err;
}

// The lines of the message boxes a headless run wrote.
std::vector<std::string> Boxes(const std::string& out) {
  std::vector<std::string> boxes;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("[box] ", 0) == 0) boxes.push_back(line);
  return boxes;
}

TEST_F(NetTest, AConnectionDroppedInACheck) {
  const std::string ask = " / Select OK to continue or Cancel to terminate program. -> ";
  const std::string lost = "[box] GPIB ERROR # 0 (exclamation, OK/Cancel): Operating system error.";
  const std::string gone =
      "[box] GPIB ERROR # 7 (exclamation, OK/Cancel): Non-existent GPIB board.";
  struct Case {
    std::string answers;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      // Cancel ends the run.
      {"cancel", {lost + ask + "Cancel"}},
      // OK goes on: each later call finds nobody listening, until Cancel
      // (the answers used up).
      {"ok,ok", {lost + ask + "OK", gone + ask + "OK", gone + ask + "Cancel"}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(CheckoutWaitingInTheCalibratorCheck(c.answers));
    sim_process_->Signal(SIGKILL);  // the adapter is gone
    RunResult run = FinishCheckout();
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    EXPECT_EQ(Boxes(run.out), c.boxes) << c.answers;
    EXPECT_TRUE(Has(run.err, ": connection lost: ")) << run.err;
  }
}

TEST_F(NetTest, AnAdapterThatStopsAnsweringInACheck) {
  ASSERT_TRUE(CheckoutWaitingInTheCalibratorCheck("cancel"));
  sim_process_->Signal(SIGSTOP);  // connected, but nothing answers any more
  RunResult run = FinishCheckout();
  sim_process_->Signal(SIGCONT);
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_TRUE(Has(run.out,
                  "[box] GPIB ERROR # 6 (exclamation, OK/Cancel): I/O operation aborted "
                  "- timeout."))
      << run.out;
  EXPECT_TRUE(Has(run.err, "does not answer ++srq")) << run.err;
}

TEST_F(NetTest, AnAdapterThatNeverAnswers) {
  BrokenAdapter adapter(BrokenAdapter::Kind::kSilent);
  RunResult run = RunCheckout(
      {"--bus", "prologix://127.0.0.1:" + std::to_string(adapter.port()), "--virtual-time"});
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_TRUE(Has(run.out, "[box] Initialization Error 7 (critical, OK)")) << run.out;
  EXPECT_TRUE(Has(run.err, "does not answer ++ver: is it a Prologix or AR488 GPIB adapter?"))
      << run.err;
  EXPECT_GE(adapter.connections(), 1);
}

TEST_F(NetTest, AnAdapterThatAnswersEveryCommandWithAnErrorLine) {
  BrokenAdapter adapter(BrokenAdapter::Kind::kErrorLines);
  RunResult run = RunCheckout(
      {"--bus", "prologix://127.0.0.1:" + std::to_string(adapter.port()), "--virtual-time"});
  // Nothing answers a poll: no instrument is found, and the run ends.
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_TRUE(Has(run.out,
                  "[box] Initialization Error 14 (critical, OK): No listeners found. / "
                  "Correct problem and restart. -> OK\n"))
      << run.out;
}

TEST_F(NetTest, OneHostAtATimeAndHostsMayComeAndGo) {
  std::string where = StartSim({"--listen", "0"});
  ASSERT_FALSE(where.empty());
  int port = std::stoi(where.substr(where.rfind(':') + 1));
  const std::string version = "AR488 GPIB controller, ver. 0.53.04, 13/04/2025\r\n";

  int first = Connect(port);
  ASSERT_GE(first, 0);
  std::string answer;
  SendAll(first, "++ver\r\n++bogus\n++addr 40\n");
  EXPECT_TRUE(ReadUntil(first, "Invalid parameter\r\n", kStartSeconds, &answer)) << answer;
  EXPECT_EQ(answer, version + "Unrecognized command\r\nInvalid parameter\r\n");

  // A second host while the first is connected is closed at once: a
  // checkout started then is told the adapter is busy.
  RunResult second = RunCheckout({"--bus", "prologix://" + where, "--virtual-time"});
  EXPECT_EQ(second.code, 1) << second.out << second.err;
  const std::string busy =
      "GPIB adapter at " + where + ": adapter busy (another program is connected)";
  EXPECT_TRUE(Has(second.out,
                  "[box] Initialization Error 7 (critical, OK):  / Correct problem and "
                  "restart. -> OK\n[box reason] " +
                      busy + "\n"))
      << second.out;
  EXPECT_EQ(second.err, "kalventa-checkout: " + busy + "\n");

  // A line split over two sends, an escaped '+' at its start.
  answer.clear();
  SendAll(first, "++eos 3\n++eot_enable 1\n++eot_char 4\nI");
  SendAll(first, "D?\n++read eoi\n\x1b+\x1b+ver\n++ver\n");
  EXPECT_TRUE(ReadUntil(first, version, kStartSeconds, &answer)) << answer;
  EXPECT_EQ(answer, "ID AB/2440,V81.1\n\x04" + version);
  close(first);

  // When it has gone, the next host is served, with the settings it left.
  bool served = WaitFor(
      [&] {
        int third = Connect(port);
        std::string reply;
        SendAll(third, "++eot_char\n");
        bool answered = ReadUntil(third, "\r\n", 1.0, &reply);
        close(third);
        return answered && reply == "4\r\n";
      },
      kStartSeconds);
  EXPECT_TRUE(served);
  EXPECT_EQ(StopSim(), 0);

  std::string log = SimLog();
  EXPECT_TRUE(Has(log, "write 1 \"ID?\"\nread 1 \"ID AB/2440,V81.1\\n\"\nwrite 1 \"++ver\"\n"))
      << log;
  EXPECT_TRUE(Has(log, "# turned away 127.0.0.1:")) << log;
}

TEST_F(NetTest, BadCommandLinesOpenNothing) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--bus", "prologix://127.0.0.1"}, "kalventa-sim serves the simulated bus"},
      {{"--bus", "sim@31"}, "bad bus \"sim@31\""},
      {{"--listen", "70000"}, "the port \"70000\" is not a number 0 to 65535"},
      {{"--listen", "1.2.3:4"}, "\"1.2.3\" is not an IP address"},
      {{"--listen", "::1:4"}, "an IPv6 address goes in brackets"},
      {{"--listen", "0", "--pty"}, "--listen and --pty"},
      {{"--operator", "b7"}, "bad --operator script"},
      {{"--log", ""}, "--log needs a file name"},
  };
  for (const Case& c : cases) {
    Process sim(sim_, c.args, Path("bad.out"), Path("bad.err"));
    EXPECT_EQ(sim.Wait(kStartSeconds), 2) << c.message;
    EXPECT_EQ(ReadFile(Path("bad.out")), "") << c.message;
    std::string err = ReadFile(Path("bad.err"));
    EXPECT_EQ(err.rfind("kalventa-sim: ", 0), 0u) << err;
    EXPECT_TRUE(Has(err, c.message)) << err;
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
      {{"--listen", "5025"}, "127.0.0.1", 5025, false},
      {{"--listen", "localhost:7"}, "localhost", 7, false},
      {{"--listen", "0.0.0.0:1234"}, "0.0.0.0", 1234, false},
      {{"--listen", "[::1]:0"}, "::1", 0, false},
      {{"--pty"}, "127.0.0.1", 1234, true},
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
  // The bench options are those of the checkout.
  std::vector<const char*> argv = {"kalventa-sim", "--bus",      "sim:2432A@7",
                                   "--sim-device", "5=silent",   "--seed",
                                   "42",           "--operator", "b1,leave"};
  SimServerOptions options;
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(ParseSimServerOptions(static_cast<int>(argv.size()), argv.data(), options, out, err),
            -1)
      << err.str();
  EXPECT_EQ(options.bench.bus.As<SimTarget>()->model, "2432A");
  EXPECT_EQ(options.bench.bus.As<SimTarget>()->address, 7);
  ASSERT_EQ(options.bench.sim_devices.size(), 1u);
  EXPECT_EQ(options.bench.sim_devices[0].address, 5);
  EXPECT_EQ(options.bench.seed, 42u);
  EXPECT_EQ(options.bench.operator_script, "b1,leave");
}

}  // namespace
}  // namespace kc
