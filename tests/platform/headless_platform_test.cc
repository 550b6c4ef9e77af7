#include "platform/headless_platform.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

namespace kc {
namespace {

class HeadlessPlatformTest : public ::testing::Test {
 protected:
  VirtualClock clock_{9 * 3600.0};
  std::ostringstream out_;
};

TEST_F(HeadlessPlatformTest, WindowTextsAndBoxesAreTaggedLinesAnsweredInOrderThenSafely) {
  // One answer per box; an OK box uses up its entry whatever it says.
  HeadlessPlatform platform(clock_, out_, {MsgAnswer::kOk, MsgAnswer::kCancel, MsgAnswer::kOk});
  platform.SetCaption("Kalventa Checkout, v2.0 (2026-12)");
  platform.ShowIntro("Kalventa Checkout, v2.0 / 1994-2026");
  platform.SetHint("Use the Bezel Buttons of the 2440 on GPIB address 1");
  const MsgIcon warn = MsgIcon::kExclamation;
  EXPECT_EQ(platform.MessageBox("p1", "T1", warn, MsgButtons::kOkCancel), MsgAnswer::kOk);
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
            "[caption] Kalventa Checkout, v2.0 (2026-12)\n"
            "[intro] Kalventa Checkout, v2.0 / 1994-2026\n"
            "[hint] Use the Bezel Buttons of the 2440 on GPIB address 1\n"
            "[box] T1 (exclamation, OK/Cancel): p1 -> OK\n"
            "[box] T2 (exclamation, OK): p2 -> OK\n"
            "[box] Expected Id-response (critical, OK/Cancel): No listeners found. / Correct "
            "problem\\x09and restart.\\x07 -> OK\n"
            "[box] T4 (exclamation, OK/Cancel):  / p4 -> Cancel\n"
            "[box reason] adapter at 10.0.0.5:1234: cannot connect: Connection refused\n"
            "[box] T5 (information, OK): p5 -> OK\n");
}

TEST_F(HeadlessPlatformTest, PumpDeliversEventsAndStepsTheClockWaitsPassVirtualTime) {
  HeadlessPlatform platform(clock_, out_);
  int clicks = 0;
  platform.SetClickHandler([&] { ++clicks; });
  platform.Click();
  platform.PumpEvents();
  EXPECT_EQ(clicks, 1);
  EXPECT_NEAR(clock_.Elapsed(), 0.001, 1e-9);
  // The note for a wait at a real instrument is said at the first wait only.
  std::ostringstream note;
  platform.SayWhenWaiting(note, "waiting for a bezel button");
  EXPECT_EQ(note.str(), "");
  EXPECT_FALSE(platform.WaitIdle(3.0));
  EXPECT_NEAR(clock_.Elapsed(), 3.001, 1e-9);
  EXPECT_FALSE(platform.WaitIdle(1.0));
  EXPECT_EQ(note.str(), "waiting for a bezel button\n");

  // A close request ends a wait without running the handler; the pump runs it.
  bool closed = false;
  platform.SetCloseHandler([&] {
    closed = true;
    platform.EndProcess(kExitClosed);
  });
  platform.RequestClose();
  EXPECT_TRUE(platform.WaitIdle(0.5));
  EXPECT_FALSE(closed);
  try {
    platform.PumpEvents();
    ADD_FAILURE() << "the close handler ends the program";
  } catch (const ProgramEnd& end) {
    EXPECT_EQ(end.code, kExitClosed);
  }
  EXPECT_TRUE(closed);
}

TEST_F(HeadlessPlatformTest, InterruptIsACloseRequestAndASecondOneWhileClosingEnds) {
  for (bool real_clock : {false, true}) {
    RealClock real;
    HeadlessPlatform platform(real_clock ? static_cast<Clock&>(real) : clock_, out_);
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
    // Even a long wait in real time ends at the interrupt.
    EXPECT_TRUE(platform.WaitIdle(60.0));
    EXPECT_THROW(platform.PumpEvents(), ProgramEnd);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(end_code, kExitInterruptedTwice);
  }
}

TEST_F(HeadlessPlatformTest, ScreenIsPrintedTopLineFirstWhenAskedOrEchoedWhenNotBlank) {
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
  EXPECT_EQ(out_.str(), "");
  lines = {"NEW"};
  lines.resize(16);
  platform.ShowInstrumentScreen(lines, 2);
  EXPECT_EQ(out_.str(), "[screen 01] NEW\n[screen] bells 2\n");
}

}  // namespace
}  // namespace kc
