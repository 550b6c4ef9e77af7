// Checks in one go (--sequence): the README's rehearsal of a whole checkout,
// the traffic of a short sequence against the same choices made by hand, the
// question after a check left with MENU OFF, and a list with an unknown name.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/check_harness.h"
#include "support/checkout_bench.h"
#include "support/program_run.h"

namespace kc {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

void Append(Stream& stream, const Stream& more) {
  stream.insert(stream.end(), more.begin(), more.end());
}

TEST(Sequence, TheReadmesRehearsalRunsEveryCheckAndSumsUp) {
  if (ProgramPath().empty()) GTEST_SKIP() << "kalventa-checkout is not built (KC_BIN_DIR)";
  const std::vector<std::string> args = ReadmeCommand("sequence");
  ASSERT_FALSE(args.empty()) << "no sequence command in README.md";
  const ProgramRun run = RunProgram(args);
  EXPECT_EQ(run.code, 0) << run.err << run.out;
  // In this order: hints, the summary with every verdict, the hint of the menu.
  std::size_t at = 0;
  for (const char* text :
       {"[hint] check 1 of 12: Attenuator compensation", "[hint] check 3 of 12: Sample skew",
        "[hint] check 12 of 12: External triggers",
        "[box] Checkout sequence (information, OK): Sequence of 12 checks finished:",
        "2. Position effect: PASS", "3. Sample skew: not applicable", "4. CCD linearity: PASS",
        "5. Vertical accuracy: PASS", "6. Common mode rejection: PASS", "7. Bandwidth: PASS",
        "8. Timing: PASS (by eye)", "9. Calibrator signal: PASS",
        "[hint] Use the Bezel Buttons of the 2440 on GPIB address 1"}) {
    at = run.out.find(text, at);
    ASSERT_NE(at, std::string::npos) << text << "\n" << run.out;
  }
  EXPECT_THAT(run.out, Not(HasSubstr("FAIL")));
}

// A menu page of the 2440 and the event query of the choice made there.
Stream PageAndChoice(int page) {
  Stream lines = MenuPage(page, true);
  lines.push_back("EVE?");
  return lines;
}

TEST(Sequence, SendsWhatTheSameChoicesByHandSendWithoutTheirWaits) {
  CheckoutBench bench({.operator_script = "b1,b1,b1,b1,leave"});
  bench.form().sequence_list = {"calibrator", "sampl-skew"};
  // The calibrator's gain reference is lost: the check fails.
  const Transcript calibrator = ReadTranscript("calibrator-lost-reference");
  for (const auto& [query, replies] : calibrator.replies) bench.scope().SetReplies(query, replies);
  EXPECT_EQ(bench.Run(), kExitClosed) << bench.end_message();

  const std::string to_menu = "MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\"";
  Stream expected = {"ID?", "ID?", "INIT GPI;PATH OFF;USE;BELL", "EVE?"};
  // Menu page 1, PAGE TWO, PAGE THREE, CALIBRATOR.
  for (const Stream& part :
       {TitleScreen(), PageAndChoice(1), PageAndChoice(2), PageAndChoice(3), calibrator.sent})
    Append(expected, part);
  // Back on page 3, then PAGE FOUR, PAGE ONE, SAMPL SKEW with its notice.
  for (const Stream& part : {TitleScreen(), PageAndChoice(3), PageAndChoice(4), PageAndChoice(1)})
    Append(expected, part);
  Append(expected, {"BELL;MESS CLR,9:\"   THIS TEST NOT APPLICABLE TO 2440\"",
                    "MESS 7:\"        CHECK THE SERVICE MANUAL\"",
                    "MESS 6:\"        FOR THE CORRECT PROCEDURE\"", to_menu});
  // The menu is the technician's again: MENU OFF twice there closes.
  for (const Stream& part : {TitleScreen(), PageAndChoice(1), kClosing}) Append(expected, part);
  EXPECT_EQ(bench.received(), expected);

  ASSERT_EQ(bench.platform().boxes.size(), 1u);
  const std::string& summary = bench.platform().boxes[0].prompt;
  EXPECT_THAT(summary, HasSubstr("1. Calibrator signal: FAIL\n2. Sample skew: not applicable"));
  EXPECT_EQ(bench.platform().hint, "Use the Bezel Buttons of the 2440 on GPIB address 1");
}

// MENU OFF twice at the calibrator's first prompt, then OK (skip it) or Cancel.
class LeftCheck : public ::testing::TestWithParam<bool> {};

TEST_P(LeftCheck, AsksWhetherToSkipOrStop) {
  const bool skip = GetParam();
  CheckoutBench bench({.operator_script = skip ? "leave,b1,leave" : "leave,leave"});
  bench.form().sequence_list = {"calibrator", "sampl-skew"};
  bench.platform().answers = {skip ? MsgAnswer::kOk : MsgAnswer::kCancel};
  EXPECT_EQ(bench.Run(), kExitClosed) << bench.end_message();

  const std::vector<RecordedBox>& boxes = bench.platform().boxes;
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, "Check left");
  EXPECT_EQ(boxes[0].buttons, MsgButtons::kOkCancel);
  EXPECT_THAT(boxes[0].prompt, HasSubstr("check 1 of 2, Calibrator signal"));
  EXPECT_THAT(boxes[0].prompt, HasSubstr("check 2 of 2, Sample skew"));
  EXPECT_EQ(boxes[1].prompt.find("stopped after check 1 of 2") != std::string::npos, !skip)
      << boxes[1].prompt;
  EXPECT_THAT(boxes[1].prompt, HasSubstr("1. Calibrator signal: left (MENU OFF)\n2. Sample skew: " +
                                         std::string(skip ? "not applicable" : "not run")));
  bool notice = false;
  for (const std::string& message : bench.received())
    notice |= message.find("NOT APPLICABLE") != std::string::npos;
  EXPECT_EQ(notice, skip);
}

INSTANTIATE_TEST_SUITE_P(Answers, LeftCheck, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param_info) {
                           return std::string(param_info.param ? "Skip" : "Stop");
                         });

TEST(Sequence, AnUnknownNameIsAUsageErrorListingTheNames) {
  if (ProgramPath().empty()) GTEST_SKIP() << "kalventa-checkout is not built (KC_BIN_DIR)";
  for (const char* list : {"calibrator,bogus", "calibrator,,timing"}) {
    const ProgramRun run = RunProgram({"--virtual-time", "--sequence", list});
    EXPECT_EQ(run.code, kExitUsage) << list;
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, HasSubstr("unknown check"));
    EXPECT_THAT(run.err, HasSubstr("atten-comp, ccd-cte, pos-effect, sampl-skew, ccd-lin, "
                                   "vert-acc, cmrr, bandwidth, timing, calibrator, a-trig, "
                                   "b-trig, ext-trigs"));
  }
}

}  // namespace
}  // namespace kc
