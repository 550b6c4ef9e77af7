// A close request at any moment of any check: every half second of each
// check's run (its delays, its bar graphs, its waits for a bezel button) on
// both menu variants of the family. The closing sequence runs at once and
// ends the program; nothing else reaches the instrument after it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/check_harness.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

// Sweep step on the virtual clock.
constexpr double kStep = 0.5;
// The technician presses the buttons in turn, 1.5 s apart, whatever the
// program is doing; a press during a wait answers it, one during a delay is
// either polled (the attenuator check) or drained by the next wait.
std::string Presses() {
  std::string script;
  for (int round = 0; round < 60; ++round) {
    for (int button = 1; button <= 5; ++button) {
      if (!script.empty()) script += ',';
      script += "b" + std::to_string(button) + "@1.5";
    }
  }
  return script;
}

// Each check run on a new bench, as the main menu leaves it.
class CloseRequestTest : public CheckTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(CloseRequestTest, EveryCheckClosesAtOnceWhereverTheRequestComes) {
  const std::string model = GetParam();
  for (const auto& [name, check] : Checks()) {
    SCOPED_TRACE(model + " " + name);
    close_after_ = -1;
    ASSERT_EQ(RunCheck(name, model, Presses()), -1) << "the check did not come to its end";
    ASSERT_TRUE(bench().platform().boxes.empty());
    const Stream whole = received();
    const double duration = elapsed();
    ASSERT_GT(duration, 1.0);
    ASSERT_LT(duration, 600.0);

    for (close_after_ = kStep / 2; close_after_ < duration; close_after_ += kStep) {
      SCOPED_TRACE("close request " + std::to_string(close_after_) + " s into the check");
      ASSERT_EQ(RunCheck(name, model, Presses()), kExitInterrupted);
      EXPECT_TRUE(bench().platform().boxes.empty());
      // The check's own stream up to the request, then the closing sequence
      // and nothing else.
      const Stream& closed = received();
      ASSERT_GE(closed.size(), kClosing.size());
      ASSERT_LE(closed.size() - kClosing.size(), whole.size());
      const auto cut = closed.end() - static_cast<std::ptrdiff_t>(kClosing.size());
      ASSERT_EQ(Stream(closed.begin(), cut),
                Stream(whole.begin(), whole.begin() + (cut - closed.begin())));
      ASSERT_EQ(Stream(cut, closed.end()), kClosing);
      // The request was taken at once: the notice stays two seconds.
      EXPECT_GE(elapsed() - close_after_, 2.0 - 1e-6);
      EXPECT_LT(elapsed() - close_after_, 2.1);
    }
  }
}

// The menu's first page differs below and above the 2432 (CCD charge
// transfer or position effect, sample skew or its notice).
INSTANTIATE_TEST_SUITE_P(Models, CloseRequestTest, ::testing::Values("2430", "2440"));

TEST(CloseRequestMenuTest, ARequestWhileTheMenuWaitsClosesTheProgram) {
  CheckoutBench bench({.operator_script = "b1@30"});
  bench.platform().close_at = 20;
  EXPECT_EQ(bench.Run(), kExitInterrupted);
  const std::vector<std::string>& received = bench.received();
  ASSERT_GE(received.size(), 4u);
  EXPECT_EQ(received[received.size() - 4], "MESS 1:\"  COMP   EFFECT   SKEW    TWO\"");
  EXPECT_EQ(std::vector<std::string>(received.end() - 3, received.end()), kClosing);
  EXPECT_NEAR(bench.platform().clock().Elapsed(), 22.0, 0.1);
}

TEST(CloseRequestMenuTest, ARequestBeforeTheInstrumentIsFoundEndsAtOnce) {
  CheckoutBench bench({.operator_script = "b5"});
  bench.platform().close_at = 1.0;  // during the intro
  EXPECT_EQ(bench.Run(), kExitInterrupted);
  EXPECT_TRUE(bench.received().empty());
  EXPECT_NEAR(bench.platform().clock().Elapsed(), 1.0, 0.01);
}

TEST(CloseRequestMenuTest, ASecondRequestWhileClosingChangesNothing) {
  CheckoutBench bench;
  // The closing sequence after QUIT, then a close request during the closing
  // notice's two seconds: QUIT's exit status stays.
  ASSERT_TRUE(bench.Load());
  bench.platform().SetCloseHandler([&bench] { bench.form().CloseRequested(); });
  bench.ClearReceived();
  bench.platform().close_at = bench.platform().clock().Elapsed() + 1.0;
  EXPECT_EQ(bench.Call([&] { bench.form().Form_Unload(); }), kExitClosed);
  EXPECT_EQ(bench.received(), kClosing);
}

}  // namespace
}  // namespace kc
