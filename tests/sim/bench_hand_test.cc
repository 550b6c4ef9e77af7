// The technician's hands: an instruction on the simulated oscilloscope's
// screen is done once while it is shown. (Which prompts lead to which cables
// and settings: the dialogues under tests/transcripts/emulator.)
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

}  // namespace
}  // namespace kc
