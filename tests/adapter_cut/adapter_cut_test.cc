// The link to a GPIB adapter cut at random points of a whole scripted
// checkout: kalventa-sim serves the simulated oscilloscope as an AR488 on a
// loopback port, a proxy in this test stands between it and kalventa-checkout
// (virtual time, every box answered Cancel) and, after a chosen number of
// bytes in one direction, closes both connections and every later one, or
// falls silent. The program must end with a box that ends it (a GPIB error
// box answered Cancel, or a start-up failure) within a bounded time.
//
// KC_CUT_SEED (default 2430), KC_CUT_TRIALS (default 100) and
// KC_SILENCE_TRIALS (default 5) choose the cuts.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/program_run.h"

namespace kc {
namespace {

using namespace harness;  // NOLINT(google-build-using-namespace)

// A run that has not ended this long after its cut has hung.
constexpr double kEndBound = 60.0;

// Sample skew (the 2440's notice), common mode rejection, calibrator, timing,
// A trigger and external triggers, then QUIT.
std::string Script() {
  auto presses = [](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += ",b1";
    return text;
  };
  return "b3,b1,b4,b3,b1,b3,b1,b1,b3,b1,b1,b4,b3,b1,b1,b1,b2" + presses(22) + ",b4,b1" +
         presses(6) + ",b3" + presses(12) + ",b4,b5";
}

// Where to cut: after `bytes` bytes from the host to the adapter, or from the
// adapter to the host; with `silence` the adapter then keeps every connection
// open (new ones too) and answers nothing.
struct Cut {
  bool to_adapter = true;
  std::size_t bytes = 0;
  bool silence = false;
};

// Forwards one host connection to the adapter at `upstream`, and cuts it.
class CuttingProxy {
 public:
  CuttingProxy(int upstream, std::optional<Cut> cut) : upstream_(upstream), cut_(cut) {
    listen_fd_ = ListenLoopback(&port_);
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
  // What went through: everything the host sent, the count of bytes the
  // adapter sent, whether the cut came and whether the closing sequence had
  // begun then.
  struct Seen {
    std::string to_adapter;
    std::size_t to_host = 0;
    bool cut = false;
    bool cut_in_closing = false;
  };
  Seen seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {to_adapter_, to_host_, cut_done_, cut_in_closing_};
  }

 private:
  int Accept() {
    pollfd entry{listen_fd_, POLLIN, 0};
    return ::poll(&entry, 1, 10) > 0 ? ::accept(listen_fd_, nullptr, nullptr) : -1;
  }
  void Serve() {
    int host = -1;
    while (!stop_ && host < 0) host = Accept();
    int adapter = host < 0 ? -1 : ConnectLoopback(upstream_);
    char buffer[4096];
    bool cut = false;
    bool ended = adapter < 0;
    while (!stop_ && !ended) {
      pollfd entries[2] = {{host, POLLIN, 0}, {adapter, POLLIN, 0}};
      if (::poll(entries, 2, 10) <= 0) continue;
      for (int side = 0; side < 2 && !ended; ++side) {
        if ((entries[side].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        const bool to_adapter = side == 0;
        ssize_t n = ::recv(entries[side].fd, buffer, sizeof buffer, 0);
        ended = n <= 0;  // one side went away: the other follows
        if (ended) break;
        std::size_t size = static_cast<std::size_t>(n);
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t& count = to_adapter ? to_adapter_count_ : to_host_;
        if (cut_ && cut_->to_adapter == to_adapter && count + size > cut_->bytes) {
          size = cut_->bytes - count;
          cut = ended = cut_done_ = true;
        }
        if (to_adapter) to_adapter_.append(buffer, size);
        if (cut) cut_in_closing_ = to_adapter_.find("CLOSING PROGRAM") != std::string::npos;
        count += size;
        SendAll(to_adapter ? adapter : host, std::string(buffer, size));
      }
    }
    if (adapter >= 0) ::close(adapter);
    // Nothing more gets through; the port stays taken, so that no connection
    // lands elsewhere.
    const bool silence = cut && cut_ && cut_->silence;
    std::vector<int> held;
    if (host >= 0) held.push_back(host);
    while (!stop_) {
      if (!silence) {
        for (int fd : held) ::close(fd);
        held.clear();
      }
      int late = Accept();
      if (late >= 0) held.push_back(late);
    }
    for (int fd : held) ::close(fd);
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
  bool cut_done_ = false;
  bool cut_in_closing_ = false;
  std::thread thread_;
};

// Boxes after which the program ends: a GPIB error answered Cancel, or a
// failed start-up.
bool EndingBox(const std::string& out) {
  std::size_t at = out.rfind("[box] ");
  if (at == std::string::npos) return false;
  std::string box = out.substr(at, out.find('\n', at) - at);
  if (box.rfind("[box] GPIB ERROR #", 0) == 0) return box.ends_with("-> Cancel");
  for (const char* title : {"[box] Initialization Error", "[box] Expected Id-response",
                            "[box] Unexpected Id-response", "[box] Not enough devices"}) {
    if (box.rfind(title, 0) == 0) return true;
  }
  return false;
}

unsigned FromEnvironment(const char* name, unsigned fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : fallback;
}

class AdapterCutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ProgramPath().empty() || SimProgramPath().empty())
      GTEST_SKIP() << "the programs are not built (KC_BIN_DIR)";
  }

  // One checkout through a proxy with `cut`, until it ends. How many bytes
  // go each way differs a little from run to run (the program's polls follow
  // the clock), so each run tells where its own cut came: before the closing
  // sequence, in it, or not at all (the run had ended).
  ProgramRun RunThrough(std::optional<Cut> cut, CuttingProxy::Seen* seen) {
    // Files of each run's own: none is read before it is written.
    const std::string name = dir_.Path(std::to_string(++runs_));
    Process sim(SimProgramPath(), {"--listen", "0", "--seed", "7", "--operator", Script()},
                name + ".sim", name + ".sim_err");
    std::string where;
    WaitFor([&] { return (where = ReadFile(name + ".sim")).find('\n') != std::string::npos; },
            kEndBound);
    int port = std::atoi(where.c_str() + where.find(':') + 1);
    CuttingProxy proxy(port, cut);
    // No checkout record: its verdict boxes would come between the cuts' boxes.
    Process checkout(
        ProgramPath(),
        {"--virtual-time", "--bus", "prologix://127.0.0.1:" + std::to_string(proxy.port()),
         "--answers", "cancel", "--no-record"},
        name + ".out", name + ".err");
    ProgramRun run;
    run.code = checkout.Wait(kEndBound);
    run.out = ReadFile(name + ".out");
    run.err = ReadFile(name + ".err");
    *seen = proxy.seen();
    return run;
  }

  // Random cuts of the whole run; `silence` makes the adapter fall silent
  // instead, before the closing sequence, whose writes need no answer.
  void Trials(bool silence, unsigned trials) {
    CuttingProxy::Seen seen;
    ProgramRun whole = RunThrough(std::nullopt, &seen);
    ASSERT_EQ(whole.code, 0) << whole.out << whole.err;
    const std::string sent = seen.to_adapter;
    const std::size_t received = seen.to_host;
    const std::size_t closing = sent.find("CLOSING PROGRAM");
    ASSERT_NE(closing, std::string::npos);
    ASSERT_GT(received, 0u);

    const unsigned seed = FromEnvironment("KC_CUT_SEED", 2430) + (silence ? 1 : 0);
    std::mt19937 random(seed);
    for (unsigned trial = 0; trial < trials; ++trial) {
      Cut cut;
      cut.silence = silence;
      cut.to_adapter = random() % 2 == 0;
      std::size_t span = cut.to_adapter ? (silence ? closing : sent.size()) : received;
      cut.bytes = std::uniform_int_distribution<std::size_t>(0, span - 1)(random);
      SCOPED_TRACE("seed " + std::to_string(seed) + ", trial " + std::to_string(trial) + ": " +
                   (silence ? "silence" : "cut") +
                   (cut.to_adapter ? " to the adapter" : " to the host") + " after " +
                   std::to_string(cut.bytes) + " bytes");
      ProgramRun run = RunThrough(cut, &seen);
      ASSERT_NE(run.code, -1) << "the program did not end after the cut";
      if (!seen.cut) {
        // This run sent or received a little less than the measured one.
        EXPECT_GT(cut.bytes, (cut.to_adapter ? closing : received / 2)) << run.out;
        EXPECT_EQ(run.code, 0) << run.out;
      } else if (seen.cut_in_closing) {
        // Its last writes may well have gone out before the connection was
        // found closed.
        EXPECT_TRUE(run.code == 0 || (run.code == 1 && EndingBox(run.out))) << run.out;
      } else {
        EXPECT_EQ(run.code, 1) << run.out;
        EXPECT_TRUE(EndingBox(run.out)) << run.out;
      }
    }
  }

  ScratchDir dir_;
  int runs_ = 0;
};

TEST_F(AdapterCutTest, ACutAnywhereEndsTheProgram) {
  Trials(false, FromEnvironment("KC_CUT_TRIALS", 100));
}

TEST_F(AdapterCutTest, AnAdapterFallingSilentEndsTheProgramWithinItsTimeOuts) {
  Trials(true, FromEnvironment("KC_SILENCE_TRIALS", 5));
}

}  // namespace
}  // namespace kc
