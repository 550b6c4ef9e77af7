// The timing check on the simulated bench: the whole command stream with and
// without the B sweep, the number of waits, and leaving at each wait.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "checks/check_streams.h"
#include "support/checkout_bench.h"
#include "support/stream_text.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::string kReady = "MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"";
const std::string kContinue = "MESS 1:\"   PRESS ANY BEZEL BUTTON TO CONTINUE\"";
const std::string kOneMarker = "MESS CLR,16:\"    CHECK FOR 1 MARKER PER DIVISION\"";

// The speeds and markers of the six steps, as sent.
struct Step {
  std::string sweep;    // A and B sweep
  std::string markers;  // marker prompt, none at the first step
  std::string delayed;  // delayed B sweep, DLY1 and DLY2; none for the fast steps
  std::string dly1;
  std::string dly2;
};
const Step kSteps[] = {
    {"1E-3", "", "5E-6", "1E-3", "1.096E-2"},
    {"1E-4", "100 \\<S", "5E-7", "1E-4", "1.096E-3"},
    {"1E-5", "10 \\<S", "5E-8", "1E-5", "1.096E-4"},
    {"1E-6", "1 \\<S", "5E-9", "1E-6", "1.096E-5"},
    {"1E-7", "100 \\=S", "", "", ""},
    {"1E-8", "10 \\=S", "", "", ""},
};

// A whole run; `b_sweep` is false for the 2431L.
std::vector<std::string> WholeRun(bool b_sweep) {
  std::vector<std::string> s = Lines(R"(MESS CLR,9:"          *** TIMING CHECK ***"
VMO CH1;CH1 VOL:5E-1,POS:-1.36,FIF;ATR MOD:NORM,LEV:.5;HOR ASEC:.5E-3
MESS CLR,16:"CONNECT TIMEMARK GENERATOR TO CH1"
MESS 15:"SET TIMEMARKERS TO 1 \;S / ONE EVERY TWO DIVS"
MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?)");
  for (const Step& step : kSteps) {
    s.push_back("HOR ASEC:" + step.sweep + ",BSEC:" + step.sweep + ";MESS CLR");
    if (!step.markers.empty()) {
      s.insert(s.end(), {"VMO CH1:OFF;ATR LEV:-.5;BTR LEV:-.5",
                         "HOR POS:512,MOD:ASW;BTR POS:16;DLYT DELT:OFF",
                         "MESS CLR, 9:\"       CHANGE TIMEMARKERS TO " + step.markers + "\"",
                         kReady, "EVE?", "MESS CLR;VMO CH1;ATR LEV:.5"});
    }
    if (step.sweep == "1E-6") s.push_back("ACQ REP");
    s.insert(s.end(), {kOneMarker, "MESS 14:\"            *** A-SWEEP ***\""});
    if (b_sweep) {
      s.insert(s.end(), {kContinue, "EVE?", "HOR MOD:BSW;BTR LEV:.5,MOD:TRI", kOneMarker,
                         "MESS 14:\"            *** B-SWEEP ***\""});
      if (!step.delayed.empty()) {
        s.insert(s.end(), {kContinue, "EVE?",
                           "HOR BSEC:" + step.delayed + ",POS:456;BTR POS:8,MODE:RUNS;DLYT DELT",
                           ";DLYT DLY1:" + step.dly1 + ",DLY2:" + step.dly2,
                           "MESS CLR,16:\"    CHECK FOR 8 DIV BETWEEN MARKERS\""});
      }
    }
    if (step.sweep != "1E-8") s.insert(s.end(), {kContinue, "EVE?"});
  }
  s.push_back("MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\"");
  return s;
}

// `n` presses of the first bezel button.
std::string Presses(int n) {
  std::string script;
  for (int i = 0; i < n; ++i) script += i == 0 ? "b1" : ",b1";
  return script;
}

class TimingTest : public ::testing::Test {
 protected:
  // Loads the program on `model`, switches the replies to bare values as the
  // main menu does, and runs the check with the technician's `script`.
  void RunWith(const std::string& model, const std::string& script) {
    bench_ = std::make_unique<CheckoutBench>(BenchOptions{.model = model});
    ASSERT_TRUE(LoadForChecks(*bench_));
    bench_->SetScript(script);
    bench_->ClearReceived();
    bench_->scope().ClearErrors();
    double start = bench_->platform().clock().Elapsed();
    code_ = bench_->Call([&] { bench_->form().Timing(); });
    elapsed_ = bench_->platform().clock().Elapsed() - start;
  }

  long Waits() const {
    return std::count(bench_->received().begin(), bench_->received().end(), "EVE?");
  }

  std::unique_ptr<CheckoutBench> bench_;
  int code_ = 0;
  double elapsed_ = 0;
};

TEST_F(TimingTest, WholeRunWithTheBSweep) {
  // Waits: 1 at set-up, 5 marker changes, 6 before the B sweep, 4 before the
  // delta delay, 5 at the ends of steps 1 to 5; then the final wait.
  RunWith("2440", Presses(22));
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(bench_->received(), ElementsAreArray(WholeRun(true)));
  EXPECT_EQ(Waits(), 21);
  // Repetitive acquisition is turned on once, at the fourth step.
  EXPECT_EQ(std::count(bench_->received().begin(), bench_->received().end(), "ACQ REP"), 1);
  EXPECT_THAT(bench_->scope().errors(), IsEmpty());
  EXPECT_NEAR(elapsed_, 2 + 21 * 0.1, 0.05);
  // The last step leaves the instrument at 10 ns with repetitive acquisition.
  EXPECT_EQ(bench_->scope().Setting("HOR ASEC"), "1E-8");
  EXPECT_EQ(bench_->scope().Setting("ACQ REP"), "ON");
}

TEST_F(TimingTest, The2431LShowsOnlyTheASweep) {
  // 1 at set-up, 5 marker changes, 5 step ends; then the final wait.
  RunWith("2431L", Presses(12));
  ASSERT_EQ(bench_->form().ModelIndex, 3);
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(bench_->received(), ElementsAreArray(WholeRun(false)));
  EXPECT_EQ(Waits(), 11);
}

TEST_F(TimingTest, LeavingAtAnyWaitSendsNothingMore) {
  const std::vector<std::string> whole = WholeRun(true);
  for (int wait = 1; wait <= 21; ++wait) {
    SCOPED_TRACE(wait);
    RunWith("2440", Presses(wait - 1) + (wait > 1 ? ",leave" : "leave"));
    EXPECT_EQ(code_, -1);
    std::vector<std::string> head;
    for (int seen = 0; seen < wait;) {
      head.push_back(whole[head.size()]);
      if (head.back() == "EVE?") ++seen;
    }
    EXPECT_THAT(bench_->received(), ElementsAreArray(head));
  }
}

}  // namespace
}  // namespace kc
