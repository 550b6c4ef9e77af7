// The sample skew check on the simulated bench: the notice for the models
// without the adjustment, the frequency asked for by model, leaving at either
// wait, and the final press left unread for the main menu.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

// A whole run on a model that has the adjustment; `hundreds` is the first
// digit of the high frequency.
std::vector<std::string> WholeRun(const std::string& hundreds) {
  return Lines(R"(MESS CLR,9:"    *** SAMPLE SKEW CHECK/ADJUST ***"
VMO CH1;CH1 FIF;CH2 FIF;HOR ASEC:1E-5
MESS CLR,16:"CONNECT SG 503, 50 \4H\&, TO CH1 AND CH2"
MESS 15:"ADJUST AMPLITUDE FOR 3 DIVISIONS P-P"
MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?
MESS CLR,16:"CHANGE FREQUENCY TO )" +
               hundreds + R"(00 MH\&"
MESS 3:" NOTE THAT SIGNALS WILL APPEAR UNSTABLE"
MESS 1:"    PRESS ANY BEZEL BUTTON WHEN READY"
EVE?
VMO CH2;CH1 POS:1.5;CH2 POS:-1.5 ;HOR ASEC:0.5E-6
MESS CLR
MESS 16:"ADJUST FREQ FOR 2 CYCLES OVER THE SCREEN"
MESS 15:"CHECK/ADJUST SAM SKEW FOR MIN NOISE"
MESS 1:"  PRESS ANY BEZEL BUTTON FOR MAIN MENU"
)");
}

class SamplSkewTest : public ::testing::Test {
 protected:
  // Loads the program on `model`, switches the replies to bare values as the
  // main menu does, and runs the check with the technician's `script`.
  void RunWith(const std::string& model, const std::string& script) {
    bench_ = std::make_unique<CheckoutBench>(BenchOptions{.model = model});
    ASSERT_TRUE(LoadForChecks(*bench_));
    bench_->SetScript(script);
    bench_->ClearReceived();
    bench_->scope().ClearErrors();
    bells_before_ = bench_->scope().bells();
    start_ = bench_->platform().clock().Elapsed();
    code_ = bench_->Call([&] { bench_->form().SamplSkew(); });
    elapsed_ = bench_->platform().clock().Elapsed() - start_;
  }

  std::unique_ptr<CheckoutBench> bench_;
  int code_ = 0;
  int bells_before_ = 0;
  double start_ = 0;
  double elapsed_ = 0;
};

TEST_F(SamplSkewTest, ModelsWithoutTheAdjustmentGetTheNoticeAndNoSetUp) {
  for (const char* model : {"2431L", "2432A", "2439L", "2440"}) {
    SCOPED_TRACE(model);
    RunWith(model, "b2");
    EXPECT_EQ(code_, -1);
    EXPECT_THAT(bench_->received(),
                ElementsAreArray({
                    "BELL;MESS CLR,9:\"   THIS TEST NOT APPLICABLE TO " + std::string(model) + "\"",
                    std::string("MESS 7:\"        CHECK THE SERVICE MANUAL\""),
                    std::string("MESS 6:\"        FOR THE CORRECT PROCEDURE\""),
                    std::string("MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\""),
                }));
    EXPECT_EQ(bench_->scope().bells() - bells_before_, 1);
    // The press that ends the notice stays queued for the main menu.
    EXPECT_EQ(bench_->scope().event(), 451);
    EXPECT_LT(elapsed_, 0.05);
  }
}

TEST_F(SamplSkewTest, TheFrequencyAskedForFollowsTheModel) {
  struct Case {
    const char* model;
    int model_index;
    const char* hundreds;
  };
  // A model the table does not know runs the check like the 2430.
  for (const Case& c :
       {Case{"2432", 4, "2"}, Case{"2430A", 2, "1"}, Case{"2430", 1, "1"}, Case{"2445", 0, "1"}}) {
    SCOPED_TRACE(c.model);
    RunWith(c.model, "b1,b2,b3");
    ASSERT_EQ(bench_->form().ModelIndex, c.model_index);
    EXPECT_EQ(code_, -1);
    EXPECT_THAT(bench_->received(), ElementsAreArray(WholeRun(c.hundreds)));
    EXPECT_EQ(bench_->form().CmdText,
              "MESS CLR,16:\"CHANGE FREQUENCY TO " + std::string(c.hundreds) + "00 MH\\&\"");
    EXPECT_THAT(bench_->scope().errors(), IsEmpty());
    EXPECT_EQ(bench_->scope().event(), 452);
    // The title stays up for 2 s; each answer is read 0.1 s after the query.
    EXPECT_NEAR(elapsed_, 2.2, 0.05);
  }
}

TEST_F(SamplSkewTest, LeavingAtEitherWaitEndsTheCheckAtOnce) {
  RunWith("2432", "leave");
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(bench_->received(), ElementsAreArray(UpToWait(WholeRun("2"), 1)));

  RunWith("2432", "b1,leave");
  EXPECT_EQ(code_, -1);
  EXPECT_THAT(bench_->received(), ElementsAreArray(UpToWait(WholeRun("2"), 2)));
}

}  // namespace
}  // namespace kc
