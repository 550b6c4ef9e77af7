// The technician's hands: the prompts of the checks, written on the simulated
// oscilloscope's screen as the program writes them, lead to the cables and
// source settings a technician would make; the VAR trimmer finds the gain
// match by watching the trace.
#include "sim/bench_hand.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/script_technician.h"
#include "sim/sim_bench.h"
#include "sim/sim_scope.h"

namespace kc {
namespace {

class BenchHandTest : public ::testing::Test {
 protected:
  // Each command is one write to the instrument.
  void Show(const std::vector<std::string>& commands) {
    for (const std::string& command : commands) scope_.Write(command);
  }

  VirtualClock clock_;
  SimScope scope_{"2440", clock_};
  SourceBench bench_;
  BenchHand hand_{scope_, bench_};
};

TEST_F(BenchHandTest, ConnectionPromptsLeadToTheirCables) {
  struct Case {
    std::vector<std::string> commands;
    const char* bench;
  };
  const Case cases[] = {
      {{"MESS CLR,16:\"CONNECT PG 506, 10\\;V STANDARD AMPLITUDE\"", "MESS 15:\"TO CH1 AND CH2\""},
       "PG 506 standard amplitude 1 kHz 10 mV -> CH1; PG 506 standard amplitude 1 kHz 10 mV -> "
       "CH2"},
      // 50-ohm sources adjusted on a 50-ohm input: the display's divisions
      // times the volts/division.
      {{"MESS CLR;CH1 VOL:.1,FIF;VMO CH1", "MESS CLR,16:\"CONNECT SG 504, 50 \\4H\\&, TO CH1\"",
        "MESS 15:\"ADJUST AMPLITUDE FOR 6 DIVISIONS P-P\""},
       "SG 504 50 kHz 600 mV -> CH1"},
      // Into 1 Mohm the 50-ohm generator gives twice what it is set to.
      {{"CH1 VOL:.2,FIF:OFF", "MESS CLR,16:\"CONNECT SG 503, 50 \\4H\\&, TO CH1 AND EXT1\"",
        "MESS 15:\"ADJUST AMPLITUDE TO\"", "MESS 14:\"7 DIVISIONS P-P\""},
       "SG 503 50 kHz 700 mV -> CH1; SG 503 50 kHz 700 mV -> EXT1"},
      // Through a terminated X5 attenuator: five times the display.
      {{"CH1 VOL:.1,FIF:OFF", "MESS CLR,16:\"CONNECT PG 506, HI AMP, 1 \\4H\\&, TO CH1\"",
        "MESS 15:\"THRU A 50\\J X5 ATT+TERM+15\\>F NORMALIZER\"",
        "MESS 14:\"ADJUST AMPLITUDE TO A 5 DIVISION DISPLAY\""},
       "PG 506 high amplitude 1 kHz 2.5 V /5 -> CH1"},
  };
  for (const Case& c : cases) {
    Show({"INIT PANEL"});
    Show(c.commands);
    EXPECT_EQ(bench_.Describe(), c.bench) << c.commands.front();
  }
}

TEST_F(BenchHandTest, AnInstructionIsDoneOnceWhileShownAndAgainWhenShownAnew) {
  Show({"MESS CLR,16:\"CONNECT SG 503, 50 \\4H\\&, TO CH1 AND CH2\"",
        "MESS CLR,9:\"       CHANGE FREQUENCY TO 50 MH\\&\""});
  EXPECT_DOUBLE_EQ(bench_.Frequency(BenchSource::kSineGenerator), 50e6);
  // Turned by someone else while the prompt stays: more lines written below
  // it do not make the hand turn it back.
  bench_.SetFrequency(BenchSource::kSineGenerator, 1e3);
  Show({"MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"", "BELL"});
  EXPECT_DOUBLE_EQ(bench_.Frequency(BenchSource::kSineGenerator), 1e3);
  // Written again after the lines were cleared, it is a new instruction.
  Show({"MESS CLR,9:\"       CHANGE FREQUENCY TO 50 MH\\&\""});
  EXPECT_DOUBLE_EQ(bench_.Frequency(BenchSource::kSineGenerator), 50e6);
}

TEST_F(BenchHandTest, MenusTitlesAndResultsAskForNothing) {
  Show({"MESS CLR,14:\"\\0\\0\\0\\0\"", "MESS 12:\"       *** KALVENTA CHECKOUT ***\"",
        "MESS 2:\"  CALI-   TIMING  CALI-   PAGE    PAGE\"",
        "MESS 1:\"  BRATOR          BRATOR  FOUR    TWO\"",
        "MESS CLR,12:\"            \\b\\a\\n\\d\\w\\i\\d\\t\\h           PASS\"",
        "MESS 16:\"            PLEASE WAIT \\M\\M  \\M\"",
        // Incomplete: no input named yet, no divisions yet.
        "MESS CLR,16:\"CONNECT PG 506, 500\\;V STANDARD AMPLITUDE\"",
        "MESS CLR,15:\"ADJUST AMPLITUDE TO\""});
  EXPECT_TRUE(hand_.log().empty());
  EXPECT_EQ(bench_.Describe(), "nothing connected");
}

// A channel pair whose CH1 gain is `mismatch` high; VAR lowers a gain by
// 0.6 % per unit, a press moves it by half a unit.
struct Pair {
  double mismatch;
  double var1 = 0;
  double var2 = 0;
  double Residue() const {
    return std::fabs((1 + mismatch) * (1 - 0.006 * var1) - (1 - 0.006 * var2));
  }
  void Press(int button) {
    if (button == 1) var1 = std::min(100.0, var1 + 0.5);
    if (button == 2) var1 = std::max(0.0, var1 - 0.5);
    if (button == 4) var2 = std::min(100.0, var2 + 0.5);
    if (button == 5) var2 = std::max(0.0, var2 - 0.5);
  }
};

std::vector<int> Trim(Pair& pair) {
  VarTrimmer trimmer;
  std::vector<int> presses;
  for (int i = 0; i < 1000; ++i) {
    int button = trimmer.Next(pair.Residue());
    presses.push_back(button);
    if (button == 3) break;
    pair.Press(button);
  }
  return presses;
}

TEST(VarTrimmer, LowersTheHigherChannelUntilTheTraceIsStraightest) {
  // CH1 3 % high: the match lies at VAR 4.85. Ten presses of button 1 reach
  // 5.0 (0.09 % left), the eleventh (5.5, 0.4 % low) is worse and undone.
  Pair high_ch1{0.03};
  EXPECT_EQ(Trim(high_ch1), (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3}));
  EXPECT_DOUBLE_EQ(high_ch1.var1, 5.0);
  EXPECT_LT(high_ch1.Residue(), 0.001);
  EXPECT_DOUBLE_EQ(high_ch1.var2, 0);

  // CH2 high: CH1's first press makes it worse, is undone, and CH2 is trimmed.
  Pair high_ch2{-0.02};
  std::vector<int> presses = Trim(high_ch2);
  EXPECT_EQ(presses.front(), 1);
  EXPECT_EQ(presses[1], 2);
  EXPECT_EQ(presses.back(), 3);
  EXPECT_DOUBLE_EQ(high_ch2.var1, 0);
  EXPECT_NEAR(high_ch2.var2, 3.5, 0.5);
  EXPECT_LT(high_ch2.Residue(), 0.002);

  // Already matched: one try on each side, both undone.
  Pair matched{0};
  EXPECT_EQ(Trim(matched), (std::vector<int>{1, 2, 4, 5, 3}));
  EXPECT_EQ(matched.var1, 0);
  EXPECT_EQ(matched.var2, 0);

  // A trace that never changes ends too.
  VarTrimmer stuck;
  int last = 0;
  for (int i = 0; i < VarTrimmer::kMaxPresses + 2 && last != 3; ++i) last = stuck.Next(1.0);
  EXPECT_EQ(last, 3);
  EXPECT_DOUBLE_EQ(PeakToPeak({-1, 2.5, 0}), 3.5);
  EXPECT_DOUBLE_EQ(PeakToPeak({}), 0);
}

}  // namespace
}  // namespace kc
