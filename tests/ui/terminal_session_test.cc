// The built program in a real terminal: each test starts it in its own tmux
// server (120 x 40), types at it, clicks it and reads the screen as a person
// would see it. Every wait polls for a state with a generous deadline; the
// server is killed at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/exit_codes.h"
#include "support/program_run.h"

namespace kc {
namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a shell command; its standard output.
std::string Shell(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
  }
  return output;
}

// Polls `ready` until it holds or twenty seconds have passed (each look at
// the screen starts tmux: no quicker than every 50 ms).
bool Eventually(const std::function<bool()>& ready) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class TmuxSession {
 public:
  TmuxSession() : socket_("kc_ui_" + std::to_string(getpid()) + "_" + std::to_string(count_++)) {}
  ~TmuxSession() { Tmux("kill-server 2>/dev/null"); }

  std::string Tmux(const std::string& arguments) {
    return Shell("env -u TMUX tmux -L " + socket_ + " -f /dev/null " + arguments);
  }
  // Starts `command` in the session `name`; the shell around it leaves Ctrl-C
  // to the program and notes its exit status in a file.
  void Start(const std::string& name, const std::vector<std::string>& command) {
    std::string line = "trap '' INT; LC_ALL=C.UTF-8";
    for (const std::string& word : command) line += " " + Quote(word);
    line += "; echo $? >" + Quote(dir_.Path(name + ".status"));
    Tmux("new-session -d -s " + name + " -x 120 -y 40 " + Quote(line) +
         " \\; set-option -wg remain-on-exit on");
  }
  std::string Screen(const std::string& name = "kc") {
    return Tmux("capture-pane -p -t " + name + " 2>/dev/null");
  }
  // Waits until the screen shows `text` (or, with `shown` false, no longer
  // does).
  bool WaitFor(const std::string& text, bool shown = true, const std::string& name = "kc") {
    return Eventually([&] { return (Screen(name).find(text) != std::string::npos) == shown; });
  }
  void Keys(const std::string& keys) { Tmux("send-keys -t kc " + keys); }
  // A left click at a screen position (0-based, below 95), reported as a
  // terminal does: the press, then the release.
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
  // The program's exit status once it has ended; nullopt while it runs.
  std::optional<int> WaitExit() {
    int status = -1;
    Eventually([&] { return static_cast<bool>(std::ifstream(dir_.Path("kc.status")) >> status); });
    return status < 0 ? std::nullopt : std::optional<int>(status);
  }
  const harness::ScratchDir& dir() const { return dir_; }

 private:
  static inline int count_ = 0;
  std::string socket_;
  harness::ScratchDir dir_;
};

// Row and column (characters) of `text` on a captured screen.
std::optional<std::pair<int, int>> Locate(const std::string& screen, const std::string& text) {
  int row = 0;
  for (std::size_t start = 0; start < screen.size(); ++row) {
    std::size_t end = screen.find('\n', start);
    std::string line = screen.substr(start, end == std::string::npos ? end : end - start);
    if (std::size_t at = line.find(text); at != std::string::npos) {
      int col = 0;
      for (std::size_t i = 0; i < at; ++i)
        col += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
      return std::pair{row, col};
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return std::nullopt;
}

class TerminalSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Shell("command -v tmux").empty()) GTEST_SKIP() << "tmux is not installed";
    binary_ = ProgramPath();
    if (binary_.empty()) GTEST_SKIP() << "kalventa-checkout is not built (KC_BIN_DIR)";
  }
  // Starts the program and waits for the main menu (the intro has gone).
  void StartAtMenu(std::vector<std::string> args = {"--bus", "sim"}) {
    // Known serial and technician: no form before the intro.
    args.insert(args.begin(), {binary_, "--serial", "B010101", "--technician", "Test"});
    session_.Start("kc", args);
    ASSERT_TRUE(session_.WaitFor("SKEW    TWO")) << session_.Screen();
  }

  std::string binary_;
  TmuxSession session_;
};

TEST_F(TerminalSessionTest, KeysAndClicksRunACheckToItsResultAndBackThenMenuOffTwiceEnds) {
  StartAtMenu({"--bus", "sim", "--virtual-time"});
  // PAGE TWO by a click on its button, PAGE THREE by a click on its label.
  auto page_two = Locate(session_.Screen(), "[ 4 ]");
  ASSERT_TRUE(page_two);
  session_.Click(page_two->second + 2, page_two->first);
  ASSERT_TRUE(session_.WaitFor("CCD     VERT    CMRR")) << session_.Screen();
  auto page_three = Locate(session_.Screen(), "PAGE    PAGE");
  ASSERT_TRUE(page_three);
  session_.Click(page_three->second + 1, page_three->first);
  ASSERT_TRUE(session_.WaitFor("BAND-   TIMING   CALI-")) << session_.Screen();
  session_.Keys("3");
  ASSERT_TRUE(session_.WaitFor("CONNECT PG 506, 500mV STANDARD AMPLITUDE")) << session_.Screen();
  // The panel follows the instrument's settings.
  ASSERT_TRUE(session_.WaitFor("A 100 \u00b5s/div")) << session_.Screen();
  session_.Keys("1");
  ASSERT_TRUE(session_.WaitFor("CONNECT THE CALIBRATOR SIGNAL TO CH1")) << session_.Screen();
  session_.Keys("1");
  ASSERT_TRUE(session_.WaitFor("LIMIT: 396.0 - 404.0 mV")) << session_.Screen();
  std::string screen = session_.Screen();
  auto verdict = Locate(screen, "signal");
  auto value = Locate(screen, "CALCULATED:");
  ASSERT_TRUE(verdict && value) << screen;
  EXPECT_EQ(value->first, verdict->first + 2);
  EXPECT_NE(screen.find("PRESS ANY BEZEL BUTTON FOR MAIN MENU"), std::string::npos) << screen;
  session_.Keys("2");
  ASSERT_TRUE(session_.WaitFor("LIMIT:", false)) << session_.Screen();
  EXPECT_NE(session_.Screen().find("BAND-   TIMING   CALI-"), std::string::npos);
  session_.Keys("m");
  ASSERT_TRUE(session_.WaitFor("press MENU OFF again to leave")) << session_.Screen();
  session_.Keys("M");
  EXPECT_EQ(session_.WaitExit(), kExitClosed) << session_.Screen();
}

// With the instrument's GPIB cable pulled the closing notice cannot be
// written: the closing sequence stops at the GPIB error box. Cancel there ends
// the program; so does a second Ctrl-C.
TEST_F(TerminalSessionTest, GpibErrorBoxWhileClosingEndsWithCancelOrASecondCtrlC) {
  const std::pair<const char*, int> answers[] = {{"Right Enter", kExitFatal},
                                                 {"C-c", kExitInterruptedTwice}};
  for (const auto& [keys, code] : answers) {
    SCOPED_TRACE(keys);
    TmuxSession session;
    session.Start("kc", {binary_, "--no-record", "--bus", "sim", "--virtual-time"});
    ASSERT_TRUE(session.WaitFor("SKEW    TWO")) << session.Screen();
    session.Keys("u");
    ASSERT_TRUE(session.WaitFor("unplugged")) << session.Screen();
    session.Keys("C-c");
    ASSERT_TRUE(session.WaitFor("[>  OK  <]   [ Cancel ]")) << session.Screen();
    std::string screen = session.Screen();
    EXPECT_NE(screen.find("GPIB ERROR # 2"), std::string::npos) << screen;
    EXPECT_NE(screen.find("No listener on write function."), std::string::npos) << screen;
    EXPECT_NE(screen.find("Closing... (Ctrl-C again ends at once)"), std::string::npos) << screen;
    session.Keys(keys);
    EXPECT_EQ(session.WaitExit(), code) << session.Screen();
  }
}

// Ctrl-C and a terminal that goes away both run the closing sequence: the
// notice, then the channels at rest, as the trace of the writes shows.
TEST_F(TerminalSessionTest, CtrlCAndAVanishedTerminalRunTheClosingSequence) {
  for (bool hang_up : {false, true}) {
    SCOPED_TRACE(hang_up ? "terminal gone" : "Ctrl-C");
    TmuxSession session;
    const std::string trace = session.dir().Path("trace");
    session.Start("kc", {binary_, "--no-record", "--bus", "sim", "--trace", trace});
    ASSERT_TRUE(session.WaitFor("SKEW    TWO")) << session.Screen();
    session.Tmux(hang_up ? "kill-server" : "send-keys -t kc C-c");
    ASSERT_TRUE(Eventually([&] {
      return harness::ReadFile(trace).find("VMO CH2;CH2 COU:GND,POS:-.5") != std::string::npos;
    }));
    const std::string written = harness::ReadFile(trace);
    std::size_t notice = written.find("*** CLOSING PROGRAM ***");
    ASSERT_NE(notice, std::string::npos) << written;
    EXPECT_LT(notice, written.find("INIT BOTH;CH1 COU:GND,POS:+.5"));
    if (!hang_up) {
      EXPECT_EQ(session.WaitExit(), kExitInterrupted) << session.Screen();
    }
  }
}

TEST_F(TerminalSessionTest, RealBusPanelMirrorsTheMessageLinesSent) {
  const std::string server = binary_.substr(0, binary_.rfind('/')) + "/kalventa-sim";
  if (access(server.c_str(), X_OK) != 0) GTEST_SKIP() << server << " is not built";
  // The technician there presses PAGE TWO once, then nothing more.
  session_.Start("sim", {server, "--listen", "127.0.0.1:0", "--operator", "b4"});
  const std::string where = "listening on 127.0.0.1:";
  ASSERT_TRUE(session_.WaitFor(where, true, "sim")) << session_.Screen("sim");
  const std::string line = session_.Screen("sim");
  const std::size_t at = line.find(where) + where.size();
  const std::string port = line.substr(at, line.find_first_not_of("0123456789", at) - at);
  ASSERT_FALSE(port.empty()) << line;
  session_.Start("kc", {binary_, "--no-record", "--bus", "prologix://127.0.0.1:" + port});
  ASSERT_TRUE(session_.WaitFor("Message lines written to the instrument")) << session_.Screen();
  ASSERT_TRUE(session_.WaitFor("CCD     VERT    CMRR    PAGE    PAGE")) << session_.Screen();
  std::string screen = session_.Screen();
  EXPECT_NE(screen.find("*** KALVENTA CHECKOUT ***"), std::string::npos) << screen;
  // No simulated front panel: no buttons to press, no bench.
  EXPECT_EQ(screen.find("[ 1 ]"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("Bench"), std::string::npos) << screen;
  session_.Keys("C-c");
  EXPECT_EQ(session_.WaitExit(), kExitInterrupted) << session_.Screen();
}

}  // namespace
}  // namespace kc
