// The terminal platform on a pseudo-terminal: the test types on the master
// side, the platform reads and writes the slave side.
#include "platform/terminal_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace kc {
namespace {

class TerminalPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0);
    ASSERT_EQ(tcgetattr(slave_, &original_), 0);
    setenv("TERM", "dumb", 1);
  }
  void TearDown() override {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    // Let the line discipline pass the bytes on before the platform looks.
    pollfd fds{slave_, POLLIN, 0};
    poll(&fds, 1, 1000);
  }
  // What the platform has written so far.
  std::string Shown() {
    std::string text;
    char buffer[4096];
    pollfd fds{master_, POLLIN, 0};
    while (poll(&fds, 1, 50) > 0) {
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }

  VirtualClock clock_{9 * 3600.0};
  int master_ = -1;
  int slave_ = -1;
  termios original_{};
};

TEST_F(TerminalPlatformTest, RawWhileAliveAndRestoredAfterwards) {
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

TEST_F(TerminalPlatformTest, FrontPanelKeysGoToTheKeyHandler) {
  TerminalPlatform platform(clock_, slave_, slave_);
  std::vector<int> keys;
  platform.SetKeyHandler([&](int key) { keys.push_back(key); });
  Type("3xmM5\x1b[A9");
  platform.PumpEvents();
  EXPECT_EQ(keys, (std::vector<int>{'3', 'm', 'M', '5'}));
}

TEST_F(TerminalPlatformTest, AKeyClosesTheIntroInsteadOfPressingAButton) {
  TerminalPlatform platform(clock_, slave_, slave_);
  std::vector<int> keys;
  int clicks = 0;
  platform.SetKeyHandler([&](int key) { keys.push_back(key); });
  platform.SetClickHandler([&] { ++clicks; });
  platform.ShowIntro("Kalventa Checkout, v2.0");
  EXPECT_NE(Shown().find("|  Kalventa Checkout, v2.0  |"), std::string::npos);
  Type("1");
  platform.PumpEvents();
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(keys.empty());
  platform.HideIntro();
  Type("1");
  platform.PumpEvents();
  EXPECT_EQ(keys, std::vector<int>{'1'});
}

TEST_F(TerminalPlatformTest, BoxesAreAnsweredFromTheKeyboard) {
  TerminalPlatform platform(clock_, slave_, slave_);
  Type("\r");
  EXPECT_EQ(platform.MessageBox("I/O operation aborted - timeout.\nSelect OK to continue.",
                                "GPIB ERROR # 6", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kOk);
  std::string shown = Shown();
  EXPECT_NE(shown.find("GPIB ERROR # 6"), std::string::npos);
  EXPECT_NE(shown.find("| I/O operation aborted - timeout.\r\n| Select OK to continue."),
            std::string::npos);
  EXPECT_NE(shown.find("Enter = OK, Esc or C = Cancel"), std::string::npos);

  Type("c");
  EXPECT_EQ(platform.MessageBox("p", "t", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kCancel);
  Type("\x1b");
  EXPECT_EQ(platform.MessageBox("p", "t", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kCancel);
  // An arrow key starts with Esc but is no Cancel; keys meant for the panel
  // are not taken by a box either.
  Type("\x1b[B1\n");
  EXPECT_EQ(platform.MessageBox("p", "t", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kOk);
  Type("c\r");
  EXPECT_EQ(platform.MessageBox("p", "t", MsgIcon::kCritical, MsgButtons::kOk), MsgAnswer::kOk);
}

TEST_F(TerminalPlatformTest, CtrlCClosesThroughTheCloseHandlerAndTwiceEndsAtOnce) {
  TerminalPlatform platform(clock_, slave_, slave_);
  int closes = 0;
  int end_code = -1;
  platform.SetCloseHandler([&] {
    ++closes;
    Type("\x03");
    try {
      platform.PumpEvents();
    } catch (const ProgramEnd& end) {
      end_code = end.code;
      throw;
    }
  });
  Type("\x03");
  // Seen while the program is blocked in a wait; the handler runs later.
  EXPECT_TRUE(platform.WaitIdle(10.0));
  EXPECT_EQ(closes, 0);
  EXPECT_THROW(platform.PumpEvents(), ProgramEnd);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(end_code, kExitInterruptedTwice);
}

TEST_F(TerminalPlatformTest, WaitIdleDeliversKeysAndPassesVirtualTime) {
  TerminalPlatform platform(clock_, slave_, slave_);
  std::vector<int> keys;
  platform.SetKeyHandler([&](int key) { keys.push_back(key); });
  Type("2");
  EXPECT_FALSE(platform.WaitIdle(3.0));
  EXPECT_EQ(keys, std::vector<int>{'2'});
  EXPECT_NEAR(clock_.Elapsed(), 3.0, 1e-9);
}

TEST_F(TerminalPlatformTest, InstrumentScreenTopLineFirstWithKeyHelp) {
  TerminalPlatform platform(clock_, slave_, slave_);
  std::vector<std::string> lines(16);
  lines[15] = "LINE SIXTEEN";
  lines[8] = "         *** CLOSING PROGRAM ***";
  lines[0] = "  COMP    CTE";
  platform.ShowInstrumentScreen(lines, 3);
  std::string shown = Shown();
  std::size_t top = shown.find("16| LINE SIXTEEN");
  std::size_t middle = shown.find(" 9|          *** CLOSING PROGRAM ***");
  std::size_t bottom = shown.find(" 1|   COMP    CTE");
  std::size_t help = shown.find("keys 1-5 bezel, M twice MENU OFF, Ctrl-C close");
  ASSERT_NE(top, std::string::npos) << shown;
  ASSERT_NE(middle, std::string::npos) << shown;
  ASSERT_NE(bottom, std::string::npos) << shown;
  ASSERT_NE(help, std::string::npos) << shown;
  EXPECT_LT(top, middle);
  EXPECT_LT(middle, bottom);
  EXPECT_LT(bottom, help);
  EXPECT_NE(shown.find("bells 3"), std::string::npos);
}

TEST_F(TerminalPlatformTest, RenderedGlyphsCountAsOneColumnEach) {
  TerminalPlatform platform(clock_, slave_, slave_);
  std::string rule;
  for (int i = 0; i < 40; ++i) rule += "\u2500";
  std::vector<std::string> lines(16);
  lines[13] = rule;
  lines[12] = "5\u00b5s";
  platform.ShowInstrumentScreen(lines, 0);
  std::string shown = Shown();
  // Whole characters, and the right edge lined up with the plain lines.
  EXPECT_NE(shown.find("14| " + rule + " |"), std::string::npos) << shown;
  EXPECT_NE(shown.find("13| 5\u00b5s" + std::string(37, ' ') + " |"), std::string::npos) << shown;
  EXPECT_NE(shown.find("12| " + std::string(40, ' ') + " |"), std::string::npos) << shown;
}

TEST_F(TerminalPlatformTest, AClosedTerminalIsACloseRequestAndBoxesGetTheSafeAnswer) {
  TerminalPlatform platform(clock_, slave_, slave_);
  close(master_);
  master_ = -1;
  EXPECT_TRUE(platform.WaitIdle(1.0));
  EXPECT_EQ(platform.MessageBox("p", "t", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kCancel);
}

}  // namespace
}  // namespace kc
