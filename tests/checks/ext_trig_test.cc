// The external trigger check on the simulated bench: both passes with the move
// prompt between them, the level sweeps one second apart, leaving at each
// wait and what the A trigger is left at.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "checks/check_streams.h"
#include "support/checkout_bench.h"
#include "support/stream_text.h"
#include "support/traced_form.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const char kSetUp[] = R"(MESS CLR,9:"      *** EXTERNAL TRIGS CHECK ***"
MESS CLR;CH1 VOL:.2,FIF
HOR ASEC:2E-6;ATR SOU:EXT1;VMO CH1
MESS CLR,16:"CONNECT SG 503, 50 \4H\&, TO CH1 AND EXT1"
MESS 15:"ADJUST AMPLITUDE TO"
MESS 14:"7 DIVISIONS P-P"
MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?
MESS CLR)";

const char kMove[] = R"(MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?
MESS CLR
MESS 16:" MOVE THE SIGNAL FROM EXT1 TO EXT2"
MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?
ATR LEV:0,COU:DC,SLO:PLUS,SOU:EXT2)";

const char kSweepsAndCouplings[] = R"(MESS 1:"CHECK TRIG T MOVING ONE DIV AT THE TIME"
ATR LEV:-.6
ATR LEV:-.4
ATR LEV:-.2
ATR LEV:0
ATR LEV:.2
ATR LEV:.4
ATR LEV:.6
ATR SLO:MINUS
ATR LEV:.6
ATR LEV:.4
ATR LEV:.2
ATR LEV:0
ATR LEV:-.2
ATR LEV:-.4
ATR LEV:-.6
MESS 1:"   PRESS ANY BEZEL BUTTON TO CONTINUE"
EVE?
ATR LEV:0,SLO:PLUS
MESS CLR,16:"CHECK TRIG T AT CENTER"
MESS 15:"HORIZONTAL LINE"
MESS 13:"*** DC ***"
MESS 1:"   PRESS ANY BEZEL BUTTON TO CONTINUE"
EVE?
ATR COU:AC
MESS CLR,16:"CHECK TRIGGER T APPROXIMATELY"
MESS 15:"AT CENTER HORIZONTAL LINE"
MESS 13:"*** AC ***"
MESS 1:"   PRESS ANY BEZEL BUTTON TO CONTINUE"
EVE?
ATR COU:HFR
MESS CLR,16:"CHECK TRIGGER T APPROXIMATELY"
MESS 15:"2 DIVS ABOVE CENTER"
MESS 14:"HORIZONTAL LINE"
MESS 12:"*** HF REJECT ***"
MESS 1:"   PRESS ANY BEZEL BUTTON TO CONTINUE"
EVE?
ATR COU:LFR
MESS CLR,16:"CHECK TRIGGER T APPROXIMATELY"
MESS 15:" 3 DIVS BELOW CENTER"
MESS 14:"   HORIZONTAL LINE"
MESS 12:"     *** LF REJECT ***")";

std::vector<std::string> WholeRun() {
  std::vector<std::string> stream;
  for (const char* part : {kSetUp, kSweepsAndCouplings, kMove, kSweepsAndCouplings}) {
    std::vector<std::string> lines = Lines(part);
    stream.insert(stream.end(), lines.begin(), lines.end());
  }
  stream.push_back("MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\"");
  return stream;
}

class ExtTrigTest : public ::testing::Test {
 protected:
  // Loads the program on a new bench, switches the replies to bare values as
  // the main menu does, and sets the technician's `script`.
  void Prepare(const std::string& script) {
    bench_ = std::make_unique<CheckoutBench>();
    ASSERT_TRUE(LoadForChecks(*bench_));
    bench_->SetScript(script);
    bench_->ClearReceived();
    bench_->scope().ClearErrors();
  }

  int RunWith(const std::string& script) {
    Prepare(script);
    return bench_->Call([&] { bench_->form().ExtTrig(); });
  }

  std::unique_ptr<CheckoutBench> bench_;
};

TEST_F(ExtTrigTest, TwoPassesWithTheMovePromptBetween) {
  // Five waits in the EXT1 pass, six in the EXT2 pass, then the final one.
  EXPECT_EQ(RunWith("b1,b2,b3,b4,b5,b1,b2,b3,b4,b5,b1,b2"), -1);
  EXPECT_THAT(bench_->received(), ElementsAreArray(WholeRun()));
  EXPECT_THAT(bench_->scope().errors(), IsEmpty());
  SimScope& scope = bench_->scope();
  EXPECT_EQ(scope.Setting("ATR SOU"), "EXT2");
  EXPECT_EQ(scope.Setting("ATR LEV"), "0");
  EXPECT_EQ(scope.Setting("ATR SLO"), "PLUS");
  EXPECT_EQ(scope.Setting("ATR COU"), "LFREJ");
  EXPECT_EQ(scope.event(), 451);
}

TEST_F(ExtTrigTest, LeavingAtAnyWaitSendsNothingMore) {
  for (int wait = 1; wait <= 11; ++wait) {
    SCOPED_TRACE(wait);
    std::string script;
    for (int i = 1; i < wait; ++i) script += "b1,";
    EXPECT_EQ(RunWith(script + "leave"), -1);
    EXPECT_THAT(bench_->received(), ElementsAreArray(UpToWait(WholeRun(), wait)));
  }
}

TEST_F(ExtTrigTest, LeavingAtTheMovePromptLeavesTheTriggerOnExt1) {
  // The EXT1 pass has five waits; the sixth is its own ready prompt, the
  // seventh the move prompt.
  EXPECT_EQ(RunWith("b1,b1,b1,b1,b1,b1,leave"), -1);
  EXPECT_EQ(bench_->received().back(), "EVE?");
  EXPECT_EQ(bench_->received()[bench_->received().size() - 3],
            "MESS 16:\" MOVE THE SIGNAL FROM EXT1 TO EXT2\"");
  EXPECT_EQ(bench_->scope().Setting("ATR SOU"), "EXT1");
  EXPECT_EQ(bench_->scope().Setting("ATR COU"), "LFREJ");
}

TEST_F(ExtTrigTest, LevelSweepsStepOnceASecond) {
  Prepare("b1,b1,b1,b1,b1,b1,b1,b1,b1,b1,b1,b1");
  TracedForm traced(*bench_);
  ASSERT_EQ(bench_->Call([&] { traced.form().ExtTrig(); }), -1);
  std::vector<double> times;
  for (const auto& [time, command] : traced.Writes()) {
    if (command.rfind("ATR LEV:", 0) == 0 && command.find(',') == std::string::npos) {
      times.push_back(time);
    }
  }
  // Two passes of two sweeps of seven levels; within a pass each level is
  // held for one second, the slope turning as the second sweep starts.
  ASSERT_EQ(times.size(), 28u);
  for (std::size_t i = 1; i < times.size(); ++i) {
    if (i == 14) continue;
    SCOPED_TRACE(i);
    EXPECT_NEAR(times[i] - times[i - 1], 1.0, 0.01);
  }
}

}  // namespace
}  // namespace kc
