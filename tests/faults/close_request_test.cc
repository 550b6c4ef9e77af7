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

// Every check by name, from the shared check harness.
using CheckFn = void (*)(MainForm&);

// One run of a check on a fresh bench, with a close request at `close_at`
// seconds after the check began (none when negative).
struct CheckRun {
  int code = -1;
  double start = 0;
  double end = 0;
  std::vector<std::string> received;
  std::size_t boxes = 0;
};

CheckRun RunCheck(const std::string& model, CheckFn check, double close_at) {
  CheckoutBench bench({.model = model});
  CheckRun run;
  if (!bench.Load()) {
    ADD_FAILURE() << "start-up failed: " << bench.end_message();
    return run;
  }
  // As the main window does: a close request runs the closing sequence.
  bench.platform().SetCloseHandler([&bench] { bench.form().CloseRequested(); });
  bench.SetScript(Presses());
  bench.ClearReceived();
  bench.platform().boxes.clear();
  run.start = bench.platform().clock().Elapsed();
  if (close_at >= 0) bench.platform().close_at = run.start + close_at;
  run.code = bench.Call([&] { check(bench.form()); });
  run.end = bench.platform().clock().Elapsed();
  run.received = bench.received();
  run.boxes = bench.platform().boxes.size();
  return run;
}

std::string Show(const std::vector<std::string>& stream, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < stream.size(); ++i) text += "  " + stream[i] + "\n";
  return text;
}

class CloseRequestTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CloseRequestTest, EveryCheckClosesAtOnceWhereverTheRequestComes) {
  const std::string model = GetParam();
  for (const auto& [name, check] : Checks()) {
    SCOPED_TRACE(model + " " + name);
    const CheckRun whole = RunCheck(model, check, -1);
    ASSERT_EQ(whole.code, -1) << "the check did not come to its end";
    ASSERT_EQ(whole.boxes, 0u);
    const double duration = whole.end - whole.start;
    ASSERT_GT(duration, 1.0);
    ASSERT_LT(duration, 600.0);

    for (double at = kStep / 2; at < duration; at += kStep) {
      SCOPED_TRACE("close request " + std::to_string(at) + " s into the check");
      const CheckRun closed = RunCheck(model, check, at);
      ASSERT_EQ(closed.code, kExitInterrupted);
      EXPECT_EQ(closed.boxes, 0u);
      // The check's own stream up to the request, then the closing sequence
      // and nothing else.
      ASSERT_GE(closed.received.size(), kClosing.size());
      const std::size_t cut = closed.received.size() - kClosing.size();
      ASSERT_LE(cut, whole.received.size());
      for (std::size_t i = 0; i < cut; ++i) {
        ASSERT_EQ(closed.received[i], whole.received[i]) << "message " << i;
      }
      for (std::size_t i = 0; i < kClosing.size(); ++i) {
        ASSERT_EQ(closed.received[cut + i], kClosing[i]) << Show(closed.received, cut);
      }
      // The request was taken at once: the notice stays two seconds.
      const double took = closed.end - (closed.start + at);
      EXPECT_GE(took, 2.0 - 1e-6);
      EXPECT_LT(took, 2.1);
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
