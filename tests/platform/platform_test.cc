// The headless platform writing tagged lines, and the terminal platform on a
// pseudo-terminal: the test types on the master side, the platform reads and
// writes the slave side.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/headless_platform.h"
#include "platform/terminal_platform.h"

namespace kc {
namespace {

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(tcgetattr(slave_, &original_), 0);
    setenv("TERM", "dumb", 1);
  }
  void TearDown() override {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }

  // Types `keys` and waits until the platform's side can read them.
  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    pollfd fds{slave_, POLLIN, 0};
    ASSERT_EQ(poll(&fds, 1, 10000), 1);
  }
  // What the platform has written, read until `text` has come (or ten
  // seconds without it).
  std::string ShownUntil(const std::string& text) {
    char buffer[4096];
    pollfd fds{master_, POLLIN, 0};
    while (shown_.find(text) == std::string::npos && poll(&fds, 1, 10000) > 0) {
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      shown_.append(buffer, static_cast<std::size_t>(n));
    }
    return shown_;
  }

  VirtualClock clock_{9 * 3600.0};
  int master_ = -1;
  int slave_ = -1;
  termios original_{};
  std::string shown_;
  std::ostringstream out_;
};

TEST_F(PlatformTest, TerminalRawWhileAliveAndRestoredAfterwards) {
  {
    TerminalPlatform platform(clock_, slave_, slave_);
    termios raw{};
    ASSERT_EQ(tcgetattr(slave_, &raw), 0);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u);
  }
  termios after{};
  ASSERT_EQ(tcgetattr(slave_, &after), 0);
  EXPECT_EQ(after.c_lflag, original_.c_lflag);
  EXPECT_EQ(after.c_iflag, original_.c_iflag);
}

TEST_F(PlatformTest, TerminalPanelKeysGoToTheKeyHandlerUnlessTheIntroTakesThem) {
  TerminalPlatform platform(clock_, slave_, slave_);
  std::vector<int> keys;
  int clicks = 0;
  platform.SetKeyHandler([&](int key) { keys.push_back(key); });
  platform.SetClickHandler([&] { ++clicks; });
  platform.ShowIntro("Kalventa Checkout, v2.0");
  const std::string intro = "|  Kalventa Checkout, v2.0  |";
  EXPECT_NE(ShownUntil(intro).find(intro), std::string::npos);
  Type("1");
  platform.PumpEvents();
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(keys.empty());
  platform.HideIntro();
  Type("3xmM5\x1b[A9");
  platform.PumpEvents();
  EXPECT_EQ(keys, (std::vector<int>{'3', 'm', 'M', '5'}));
  // A wait delivers keys too, and passes virtual time.
  Type("2");
  const double before = clock_.Elapsed();
  EXPECT_FALSE(platform.WaitIdle(3.0));
  EXPECT_EQ(keys.back(), '2');
  EXPECT_NEAR(clock_.Elapsed() - before, 3.0, 1e-9);
}

TEST_F(PlatformTest, TerminalBoxesAreAnsweredFromTheKeyboardOrCancelledOnceItIsGone) {
  TerminalPlatform platform(clock_, slave_, slave_);
  Type("\r");
  EXPECT_EQ(platform.MessageBox("I/O operation aborted - timeout.\nSelect OK to continue.",
                                "GPIB ERROR # 6", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kOk);
  std::string shown = ShownUntil("Enter = OK, Esc or C = Cancel");
  EXPECT_NE(shown.find("GPIB ERROR # 6"), std::string::npos);
  EXPECT_NE(shown.find("| I/O operation aborted - timeout.\r\n| Select OK to continue."),
            std::string::npos);
  // An arrow key starts with Esc but is no Cancel; keys meant for the panel
  // are not taken by a box either; an OK box has only OK.
  const std::pair<const char*, MsgAnswer> answers[] = {
      {"c", MsgAnswer::kCancel}, {"\x1b", MsgAnswer::kCancel}, {"\x1b[B1\n", MsgAnswer::kOk}};
  for (const auto& [keys, answer] : answers) {
    Type(keys);
    EXPECT_EQ(platform.MessageBox("p", "t", MsgIcon::kExclamation, MsgButtons::kOkCancel), answer);
  }
  Type("c\r");
  EXPECT_EQ(platform.MessageBox("p", "t", MsgIcon::kCritical, MsgButtons::kOk), MsgAnswer::kOk);
  // A terminal that is gone is a close request, and boxes get the safe answer.
  close(master_);
  master_ = -1;
  EXPECT_TRUE(platform.WaitIdle(1.0));
  EXPECT_EQ(platform.MessageBox("p", "t", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kCancel);
}

// Ctrl-C on the terminal, SIGINT headless (on either clock): a close request
// that ends a wait, delivered by the next pump; a second one while the close
// handler runs ends the program at once.
TEST_F(PlatformTest, AnInterruptIsACloseRequestAndASecondOneWhileClosingEnds) {
  RealClock real;
  for (const std::string kind : {"terminal", "headless", "headless in real time"}) {
    SCOPED_TRACE(kind);
    const bool terminal = kind == "terminal";
    std::unique_ptr<Platform> platform;
    if (terminal)
      platform = std::make_unique<TerminalPlatform>(clock_, slave_, slave_);
    else
      platform = std::make_unique<HeadlessPlatform>(
          kind == "headless" ? static_cast<Clock&>(clock_) : real, out_);
    auto interrupt = [&] {
      if (terminal)
        Type("\x03");
      else
        std::raise(SIGINT);
    };
    int closes = 0;
    int end_code = -1;
    platform->SetCloseHandler([&] {
      ++closes;
      interrupt();
      try {
        platform->PumpEvents();
      } catch (const ProgramEnd& end) {
        end_code = end.code;
        throw;
      }
    });
    interrupt();
    // Even a long wait in real time ends at it; the handler runs later.
    EXPECT_TRUE(platform->WaitIdle(60.0));
    EXPECT_EQ(closes, 0);
    EXPECT_THROW(platform->PumpEvents(), ProgramEnd);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(end_code, kExitInterruptedTwice);
  }
}

TEST_F(PlatformTest, TerminalInstrumentScreenTopLineFirstGlyphsOneColumnEach) {
  TerminalPlatform platform(clock_, slave_, slave_);
  std::string rule;
  for (int i = 0; i < 40; ++i) rule += "\u2500";
  std::vector<std::string> lines(16);
  lines[15] = "LINE SIXTEEN";
  lines[13] = rule;
  lines[12] = "5\u00b5s";
  lines[0] = "  COMP    CTE";
  platform.ShowInstrumentScreen(lines, 3);
  std::string shown = ShownUntil("keys 1-5 bezel, M twice MENU OFF, Ctrl-C close");
  std::size_t top = shown.find("16| LINE SIXTEEN");
  std::size_t bottom = shown.find(" 1|   COMP    CTE");
  ASSERT_NE(top, std::string::npos) << shown;
  ASSERT_NE(bottom, std::string::npos) << shown;
  EXPECT_LT(top, bottom);
  EXPECT_LT(bottom, shown.find("keys 1-5 bezel"));
  EXPECT_NE(shown.find("bells 3"), std::string::npos);
  // Whole characters, and the right edge lined up with the plain lines.
  EXPECT_NE(shown.find("14| " + rule + " |"), std::string::npos) << shown;
  EXPECT_NE(shown.find("13| 5\u00b5s" + std::string(37, ' ') + " |"), std::string::npos);
  EXPECT_NE(shown.find("12| " + std::string(40, ' ') + " |"), std::string::npos);
}

TEST_F(PlatformTest, HeadlessBoxesAreTaggedLinesAnsweredInOrderThenSafely) {
  // One answer per box; an OK box uses up its entry whatever it says.
  HeadlessPlatform platform(clock_, out_, {MsgAnswer::kCancel, MsgAnswer::kOk});
  const MsgIcon warn = MsgIcon::kExclamation;
  EXPECT_EQ(platform.MessageBox("p2", "T2", warn, MsgButtons::kOk), MsgAnswer::kOk);
  // The widening blanks of a title go; a run of line breaks is one separator;
  // control characters are shown escaped.
  EXPECT_EQ(platform.MessageBox("No listeners found.\n\nCorrect problem\tand restart.\a",
                                "Expected Id-response" + std::string(40, ' '), MsgIcon::kCritical,
                                MsgButtons::kOkCancel),
            MsgAnswer::kOk);
  // Used up: OK/Cancel boxes get Cancel, OK boxes OK. The bus back end's
  // reason follows each box shown while it is set.
  platform.SetMessageDetail("adapter at 10.0.0.5:1234: cannot connect: Connection refused");
  EXPECT_EQ(platform.MessageBox("\r\np4", "T4", warn, MsgButtons::kOkCancel), MsgAnswer::kCancel);
  platform.SetMessageDetail("");
  EXPECT_EQ(platform.MessageBox("p5", "T5", MsgIcon::kInformation, MsgButtons::kOk),
            MsgAnswer::kOk);
  EXPECT_EQ(out_.str(),
            "[box] T2 (exclamation, OK): p2 -> OK\n"
            "[box] Expected Id-response (critical, OK/Cancel): No listeners found. / Correct "
            "problem\\x09and restart.\\x07 -> OK\n"
            "[box] T4 (exclamation, OK/Cancel):  / p4 -> Cancel\n"
            "[box reason] adapter at 10.0.0.5:1234: cannot connect: Connection refused\n"
            "[box] T5 (information, OK): p5 -> OK\n");
}

TEST_F(PlatformTest, HeadlessPumpStepsTheClockWaitsPassVirtualTime) {
  HeadlessPlatform platform(clock_, out_);
  platform.PumpEvents();
  EXPECT_NEAR(clock_.Elapsed(), 0.001, 1e-9);
  // The note for a wait at a real instrument is said at the first wait only.
  std::ostringstream note;
  platform.SayWhenWaiting(note, "waiting for a bezel button");
  EXPECT_EQ(note.str(), "");
  EXPECT_FALSE(platform.WaitIdle(3.0));
  EXPECT_NEAR(clock_.Elapsed(), 3.001, 1e-9);
  EXPECT_FALSE(platform.WaitIdle(1.0));
  EXPECT_EQ(note.str(), "waiting for a bezel button\n");
}

TEST_F(PlatformTest, HeadlessScreenIsPrintedTopLineFirstWhenAskedOrEchoedWhenNotBlank) {
  HeadlessPlatform platform(clock_, out_);
  std::vector<std::string> lines(16);
  lines[0] = "  COMP    CTE";
  lines[15] = "TOP";
  lines[4] = "    ";
  platform.ShowInstrumentScreen(lines, 1);
  EXPECT_EQ(out_.str(), "");
  platform.PrintScreen();
  EXPECT_EQ(out_.str(),
            "[screen 16] TOP\n"
            "[screen 01]   COMP    CTE\n"
            "[screen] bells 1\n");
  out_.str("");
  platform.set_echo_screen(true);
  platform.ShowInstrumentScreen(std::vector<std::string>(16, "   "), 2);
  EXPECT_EQ(out_.str(), "");
  lines = {"NEW"};
  lines.resize(16);
  platform.ShowInstrumentScreen(lines, 2);
  EXPECT_EQ(out_.str(), "[screen 01] NEW\n[screen] bells 2\n");
}

}  // namespace
}  // namespace kc
