// The link to a GPIB adapter cut at random points of a whole scripted
// checkout: kalventa-sim serves the simulated oscilloscope as an AR488 on a
// loopback port, a proxy in this test stands between it and kalventa-checkout
// (virtual time, every box answered Cancel) and, after a chosen number of
// bytes in one direction, closes both connections and every later one. The
// program must end with a box that ends it (a GPIB error box answered Cancel,
// or a start-up failure) within a bounded time, every time.
//
// KC_CUT_SEED (default 2430) and KC_CUT_TRIALS (default 100) choose the cuts.
// The longest time from a cut to the program's end is printed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kc {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A run that has not ended this long after its cut has hung.
constexpr double kEndBound = 30.0;
// A whole uncut run takes well under a second; this is its hang limit.
constexpr double kRunBound = 60.0;

// Sample skew (the 2440's notice), common mode rejection, calibrator, timing,
// A trigger and external triggers, then QUIT.
std::string Script() {
  auto presses = [](const char* button, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += std::string(",") + button;
    return text;
  };
  return "b3,b1,b4,b3,b1,b3,b1,b1,b3,b1,b1,b4,b3,b1,b1,b1,b2" + presses("b1", 22) + ",b4,b1" +
         presses("b1", 6) + ",b3" + presses("b1", 12) + ",b4,b5";
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

double Seconds(SteadyClock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

int ListenLoopback() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

int PortOf(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  return ntohs(address.sin_port);
}

int ConnectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Where to cut: after `bytes` bytes from the host to the adapter, or from the
// adapter to the host. Without a cut the proxy only forwards and counts.
struct Cut {
  bool to_adapter = true;
  std::size_t bytes = 0;
  // Instead of closing, the adapter falls silent: connections stay open (new
  // ones are taken too) and whatever the host sends goes nowhere.
  bool silence = false;
};

// Forwards one host connection to the adapter at `upstream`, and cuts it.
class CuttingProxy {
 public:
  CuttingProxy(int upstream, std::optional<Cut> cut) : upstream_(upstream), cut_(cut) {
    listen_fd_ = ListenLoopback();
    port_ = listen_fd_ < 0 ? -1 : PortOf(listen_fd_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CuttingProxy() {
    stop_ = true;
    thread_.join();
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }
  CuttingProxy(const CuttingProxy&) = delete;
  CuttingProxy& operator=(const CuttingProxy&) = delete;

  int port() const { return port_; }
  std::optional<SteadyClock::time_point> cut_at() {
    std::lock_guard<std::mutex> lock(mutex_);
    return cut_at_;
  }
  // Everything the host sent, and the count of bytes the adapter sent.
  std::string to_adapter() {
    std::lock_guard<std::mutex> lock(mutex_);
    return to_adapter_;
  }
  std::size_t to_host() {
    std::lock_guard<std::mutex> lock(mutex_);
    return to_host_;
  }

 private:
  void Serve() {
    int host = -1;
    while (!stop_ && host < 0) {
      pollfd entry{listen_fd_, POLLIN, 0};
      if (::poll(&entry, 1, 10) > 0) host = ::accept(listen_fd_, nullptr, nullptr);
    }
    if (host < 0) return;
    int adapter = ConnectLoopback(upstream_);
    if (adapter < 0) {
      ::close(host);
      return;
    }
    // Small lines go through at once, as on a direct connection.
    int on = 1;
    ::setsockopt(host, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(adapter, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char buffer[4096];
    bool cut = false;
    while (!stop_ && !cut) {
      pollfd entries[2] = {{host, POLLIN, 0}, {adapter, POLLIN, 0}};
      if (::poll(entries, 2, 10) <= 0) continue;
      for (int side = 0; side < 2 && !cut; ++side) {
        if ((entries[side].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const bool to_adapter = side == 0;
        ssize_t n = ::recv(entries[side].fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
          cut = true;  // one side went away: the other follows
          break;
        }
        std::size_t size = static_cast<std::size_t>(n);
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t& count = to_adapter ? to_adapter_count_ : to_host_;
        if (cut_ && cut_->to_adapter == to_adapter && count + size > cut_->bytes) {
          size = cut_->bytes - count;
          cut = true;
        }
        if (to_adapter) to_adapter_.append(buffer, size);
        count += size;
        SendAll(to_adapter ? adapter : host, buffer, size);
        if (cut) cut_at_ = SteadyClock::now();
      }
    }
    ::close(adapter);
    // Nothing more gets through: a new connection is closed as soon as it is
    // made, or kept and never answered. (The port stays taken, so that no
    // connection lands elsewhere.)
    const bool silence = cut && cut_ && cut_->silence;
    std::vector<int> silent;
    if (silence) {
      silent.push_back(host);
    } else {
      ::close(host);
    }
    while (!stop_) {
      std::vector<pollfd> entries = {{listen_fd_, POLLIN, 0}};
      for (int fd : silent) entries.push_back({fd, POLLIN, 0});
      if (::poll(entries.data(), entries.size(), 10) <= 0) continue;
      if ((entries[0].revents & POLLIN) != 0) {
        int late = ::accept(listen_fd_, nullptr, nullptr);
        if (late >= 0 && silence) {
          silent.push_back(late);
        } else if (late >= 0) {
          ::close(late);
        }
      }
      for (std::size_t i = 1; i < entries.size(); ++i) {
        if (entries[i].revents == 0) continue;
        if (::recv(entries[i].fd, buffer, sizeof buffer, 0) <= 0) {
          ::close(entries[i].fd);
          silent.erase(std::find(silent.begin(), silent.end(), entries[i].fd));
        }
      }
    }
    for (int fd : silent) ::close(fd);
  }

  int upstream_;
  std::optional<Cut> cut_;
  int listen_fd_ = -1;
  int port_ = -1;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string to_adapter_;
  std::size_t to_adapter_count_ = 0;
  std::size_t to_host_ = 0;
  std::optional<SteadyClock::time_point> cut_at_;
  std::thread thread_;
};

// kalventa-sim on a free loopback port, with the script as its technician.
class SimServer {
 public:
  SimServer(const std::string& binary, const std::string& script) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      int in = ::open("/dev/null", O_RDONLY);
      ::dup2(in, 0);
      ::dup2(out[1], 1);
      ::dup2(in, 2);
      ::close(out[0]);
      ::execl(binary.c_str(), binary.c_str(), "--listen", "0", "--seed", "7", "--operator",
              script.c_str(), static_cast<char*>(nullptr));
      ::_exit(126);
    }
    ::close(out[1]);
    // The first line says where it listens: "listening on 127.0.0.1:PORT".
    std::string line;
    SteadyClock::time_point until = SteadyClock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && SteadyClock::now() < until) {
      pollfd entry{out[0], POLLIN, 0};
      if (::poll(&entry, 1, 50) <= 0) continue;
      char c = 0;
      if (::read(out[0], &c, 1) != 1) break;
      line += c;
    }
    out_ = out[0];
    std::size_t colon = line.rfind(':');
    if (line.find("127.0.0.1:") != std::string::npos && colon != std::string::npos) {
      port_ = std::atoi(line.c_str() + colon + 1);
    }
  }
  ~SimServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int port_ = -1;
};

struct RunResult {
  int code = -1;  // -1: killed as hung
  std::string out;
  SteadyClock::time_point ended;
};

class AdapterCutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("KC_BIN_DIR");
    if (dir == nullptr) GTEST_SKIP() << "KC_BIN_DIR is not set";
    checkout_ = std::string(dir) + "/kalventa-checkout";
    sim_ = std::string(dir) + "/kalventa-sim";
    for (const std::string& binary : {checkout_, sim_}) {
      if (::access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << binary << " is not built";
    }
    char dir_template[] = "/tmp/kc_cut_XXXXXX";
    ASSERT_NE(::mkdtemp(dir_template), nullptr);
    work_ = dir_template;
  }
  void TearDown() override {
    if (work_.empty()) return;
    for (const char* name : {"out", "err", "trace"}) ::unlink((work_ + "/" + name).c_str());
    ::rmdir(work_.c_str());
  }

  // Runs the checkout against the proxy's port until it ends (killed after
  // `bound` seconds).
  RunResult RunCheckout(int port, bool trace, double bound) {
    const std::string out_path = work_ + "/out";
    const std::string bus = "prologix://127.0.0.1:" + std::to_string(port);
    const std::string trace_path = work_ + "/trace";
    pid_t child = ::fork();
    if (child == 0) {
      int in = ::open("/dev/null", O_RDONLY);
      int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = ::open((work_ + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      // No checkout record: its verdict boxes would come between the cuts' boxes.
      std::vector<const char*> argv = {checkout_.c_str(), "--virtual-time", "--bus",
                                       bus.c_str(),       "--answers",      "cancel",
                                       "--no-record"};
      if (trace) {
        argv.push_back("--trace");
        argv.push_back(trace_path.c_str());
      }
      argv.push_back(nullptr);
      ::execv(checkout_.c_str(), const_cast<char* const*>(argv.data()));
      ::_exit(126);
    }
    RunResult result;
    SteadyClock::time_point until =
        SteadyClock::now() +
        std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(bound));
    int status = 0;
    while (true) {
      pid_t done = ::waitpid(child, &status, WNOHANG);
      if (done == child) {
        result.ended = SteadyClock::now();
        if (WIFEXITED(status)) result.code = WEXITSTATUS(status);
        break;
      }
      if (SteadyClock::now() > until) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        result.ended = SteadyClock::now();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    result.out = ReadFile(out_path);
    return result;
  }

  // The whole run without a cut (see below).
  void Measure(std::string* sent, std::size_t* received);

  std::string checkout_;
  std::string sim_;
  std::string work_;
};

// The last message box of a run's output ("[box] TITLE (...): PROMPT -> ANSWER").
std::string LastBox(const std::string& out) {
  std::size_t at = out.rfind("[box] ");
  if (at == std::string::npos) return {};
  std::size_t end = out.find('\n', at);
  return out.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// Boxes after which the program ends: a GPIB error answered Cancel, or a
// failed start-up.
bool EndingBox(const std::string& box) {
  if (box.rfind("[box] GPIB ERROR #", 0) == 0) {
    return box.size() >= 9 && box.compare(box.size() - 9, 9, "-> Cancel") == 0;
  }
  for (const char* title : {"[box] Initialization Error", "[box] Expected Id-response",
                            "[box] Unexpected Id-response", "[box] Not enough devices"}) {
    if (box.rfind(title, 0) == 0) return true;
  }
  return false;
}

// The whole run without a cut: it ends by QUIT, and tells how many bytes go
// each way.
void AdapterCutTest::Measure(std::string* sent, std::size_t* received) {
  {
    SimServer server(sim_, Script());
    ASSERT_GT(server.port(), 0) << "kalventa-sim did not say where it listens";
    CuttingProxy proxy(server.port(), std::nullopt);
    ASSERT_GT(proxy.port(), 0);
    RunResult whole = RunCheckout(proxy.port(), true, kRunBound);
    ASSERT_EQ(whole.code, 0) << whole.out << ReadFile(work_ + "/err");
    EXPECT_EQ(LastBox(whole.out), "");
    const std::string trace = ReadFile(work_ + "/trace");
    for (const char* title :
         {"CALIBRATOR SIGNAL CHECK", "COMMON MODE REJECTION CHECK", "CLOSING PROGRAM"}) {
      EXPECT_NE(trace.find(title), std::string::npos) << title;
    }
    *sent = proxy.to_adapter();
    *received = proxy.to_host();
  }
}

TEST_F(AdapterCutTest, ACutAnywhereEndsTheProgramAtOnce) {
  const std::string script = Script();
  std::string sent;
  std::size_t received = 0;
  Measure(&sent, &received);
  if (HasFatalFailure()) return;
  // Where the closing sequence begins.
  const std::size_t closing = sent.find("CLOSING PROGRAM");
  ASSERT_NE(closing, std::string::npos);
  ASSERT_GT(received, 0u);

  const char* seed_text = std::getenv("KC_CUT_SEED");
  const char* trials_text = std::getenv("KC_CUT_TRIALS");
  const unsigned seed =
      seed_text ? static_cast<unsigned>(std::strtoul(seed_text, nullptr, 10)) : 2430;
  const int trials = trials_text ? std::atoi(trials_text) : 100;
  std::mt19937 random(seed);
  double longest = 0;
  int cancelled = 0;
  int start_up = 0;
  int after_closing = 0;
  for (int trial = 0; trial < trials; ++trial) {
    Cut cut;
    cut.to_adapter = random() % 2 == 0;
    std::uniform_int_distribution<std::size_t> position(
        0, (cut.to_adapter ? sent.size() : received) - 1);
    cut.bytes = position(random);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", trial " + std::to_string(trial) + ": cut " +
                 (cut.to_adapter ? "to the adapter" : "to the host") + " after " +
                 std::to_string(cut.bytes) + " bytes");
    SimServer server(sim_, script);
    ASSERT_GT(server.port(), 0);
    CuttingProxy proxy(server.port(), cut);
    RunResult run = RunCheckout(proxy.port(), false, kRunBound);
    std::optional<SteadyClock::time_point> cut_at = proxy.cut_at();
    ASSERT_TRUE(cut_at.has_value()) << "the run ended before the cut: " << run.out;
    const double took = Seconds(run.ended - *cut_at);
    longest = std::max(longest, took);
    EXPECT_LT(took, kEndBound);
    ASSERT_NE(run.code, -1) << "the program did not end after the cut";
    const std::string box = LastBox(run.out);
    if (cut.to_adapter && cut.bytes > closing) {
      // The closing sequence had begun: its last writes may well have gone out
      // before the connection was found closed.
      ++after_closing;
      EXPECT_TRUE(run.code == 0 || (run.code == 1 && EndingBox(box))) << run.out;
      continue;
    }
    EXPECT_EQ(run.code, 1) << run.out;
    EXPECT_TRUE(EndingBox(box)) << box;
    if (box.rfind("[box] GPIB ERROR #", 0) == 0) {
      ++cancelled;
    } else {
      ++start_up;
    }
  }
  std::printf(
      "%d cuts (seed %u): %d ended by Cancel in a GPIB error box, %d by a start-up failure, "
      "%d during the closing sequence; longest time from cut to end %.3f s\n",
      trials, seed, cancelled, start_up, after_closing, longest);
  RecordProperty("longest_seconds_to_end", std::to_string(longest));
}

TEST_F(AdapterCutTest, AnAdapterFallingSilentEndsTheProgramWithinItsTimeOuts) {
  const std::string script = Script();
  std::string sent;
  std::size_t received = 0;
  Measure(&sent, &received);
  if (HasFatalFailure()) return;
  const std::size_t closing = sent.find("CLOSING PROGRAM");
  ASSERT_NE(closing, std::string::npos);

  // Each of these waits out a read or an answer: a few seconds apiece.
  const char* seed_text = std::getenv("KC_CUT_SEED");
  const char* trials_text = std::getenv("KC_SILENCE_TRIALS");
  const unsigned seed =
      seed_text ? static_cast<unsigned>(std::strtoul(seed_text, nullptr, 10)) : 2430;
  const int trials = trials_text ? std::atoi(trials_text) : 5;
  std::mt19937 random(seed + 1);
  double longest = 0;
  for (int trial = 0; trial < trials; ++trial) {
    Cut cut;
    cut.silence = true;
    cut.to_adapter = random() % 2 == 0;
    // Before the closing sequence, whose writes need no answer.
    std::uniform_int_distribution<std::size_t> position(0,
                                                        (cut.to_adapter ? closing : received) - 1);
    cut.bytes = position(random);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", silence " + std::to_string(trial) + " " +
                 (cut.to_adapter ? "to the adapter" : "to the host") + " after " +
                 std::to_string(cut.bytes) + " bytes");
    SimServer server(sim_, script);
    ASSERT_GT(server.port(), 0);
    CuttingProxy proxy(server.port(), cut);
    RunResult run = RunCheckout(proxy.port(), false, kRunBound);
    std::optional<SteadyClock::time_point> cut_at = proxy.cut_at();
    ASSERT_TRUE(cut_at.has_value()) << run.out;
    const double took = Seconds(run.ended - *cut_at);
    longest = std::max(longest, took);
    EXPECT_LT(took, kEndBound);
    ASSERT_NE(run.code, -1) << "the program did not end after the adapter fell silent";
    EXPECT_EQ(run.code, 1) << run.out;
    EXPECT_TRUE(EndingBox(LastBox(run.out))) << run.out;
  }
  std::printf("%d silent adapters (seed %u): longest time from the silence to the end %.3f s\n",
              trials, seed, longest);
  RecordProperty("longest_seconds_to_end_silent", std::to_string(longest));
}

}  // namespace
}  // namespace kc
