#include "platform/headless_platform.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

namespace kc {
namespace {

using ::testing::Test;

class HeadlessPlatformTest : public Test {
 protected:
  VirtualClock clock_{9 * 3600.0};
  std::ostringstream out_;
};

TEST_F(HeadlessPlatformTest, WindowTextsAreTaggedLines) {
  HeadlessPlatform platform(clock_, out_);
  platform.SetCaption("Kalventa Checkout, v2.0 (2026-12)");
  platform.ShowIntro("Kalventa Checkout, v2.0 / 1994-2026");
  platform.HideIntro();
  platform.SetHint("Use the Bezel Buttons of the 2440 on GPIB address 1");
  EXPECT_EQ(out_.str(),
            "[caption] Kalventa Checkout, v2.0 (2026-12)\n"
            "[intro] Kalventa Checkout, v2.0 / 1994-2026\n"
            "[hint] Use the Bezel Buttons of the 2440 on GPIB address 1\n");
}

TEST_F(HeadlessPlatformTest, BoxesTakeTheAnswersInOrderThenTheSafeDefaults) {
  // One entry per box; the OK box in the middle uses up its entry.
  HeadlessPlatform platform(clock_, out_, {MsgAnswer::kOk, MsgAnswer::kCancel, MsgAnswer::kOk});
  EXPECT_EQ(platform.MessageBox("p1", "T1", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kOk);
  // An OK box has nothing but OK, whatever its entry says.
  EXPECT_EQ(platform.MessageBox("p2", "T2", MsgIcon::kExclamation, MsgButtons::kOk),
            MsgAnswer::kOk);
  EXPECT_EQ(platform.MessageBox("p3", "T3", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kOk);
  // Used up: OK/Cancel boxes get Cancel, OK boxes OK.
  EXPECT_EQ(platform.MessageBox("p4", "T4", MsgIcon::kExclamation, MsgButtons::kOkCancel),
            MsgAnswer::kCancel);
  EXPECT_EQ(platform.MessageBox("p5", "T5", MsgIcon::kInformation, MsgButtons::kOk),
            MsgAnswer::kOk);
  EXPECT_EQ(out_.str(),
            "[box] T1 (exclamation, OK/Cancel): p1 -> OK\n"
            "[box] T2 (exclamation, OK): p2 -> OK\n"
            "[box] T3 (exclamation, OK/Cancel): p3 -> OK\n"
            "[box] T4 (exclamation, OK/Cancel): p4 -> Cancel\n"
            "[box] T5 (information, OK): p5 -> OK\n");
}

TEST_F(HeadlessPlatformTest, BoxTextsFitOnOneLine) {
  HeadlessPlatform platform(clock_, out_);
  platform.MessageBox(
      "I/O operation aborted - timeout.\nSelect OK to continue or Cancel to "
      "terminate program.",
      "GPIB ERROR # 6", MsgIcon::kExclamation, MsgButtons::kOkCancel);
  // The widening blanks of a title go; a run of line breaks is one separator.
  platform.MessageBox("No listeners found.\n\nCorrect problem and restart.",
                      "Expected Id-response from device not found" + std::string(40, ' '),
                      MsgIcon::kCritical, MsgButtons::kOk);
  platform.MessageBox(std::string("tab\there\r\nbell\a"), "Error", MsgIcon::kInformation,
                      MsgButtons::kOk);
  // The bus back end's reason follows each box shown while it is set.
  platform.SetMessageDetail("adapter at 10.0.0.5:1234: cannot connect: Connection refused");
  platform.MessageBox("\n\nCorrect problem and restart.", "Initialization Error 7",
                      MsgIcon::kCritical, MsgButtons::kOk);
  platform.SetMessageDetail("");
  platform.MessageBox("p", "T", MsgIcon::kCritical, MsgButtons::kOk);
  EXPECT_EQ(out_.str(),
            "[box] GPIB ERROR # 6 (exclamation, OK/Cancel): I/O operation aborted - timeout. / "
            "Select OK to continue or Cancel to terminate program. -> Cancel\n"
            "[box] Expected Id-response from device not found (critical, OK): No listeners "
            "found. / Correct problem and restart. -> OK\n"
            "[box] Error (information, OK): tab\\x09here / bell\\x07 -> OK\n"
            "[box] Initialization Error 7 (critical, OK):  / Correct problem and restart. -> OK\n"
            "[box reason] adapter at 10.0.0.5:1234: cannot connect: Connection refused\n"
            "[box] T (critical, OK): p -> OK\n");
}

TEST_F(HeadlessPlatformTest, PumpDeliversEventsThenStepsTheVirtualClock) {
  HeadlessPlatform platform(clock_, out_);
  int clicks = 0;
  platform.SetClickHandler([&] { ++clicks; });
  platform.Click();
  double before = clock_.Elapsed();
  platform.PumpEvents();
  EXPECT_EQ(clicks, 1);
  EXPECT_NEAR(clock_.Elapsed() - before, 0.001, 1e-9);

  bool closed = false;
  platform.SetCloseHandler([&] {
    closed = true;
    platform.EndProcess(kExitClosed);
  });
  platform.RequestClose();
  try {
    platform.PumpEvents();
    ADD_FAILURE() << "the close handler ends the program";
  } catch (const ProgramEnd& end) {
    EXPECT_EQ(end.code, kExitClosed);
  }
  EXPECT_TRUE(closed);
}

TEST_F(HeadlessPlatformTest, WaitIdlePassesVirtualTimeAndOnlyReportsAClose) {
  HeadlessPlatform platform(clock_, out_);
  bool closed = false;
  platform.SetCloseHandler([&] { closed = true; });
  // The note for a wait at a real instrument is said at the first wait only.
  std::ostringstream note;
  platform.SayWhenWaiting(note, "waiting for a bezel button");
  EXPECT_EQ(note.str(), "");
  EXPECT_FALSE(platform.WaitIdle(3.0));
  EXPECT_NEAR(clock_.Elapsed(), 3.0, 1e-9);
  platform.RequestClose();
  EXPECT_TRUE(platform.WaitIdle(0.5));
  EXPECT_FALSE(closed);
  EXPECT_EQ(note.str(), "waiting for a bezel button\n");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(HeadlessPlatformTest, InterruptIsACloseRequestAndASecondOneWhileClosingEnds) {
  HeadlessPlatform platform(clock_, out_);
  int closes = 0;
  int end_code = -1;
  platform.SetCloseHandler([&] {
    ++closes;
    // The closing sequence pumps events while it waits; the technician
    // interrupts again.
    std::raise(SIGINT);
    try {
      platform.PumpEvents();
    } catch (const ProgramEnd& end) {
      end_code = end.code;
      throw;
    }
  });
  std::raise(SIGINT);
  EXPECT_TRUE(platform.WaitIdle(1.0));
  EXPECT_THROW(platform.PumpEvents(), ProgramEnd);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(end_code, kExitInterruptedTwice);
}

TEST_F(HeadlessPlatformTest, RealTimeWaitEndsAtAnInterrupt) {
  RealClock real;
  HeadlessPlatform platform(real, out_);
  double start = real.Elapsed();
  EXPECT_FALSE(platform.WaitIdle(0.05));
  EXPECT_GE(real.Elapsed() - start, 0.05);
  std::raise(SIGINT);
  EXPECT_TRUE(platform.WaitIdle(60.0));
}

TEST_F(HeadlessPlatformTest, ScreenIsPrintedTopLineFirstOnlyWhenAsked) {
  HeadlessPlatform platform(clock_, out_);
  std::vector<std::string> lines(16);
  lines[0] = "  COMP    CTE";
  lines[15] = "TOP";
  lines[9] = "1\t";
  lines[4] = "    ";
  platform.ShowInstrumentScreen(lines, 1);
  EXPECT_EQ(out_.str(), "");

  platform.PrintScreen();
  EXPECT_EQ(out_.str(),
            "[screen 16] TOP\n"
            "[screen 10] 1\\x09\n"
            "[screen 01]   COMP    CTE\n"
            "[screen] bells 1\n");

  out_.str("");
  platform.set_echo_screen(true);
  platform.ShowInstrumentScreen(std::vector<std::string>(16, "   "), 2);
  EXPECT_EQ(out_.str(), "") << "a blank screen is not printed";
  lines[15] = "NEW";
  platform.ShowInstrumentScreen(lines, 2);
  EXPECT_NE(out_.str().find("[screen 16] NEW\n"), std::string::npos);
  EXPECT_NE(out_.str().find("[screen] bells 2\n"), std::string::npos);
}

}  // namespace
}  // namespace kc
