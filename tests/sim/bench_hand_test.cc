// The technician's hands: the prompts of the checks, written on the simulated
// oscilloscope's screen as the program writes them, lead to the cables and
// source settings a technician would make.
#include "sim/bench_hand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
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

}  // namespace
}  // namespace kc
