// The attenuator compensation check on the simulated bench: the channel flips
// between 0.05 and 0.1 V per division until a press, which is seen at the next
// poll in either half; an event of exactly 0 skips the 0.1 half; leaving at
// each of its four waits; and LastButton afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "checks/check_streams.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// One message a line, as the instrument receives them.
std::vector<std::string> Lines(std::initializer_list<const char*> parts) {
  std::vector<std::string> lines;
  for (const char* part : parts) {
    std::istringstream in(part);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

const char kOpening[] = R"(MESS CLR,9:"    *** ATTENUATOR CHECK/ADJUST ***"
VMO CH1;HOR ASEC:1E-4;ATR LEV:-0.05;CH1 POS:2
MESS CLR,16:"CONNECT PG 506, HI AMP, 1 \4H\&, TO CH1"
MESS 15:"THRU A 50\J X5 ATT+TERM+15\>F NORMALIZER"
MESS 14:"ADJUST AMPLITUDE TO A 5 DIVISION DISPLAY"
MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?)";

const char kChannel1[] = R"(MESS CLR,1:"     PRESS ANY BEZEL BUTTON FOR CH2"
MESS 9:"    CHECK/ADJUST ATTENUATOR COMP FOR"
MESS 8:"        EQUAL UPPER FRONT CORNER")";

const char kMoveToChannel2[] = R"(VMO CH1:OFF,CH2;CH2 POS:2
MESS CLR,9:"           MOVE SIGNAL TO CH2"
MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?
MESS 1:"  PRESS ANY BEZEL BUTTON FOR MAIN MENU"
MESS 9:"    CHECK/ADJUST ATTENUATOR COMP FOR"
MESS 8:"        EQUAL UPPER FRONT CORNER")";

// One half-cycle of the adjustment loop: the setting, then the poll.
const char kCh1Low[] = "CH1 VOL:0.05\nEVE?";
const char kCh1High[] = "CH1 VOL:0.1\nEVE?";
const char kCh2Low[] = "CH2 VOL:0.05\nEVE?";
const char kCh2High[] = "CH2 VOL:0.1\nEVE?";

class AttenCompTest : public ::testing::Test {
 protected:
  // Loads the program, switches the replies to bare values as the main menu
  // does, and runs the check with the technician's `script` (delays count from
  // the start of the check). LastButton is 1 before, as after the menu press.
  void RunWith(const std::string& script, std::vector<std::string> event_replies = {}) {
    bench_ = std::make_unique<CheckoutBench>();
    ASSERT_TRUE(LoadForChecks(*bench_));
    if (!event_replies.empty()) bench_->scope().SetReplies("EVE?", std::move(event_replies));
    bench_->form().LastButton = 1;
    bench_->SetScript(script);
    bench_->ClearReceived();
    bench_->scope().ClearErrors();
    double start = bench_->platform().clock().Elapsed();
    code_ = bench_->Call([&] { bench_->form().AttenComp(); });
    elapsed_ = bench_->platform().clock().Elapsed() - start;
  }

  const std::vector<std::string>& received() const { return bench_->received(); }
  Integer last_button() const { return bench_->form().LastButton; }

  std::unique_ptr<CheckoutBench> bench_;
  int code_ = 0;
  double elapsed_ = 0;
};

// Times below are from the start of the check: the title stays up 2 s, every
// event query takes 0.1 s, every half-cycle 1.1 s. Delayed presses count from
// the previous press.

TEST_F(AttenCompTest, PressDuringEitherHalfEndsTheLoopAtTheNextPoll) {
  // Channel 1 shows 0.05 from 2.1 to 3.1 s: a press at 2.6 s ends it at the
  // first poll, without the 0.1 half. Channel 2 shows 0.1 from 4.4 to 5.4 s:
  // a press at 4.9 s ends it at the second poll.
  RunWith("b1,b2@0.6,b3,b4@1.7");
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(
      received(),
      ElementsAreArray(Lines({kOpening, kChannel1, kCh1Low, kMoveToChannel2, kCh2Low, kCh2High})));
  EXPECT_THAT(bench_->scope().errors(), IsEmpty());
  EXPECT_EQ(last_button(), 4);
  EXPECT_NEAR(elapsed_, 5.5, 0.05);
  // Each channel stays at the setting of its last half-cycle.
  EXPECT_EQ(bench_->scope().Setting("CH1 VOL"), "0.05");
  EXPECT_EQ(bench_->scope().Setting("CH2 VOL"), "0.1");
}

TEST_F(AttenCompTest, FlipsOnceASecondUntilAPressThenLeavesAtTheMovePrompt) {
  // Channel 1 half-cycles start at 2.1, 3.2, 4.3, 5.4 and 6.5 s; the press at
  // 7.0 s is read by the poll at 7.5 s. The leave at the move prompt keeps
  // that press in LastButton.
  RunWith("b1,b5@5.0,leave");
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(received(), ElementsAreArray(Lines({kOpening, kChannel1, kCh1Low, kCh1High, kCh1Low,
                                                  kCh1High, kCh1Low, R"(VMO CH1:OFF,CH2;CH2 POS:2
MESS CLR,9:"           MOVE SIGNAL TO CH2"
MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?)"})));
  EXPECT_EQ(last_button(), 5);
  EXPECT_NEAR(elapsed_, 7.7, 0.05);
}

TEST_F(AttenCompTest, EventOfExactlyZeroSkipsTheHighHalf) {
  // "449" is event 0: neither a press nor an empty queue. After the 0.05 poll
  // the loop starts over at 0.05; after the 0.1 poll it goes on as usual.
  RunWith("b1,b1", {"450", "449", "0", "452", "450", "0", "449", "453"});
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(received(), ElementsAreArray(Lines({kOpening, kChannel1, kCh1Low, kCh1Low, kCh1High,
                                                  kMoveToChannel2, kCh2Low, kCh2High, kCh2Low})));
  EXPECT_EQ(last_button(), 4);
}

TEST_F(AttenCompTest, LeavingAtTheOpeningPromptKeepsLastButton) {
  RunWith("leave");
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(received(), ElementsAreArray(Lines({kOpening})));
  EXPECT_EQ(last_button(), 1);
}

TEST_F(AttenCompTest, LeavingInsideEitherLoopStoresTheLeaveEvent) {
  RunWith("b1,leave@0.6");
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(received(), ElementsAreArray(Lines({kOpening, kChannel1, kCh1Low})));
  EXPECT_EQ(last_button(), 201);

  RunWith("b1,b1@0.6,b1,leave@1.7");
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(
      received(),
      ElementsAreArray(Lines({kOpening, kChannel1, kCh1Low, kMoveToChannel2, kCh2Low, kCh2High})));
  EXPECT_EQ(last_button(), 201);
}

}  // namespace
}  // namespace kc
