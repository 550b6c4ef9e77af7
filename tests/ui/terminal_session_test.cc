// The built program in a real terminal: each test starts it in its own tmux
// server (120 x 40), types at it, clicks it and reads the screen as a person
// would see it. Every wait is bounded; the server is killed at the end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/exit_codes.h"

namespace kc {
namespace {

constexpr double kWaitSeconds = 20;
constexpr auto kPoll = std::chrono::milliseconds(50);

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a shell command; its standard output. `status` gets the exit status.
std::string Shell(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    if (status != nullptr) *status = -1;
    return output;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int result = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

class TmuxSession {
 public:
  explicit TmuxSession(const std::string& name)
      : socket_("kc_ui_" + name + "_" + std::to_string(getpid())) {
    char dir[] = "/tmp/kc_ui_XXXXXX";
    if (mkdtemp(dir) != nullptr) dir_ = dir;
  }
  ~TmuxSession() {
    Tmux("kill-server 2>/dev/null");
    if (!dir_.empty()) {
      for (const char* name : {"status", "trace"}) unlink((dir_ + "/" + name).c_str());
      rmdir(dir_.c_str());
    }
  }
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  std::string Tmux(const std::string& arguments, int* status = nullptr) {
    return Shell("env -u TMUX tmux -L " + socket_ + " -f /dev/null " + arguments, status);
  }

  // Starts the program in the terminal. The shell around it leaves Ctrl-C to
  // the program and notes its exit status in a file.
  bool Start(const std::string& binary, const std::vector<std::string>& args, int width = 120,
             int height = 40) {
    if (dir_.empty()) return false;
    std::string command = "trap '' INT; LC_ALL=C.UTF-8 " + Quote(binary);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += "; echo $? >" + Quote(dir_ + "/status");
    int status = 0;
    Tmux("new-session -d -s kc -x " + std::to_string(width) + " -y " + std::to_string(height) +
             " " + Quote(command) + " \\; set-option -wg remain-on-exit on",
         &status);
    return status == 0;
  }

  std::string Screen() { return Tmux("capture-pane -p -t kc 2>/dev/null"); }

  // Waits until the screen shows `text` (or, with `shown` false, no longer
  // does).
  bool WaitFor(const std::string& text, bool shown = true, double seconds = kWaitSeconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    do {
      last_ = Screen();
      if ((last_.find(text) != std::string::npos) == shown) return true;
      std::this_thread::sleep_for(kPoll);
    } while (std::chrono::steady_clock::now() < end);
    return false;
  }
  bool WaitGone(const std::string& text) { return WaitFor(text, false); }

  void Keys(const std::string& keys) { Tmux("send-keys -t kc " + keys); }
  // A click of the left mouse button at a screen position (0-based, both
  // below 95), reported as a terminal does: the press, then the release.
  void Click(int col, int row) {
    std::string report;
    for (char button : {' ', '#'}) {
      report += "\x1b[M";
      report += button;
      report += static_cast<char>(33 + col);
      report += static_cast<char>(33 + row);
    }
    Tmux("send-keys -t kc -l " + Quote(report));
  }

  // The program's exit status once it has ended (128 + the signal when a
  // signal ended it); nullopt if it is still running after `seconds`.
  std::optional<int> WaitExit(double seconds = kWaitSeconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    do {
      std::ifstream file(dir_ + "/status");
      int status = -1;
      if (file >> status) return status;
      std::this_thread::sleep_for(kPoll);
    } while (std::chrono::steady_clock::now() < end);
    return std::nullopt;
  }

  // A directory of the session's own, for files the program writes.
  const std::string& dir() const { return dir_; }

  // The screen as last read, for failure messages.
  const std::string& last() const { return last_; }

 private:
  std::string socket_;
  std::string dir_;
  std::string last_;
};

// Row and column (characters) of `text` on a captured screen.
std::optional<std::pair<int, int>> Locate(const std::string& screen, const std::string& text) {
  int row = 0;
  std::size_t start = 0;
  while (start <= screen.size()) {
    std::size_t end = screen.find('\n', start);
    std::string line = screen.substr(start, end == std::string::npos ? end : end - start);
    std::size_t at = line.find(text);
    if (at != std::string::npos) {
      int col = 0;
      for (std::size_t i = 0; i < at; ++i)
        col += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
      return std::pair{row, col};
    }
    if (end == std::string::npos) break;
    start = end + 1;
    ++row;
  }
  return std::nullopt;
}

// The simulated instrument served as a network GPIB adapter by the
// kalventa-sim program, for as long as it lives.
class AdapterServer {
 public:
  // Starts it on a free loopback port; false when it does not say where.
  bool Start(const std::string& binary, const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(out[1], 1);
      dup2(null, 2);
      close(out[0]);
      std::vector<std::string> all = {binary, "--listen", "127.0.0.1:0"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& arg : all) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(binary.c_str(), argv.data());
      _exit(126);
    }
    close(out[1]);
    // "listening on 127.0.0.1:PORT"
    std::string line;
    pollfd ready{out[0], POLLIN, 0};
    char c = 0;
    while (line.find('\n') == std::string::npos && poll(&ready, 1, 10000) > 0 &&
           read(out[0], &c, 1) == 1) {
      line += c;
    }
    reader_ = out[0];
    std::size_t colon = line.rfind(':');
    if (pid_ < 0 || colon == std::string::npos) return false;
    port_ = std::atoi(line.c_str() + colon + 1);
    return port_ > 0;
  }
  ~AdapterServer() {
    if (pid_ > 0) {
      kill(pid_, SIGINT);
      for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(kPoll);
      }
      if (waitpid(pid_, nullptr, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
    if (reader_ >= 0) close(reader_);
  }

  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int reader_ = -1;
  int port_ = 0;
};

class TerminalSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int status = 0;
    Shell("command -v tmux >/dev/null 2>&1", &status);
    if (status != 0) GTEST_SKIP() << "tmux is not installed";
    const char* dir = std::getenv("KC_BIN_DIR");
    if (dir == nullptr) GTEST_SKIP() << "KC_BIN_DIR is not set";
    binary_ = std::string(dir) + "/kalventa-checkout";
    if (access(binary_.c_str(), X_OK) != 0) GTEST_SKIP() << binary_ << " is not built";
  }

  // Starts the program on the simulated bus and waits for the main menu.
  void StartAtMenu(TmuxSession& session, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--bus", "sim"});
    ASSERT_TRUE(session.Start(binary_, args));
    ASSERT_TRUE(session.WaitFor("COMP   EFFECT   SKEW    TWO")) << session.last();
  }

  std::string binary_;
};

TEST_F(TerminalSessionTest, IntroThenCaptionHintTitleScreenAndPageLabels) {
  TmuxSession session("intro");
  ASSERT_TRUE(session.Start(binary_, {"--bus", "sim:2430A@7"}));
  ASSERT_TRUE(session.WaitFor("Kalventa Checkout, v2.0 / 1994-2026")) << session.last();
  ASSERT_TRUE(session.WaitFor("a key or a click continues")) << session.last();
  // The intro goes by itself after its two seconds.
  ASSERT_TRUE(session.WaitGone("a key or a click continues")) << session.last();
  ASSERT_TRUE(session.WaitFor("ATTEN   CCD     SAMPL   PAGE    QUIT")) << session.last();
  std::string screen = session.Screen();
  EXPECT_EQ(screen.rfind(" Kalventa Checkout, v2.0", 0), 0u) << screen;
  EXPECT_NE(screen.find("Use the Bezel Buttons of the 2430A on GPIB address 7"), std::string::npos)
      << screen;
  EXPECT_NE(screen.find("2430A DIGITAL STORAGE OSCILLOSCOPE"), std::string::npos) << screen;
  EXPECT_NE(screen.find("[ 1 ]   [ 2 ]   [ 3 ]   [ 4 ]   [ 5 ]   [MENU OFF]"), std::string::npos);
  // The title screen above the labels, the labels on the two lowest lines.
  auto title = Locate(screen, "KALVENTA CHECKOUT");
  auto upper = Locate(screen, "ATTEN   CCD");
  auto lower = Locate(screen, "COMP    CTE");
  auto buttons = Locate(screen, "[ 1 ]");
  ASSERT_TRUE(title && upper && lower && buttons) << screen;
  EXPECT_LT(title->first, upper->first);
  EXPECT_EQ(lower->first, upper->first + 1);
  EXPECT_EQ(buttons->first, lower->first + 1);
  EXPECT_NE(screen.find("1-5 bezel buttons"), std::string::npos);
}

TEST_F(TerminalSessionTest, CheckPromptsAndResultScreenThenBackToTheMenu) {
  TmuxSession session("check");
  StartAtMenu(session, {"--virtual-time"});
  session.Keys("4");
  ASSERT_TRUE(session.WaitFor("CCD     VERT    CMRR")) << session.last();
  session.Keys("4");
  ASSERT_TRUE(session.WaitFor("BAND-   TIMING   CALI-")) << session.last();
  session.Keys("3");
  ASSERT_TRUE(session.WaitFor("CONNECT PG 506, 500mV STANDARD AMPLITUDE")) << session.last();
  std::string screen = session.Screen();
  EXPECT_NE(screen.find("TO CH1"), std::string::npos) << screen;
  EXPECT_NE(screen.find("PRESS ANY BEZEL BUTTON WHEN READY"), std::string::npos) << screen;
  // The panel follows the instrument's settings.
  ASSERT_TRUE(session.WaitFor("A 100 \u00b5s/div")) << session.last();
  EXPECT_NE(session.Screen().find("CH1 100 mV/div DC"), std::string::npos);

  session.Keys("1");
  ASSERT_TRUE(session.WaitFor("CONNECT THE CALIBRATOR SIGNAL TO CH1")) << session.last();
  EXPECT_NE(session.Screen().find("VIA A X1 PROBE OR APPROPRIATE ADAPTER"), std::string::npos);
  session.Keys("1");
  ASSERT_TRUE(session.WaitFor("LIMIT: 396.0 - 404.0 mV")) << session.last();
  screen = session.Screen();
  EXPECT_NE(screen.find("CALCULATED:"), std::string::npos) << screen;
  EXPECT_NE(screen.find("PRESS ANY BEZEL BUTTON FOR MAIN MENU"), std::string::npos) << screen;
  auto verdict = Locate(screen, "signal");
  auto value = Locate(screen, "CALCULATED:");
  auto limit = Locate(screen, "LIMIT:");
  ASSERT_TRUE(verdict && value && limit) << screen;
  EXPECT_EQ(value->first, verdict->first + 2);
  EXPECT_EQ(limit->first, value->first + 2);

  session.Keys("2");
  ASSERT_TRUE(session.WaitFor("BAND-   TIMING   CALI-")) << session.last();
  EXPECT_EQ(session.Screen().find("LIMIT:"), std::string::npos);
  // MENU OFF twice in the menu ends the program the orderly way; the window
  // says so after the first.
  session.Keys("m");
  ASSERT_TRUE(session.WaitFor("press MENU OFF again to leave")) << session.last();
  session.Keys("M");
  EXPECT_EQ(session.WaitExit(), 0) << session.Screen();
}

TEST_F(TerminalSessionTest, MouseClicksPressBezelButtonsAndTheirLabels) {
  TmuxSession session("mouse");
  StartAtMenu(session, {"--virtual-time"});
  std::string screen = session.Screen();
  auto page_two = Locate(screen, "[ 4 ]");
  ASSERT_TRUE(page_two) << screen;
  session.Click(page_two->second + 2, page_two->first);
  ASSERT_TRUE(session.WaitFor("CCD     VERT    CMRR")) << session.last();
  // The label "PAGE ONE" itself is a button too.
  screen = session.Screen();
  auto page_one = Locate(screen, "PAGE    PAGE");
  ASSERT_TRUE(page_one) << screen;
  session.Click(page_one->second + 9, page_one->first);
  ASSERT_TRUE(session.WaitFor("ATTEN   POS     SAMPL")) << session.last();
}

TEST_F(TerminalSessionTest, GpibErrorDialogAnsweredWithCancelEndsTheProgram) {
  TmuxSession session("gpib_error");
  StartAtMenu(session, {"--virtual-time"});
  // Pull the instrument's GPIB cable, then close: the closing notice cannot
  // be written.
  session.Keys("u");
  ASSERT_TRUE(session.WaitFor("unplugged")) << session.last();
  session.Keys("C-c");
  ASSERT_TRUE(session.WaitFor("GPIB ERROR # 2")) << session.last();
  std::string screen = session.Screen();
  EXPECT_NE(screen.find("No listener on write function."), std::string::npos) << screen;
  EXPECT_NE(screen.find("Select OK to continue or Cancel to terminate program."),
            std::string::npos);
  EXPECT_NE(screen.find("/!\\"), std::string::npos) << screen;
  EXPECT_NE(screen.find("[>  OK  <]   [ Cancel ]"), std::string::npos) << screen;
  session.Keys("Right");
  ASSERT_TRUE(session.WaitFor("[   OK   ]   [>Cancel<]")) << session.last();
  session.Keys("Enter");
  EXPECT_EQ(session.WaitExit(), 1) << session.Screen();
}

TEST_F(TerminalSessionTest, CtrlCShowsTheClosingNoticeAndEnds) {
  TmuxSession session("ctrl_c");
  StartAtMenu(session);
  session.Keys("C-c");
  ASSERT_TRUE(session.WaitFor("*** CLOSING PROGRAM ***")) << session.last();
  EXPECT_NE(session.Screen().find("Closing... (Ctrl-C again ends at once)"), std::string::npos);
  // The closing sequence's two seconds are the program's own wait.
  ASSERT_TRUE(session.WaitFor("The program waits")) << session.last();
  EXPECT_NE(session.last().find("no button press needed"), std::string::npos) << session.last();
  EXPECT_EQ(session.WaitExit(), kExitInterrupted) << session.Screen();
}

TEST_F(TerminalSessionTest, SecondCtrlCWhileClosingEndsAtOnce) {
  TmuxSession session("ctrl_c_twice");
  StartAtMenu(session);
  session.Keys("C-c");
  ASSERT_TRUE(session.WaitFor("*** CLOSING PROGRAM ***")) << session.last();
  session.Keys("C-c");
  // Not the orderly end of the two-second closing sequence.
  EXPECT_EQ(session.WaitExit(), kExitInterruptedTwice) << session.Screen();
}

TEST_F(TerminalSessionTest, RealBusPanelMirrorsTheMessageLinesSent) {
  std::string server_binary = binary_.substr(0, binary_.rfind('/')) + "/kalventa-sim";
  if (access(server_binary.c_str(), X_OK) != 0) GTEST_SKIP() << server_binary << " is not built";
  AdapterServer server;
  // The technician there presses PAGE TWO once, then nothing more.
  ASSERT_TRUE(server.Start(server_binary, {"--operator", "b4"}));
  TmuxSession session("mirror");
  ASSERT_TRUE(
      session.Start(binary_, {"--bus", "prologix://127.0.0.1:" + std::to_string(server.port())}));
  ASSERT_TRUE(session.WaitFor("Message lines written to the instrument")) << session.last();
  ASSERT_TRUE(session.WaitFor("CCD     VERT    CMRR    PAGE    PAGE")) << session.last();
  std::string screen = session.Screen();
  EXPECT_NE(screen.find("*** KALVENTA CHECKOUT ***"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Use the Bezel Buttons of the 2440 on GPIB address 1"), std::string::npos);
  // No simulated front panel: no buttons to press, no bench.
  EXPECT_EQ(screen.find("[ 1 ]"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("Bench"), std::string::npos) << screen;
  session.Keys("C-c");
  ASSERT_TRUE(session.WaitFor("*** CLOSING PROGRAM ***")) << session.last();
  EXPECT_EQ(session.Screen().find("CCD     VERT"), std::string::npos);
  EXPECT_EQ(session.WaitExit(), 4) << session.Screen();
}

TEST_F(TerminalSessionTest, ClosingTheTerminalRunsTheClosingSequence) {
  TmuxSession session("hangup");
  std::string trace = session.dir() + "/trace";
  StartAtMenu(session, {"--trace", trace});
  // The terminal goes away under the program.
  session.Tmux("kill-server");
  std::string written;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (written.find("VMO CH2;CH2 COU:GND,POS:-.5") == std::string::npos &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(kPoll);
    std::ifstream file(trace);
    written.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::size_t notice = written.find("*** CLOSING PROGRAM ***");
  std::size_t first = written.find("INIT BOTH;CH1 COU:GND,POS:+.5");
  std::size_t second = written.find("VMO CH2;CH2 COU:GND,POS:-.5");
  ASSERT_NE(notice, std::string::npos) << written;
  ASSERT_NE(second, std::string::npos) << written;
  EXPECT_LT(notice, first);
  EXPECT_LT(first, second);
}

TEST_F(TerminalSessionTest, TooSmallATerminalSaysSoAndResizingRedraws) {
  TmuxSession session("resize");
  StartAtMenu(session, {"--virtual-time"});
  session.Tmux("resize-window -t kc -x 50 -y 20");
  ASSERT_TRUE(session.WaitFor("Terminal too small: needs at least 60x22,")) << session.last();
  EXPECT_NE(session.Screen().find("this one is 50x20."), std::string::npos) << session.last();
  EXPECT_EQ(session.Screen().find("ATTEN"), std::string::npos);
  // Keys still reach the instrument.
  session.Keys("4");
  // The classic terminal size is enough for the panel and its buttons.
  session.Tmux("resize-window -t kc -x 80 -y 24");
  ASSERT_TRUE(session.WaitFor("CCD     VERT    CMRR")) << session.last();
  std::string screen = session.Screen();
  EXPECT_EQ(screen.find("Terminal too small"), std::string::npos);
  EXPECT_NE(screen.find("[ 1 ]   [ 2 ]   [ 3 ]   [ 4 ]   [ 5 ]   [MENU OFF]"), std::string::npos)
      << screen;
  EXPECT_NE(screen.find("1-5 bezel buttons"), std::string::npos) << screen;
}

}  // namespace
}  // namespace kc
