// The A and B trigger check on the simulated bench: the whole command stream
// for either trigger, the level sweeps one second apart, and leaving at each
// wait.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "checks/check_streams.h"
#include "support/checkout_bench.h"
#include "support/traced_form.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// One message a line, as the instrument receives them; "#" stands for the
// trigger letter.
std::vector<std::string> Lines(const std::string& text, char letter = '#') {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::replace(line.begin(), line.end(), '#', letter);
    lines.push_back(line);
  }
  return lines;
}

const char kSetUpA[] = R"(MESS CLR,9:"         *** A-TRIGGER CHECK ***"
CH1 VOL:.05,FIF;CH2 VOL:.05,FIF
VMO CH1;HOR ASEC:2E-6
MESS CLR,16:"CONNECT SG 503, 50 \4H\&, TO CH1")";

const char kSetUpB[] = R"(MESS CLR,9:"         *** B-TRIGGER CHECK ***"
CH1 VOL:.05,FIF;CH2 VOL:.05,FIF
VMO CH2;HOR ASEC:5E-6,BSEC:2E-6,MODE:BSW
DLYT DLY1:10E-6;BTR MOD:TRI,SOU:CH2;ATR ABSE:B;MESS CLR
MESS CLR,16:"CONNECT SG 503, 50 \4H\&, TO CH2")";

const char kSweepsAndCouplings[] = R"(MESS 15:"ADJUST AMPLITUDE TO"
MESS 14:"7 DIVISIONS P-P"
MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?
MESS CLR,1:"CHECK TRIG T MOVING ONE DIV AT THE TIME"
#TR LEV:-.15
#TR LEV:-.1
#TR LEV:-.05
#TR LEV:0
#TR LEV:.05
#TR LEV:.1
#TR LEV:.15
#TR SLO:MINUS
#TR LEV:.15
#TR LEV:.1
#TR LEV:.05
#TR LEV:0
#TR LEV:-.05
#TR LEV:-.1
#TR LEV:-.15
MESS 1:"   PRESS ANY BEZEL BUTTON TO CONTINUE"
EVE?
#TR LEV:0,SLO:PLUS
MESS CLR,16:"CHECK TRIG T AT CENTER"
MESS 15:"HORIZONTAL LINE"
MESS 13:"*** DC ***"
MESS 1:"   PRESS ANY BEZEL BUTTON TO CONTINUE"
EVE?
#TR COU:AC
MESS CLR,16:"CHECK TRIGGER T APPROXIMATELY"
MESS 15:"AT CENTER HORIZONTAL LINE"
MESS 13:"*** AC ***"
MESS 1:"   PRESS ANY BEZEL BUTTON TO CONTINUE"
EVE?
#TR COU:HFR
MESS CLR,16:"CHECK TRIGGER T APPROXIMATELY"
MESS 15:"2 DIVS ABOVE CENTER"
MESS 14:"HORIZONTAL LINE"
MESS 12:"*** HF REJECT ***"
MESS 1:"   PRESS ANY BEZEL BUTTON TO CONTINUE"
EVE?
#TR COU:LFR
MESS CLR,16:"CHECK TRIGGER T APPROXIMATELY"
MESS 15:" 3 DIVS BELOW CENTER"
MESS 14:"   HORIZONTAL LINE"
MESS 12:"     *** LF REJECT ***"
MESS 1:"  PRESS ANY BEZEL BUTTON FOR MAIN MENU")";

std::vector<std::string> WholeRun(Integer button) {
  std::vector<std::string> stream = Lines(button == 1 ? kSetUpA : kSetUpB);
  std::vector<std::string> rest = Lines(kSweepsAndCouplings, button == 1 ? 'A' : 'B');
  stream.insert(stream.end(), rest.begin(), rest.end());
  return stream;
}

class TriggerTest : public ::testing::Test {
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

  // Runs the check for `button` on a new bench; the exit code.
  int RunWith(Integer button, const std::string& script) {
    Prepare(script);
    Integer argument = button;
    int code = bench_->Call([&] { bench_->form().Trigger(argument); });
    EXPECT_EQ(argument, button);
    return code;
  }

  const std::vector<std::string>& received() const { return bench_->received(); }
  SimScope& scope() { return bench_->scope(); }

  std::unique_ptr<CheckoutBench> bench_;
};

TEST_F(TriggerTest, ATriggerWholeRun) {
  EXPECT_EQ(RunWith(1, "b1,b2,b3,b4,b5,b1"), -1);
  EXPECT_THAT(received(), ElementsAreArray(WholeRun(1)));
  EXPECT_THAT(scope().errors(), IsEmpty());
  // Left at level 0, positive slope, LF reject.
  EXPECT_EQ(scope().Setting("ATR LEV"), "0");
  EXPECT_EQ(scope().Setting("ATR SLO"), "PLUS");
  EXPECT_EQ(scope().Setting("ATR COU"), "LFREJ");
  // The final press is left for the main menu.
  EXPECT_EQ(scope().event(), 450);
}

TEST_F(TriggerTest, BTriggerWholeRun) {
  EXPECT_EQ(RunWith(2, "b1,b1,b1,b1,b1,b2"), -1);
  EXPECT_THAT(received(), ElementsAreArray(WholeRun(2)));
  EXPECT_THAT(scope().errors(), IsEmpty());
  EXPECT_EQ(scope().Setting("BTR COU"), "LFREJ");
  EXPECT_EQ(scope().Setting("BTR SOU"), "CH2");
}

TEST_F(TriggerTest, LeavingAtAnyWaitSendsNothingMore) {
  for (Integer button : {Integer{1}, Integer{2}}) {
    const std::vector<std::string> whole = WholeRun(button);
    for (int wait = 1; wait <= 5; ++wait) {
      SCOPED_TRACE(testing::Message() << "button " << button << ", wait " << wait);
      std::string script;
      for (int i = 1; i < wait; ++i) script += "b1,";
      EXPECT_EQ(RunWith(button, script + "leave"), -1);
      std::vector<std::string> head;
      for (int seen = 0; seen < wait;) {
        head.push_back(whole[head.size()]);
        if (head.back() == "EVE?") ++seen;
      }
      EXPECT_THAT(received(), ElementsAreArray(head));
    }
  }
}

TEST_F(TriggerTest, LevelSweepsStepOnceASecond) {
  for (Integer button : {Integer{1}, Integer{2}}) {
    SCOPED_TRACE(button);
    Prepare("b1,b1,b1,b1,b1,b1");
    TracedForm traced(*bench_);
    Integer argument = button;
    ASSERT_EQ(bench_->Call([&] { traced.form().Trigger(argument); }), -1);

    const std::string level = std::string(1, button == 1 ? 'A' : 'B') + "TR LEV:";
    std::vector<double> times;
    double slope_time = 0;
    double prompt_time = 0;
    for (const auto& [time, command] : traced.Writes()) {
      if (command.rfind(level, 0) == 0 && command.find(',') == std::string::npos) {
        times.push_back(time);
      } else if (command.find("SLO:MINUS") != std::string::npos) {
        slope_time = time;
      } else if (!times.empty() && prompt_time == 0 &&
                 command.find("TO CONTINUE") != std::string::npos) {
        prompt_time = time;
      }
    }
    // Fourteen levels, each held for one second, the slope turned at the
    // moment the second sweep starts.
    ASSERT_EQ(times.size(), 14u);
    for (std::size_t i = 1; i < times.size(); ++i) EXPECT_NEAR(times[i] - times[i - 1], 1.0, 0.01);
    EXPECT_NEAR(slope_time, times[7], 0.01);
    EXPECT_NEAR(prompt_time - times[13], 1.0, 0.01);
  }
}

}  // namespace
}  // namespace kc
