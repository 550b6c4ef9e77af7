// Checks in one go (--sequence): the README's rehearsal of a whole checkout,
// the traffic of a short sequence against the same choices made by hand, the
// question after a check left with MENU OFF, and a list with an unknown name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kc_version.h"
#include "support/check_harness.h"
#include "support/checkout_bench.h"
#include "support/program_run.h"

namespace kc {
namespace {

void Append(Stream& stream, const Stream& more) {
  stream.insert(stream.end(), more.begin(), more.end());
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
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
  EXPECT_FALSE(Has(run.out, "FAIL"));
}

// Q, the glyph "\0" forty times, Q.
std::string FrameRow() {
  std::string row = "\"";
  for (int i = 0; i < 40; ++i) row += "\\0";
  return row + "\"";
}

const Stream kTitleScreen = {
    "INIT PANEL;VMO CH1:OFF;ATR MOD:AUTO",
    "MESS CLR,14:" + FrameRow(),
    "MESS 12:\"       *** KALVENTA CHECKOUT ***\"",
    std::string("MESS 11:\"  *** ") + kVersion + " / 1994-2026 ***\"",
    "MESS 10:\"   GUIDED CHECKOUT FOR THE 2430 FAMILY\"",
    "MESS 9:" + FrameRow(),
    "MESS 5:\"  PRESS MENU OFF TWICE TO EXIT A TEST\"",
};

// A menu page of the 2440 and the event query of the choice made there.
Stream PageAndChoice(int page) {
  static const char* const kLines[5][2] = {
      {},
      {"  ATTEN   POS     SAMPL   PAGE    QUIT", "  COMP   EFFECT   SKEW    TWO"},
      {"  CCD     VERT    CMRR    PAGE    PAGE", "  LIN     ACC             THREE   ONE"},
      {" BAND-   TIMING   CALI-   PAGE    PAGE", " WIDTH            BRATOR  FOUR    TWO  "},
      {"   A       B      EXT     PAGE    PAGE", "  TRIG    TRIG   TRIGS    ONE     THREE"}};
  return {std::string("MESS 2:\"") + kLines[page][0] + "\"",
          std::string("MESS 1:\"") + kLines[page][1] + "\"", "EVE?"};
}

TEST(Sequence, SendsWhatTheSameChoicesByHandSendWithoutTheirWaits) {
  CheckoutBench bench({.operator_script = "b1,b1,b1,b1,leave"});
  bench.form().sequence_list = {"calibrator", "sampl-skew"};
  // A gain reference of 500 mV, then a calibrator 10 mV high.
  bench.scope().SetReplies("CURS?DISP:VAL", {"0.5", "0.41"});
  EXPECT_EQ(bench.Run(), kExitClosed) << bench.end_message();

  const std::string ready = "MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"";
  const std::string to_menu = "MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\"";
  Stream expected = {"ID?", "ID?", "INIT GPI;PATH OFF;USE;BELL", "EVE?"};
  // Menu page 1, PAGE TWO, PAGE THREE, CALIBRATOR.
  for (const Stream& part : {kTitleScreen, PageAndChoice(1), PageAndChoice(2), PageAndChoice(3)})
    Append(expected, part);
  Append(expected, {"MESS CLR,9:\"    *** CALIBRATOR SIGNAL CHECK ***\"",
                    "VMO CH1;HOR ASEC:.1E-3;ATR LEV:0.25;CH1 POS:-2.5",
                    "MESS CLR,16:\"CONNECT PG 506, 500\\;V STANDARD AMPLITUDE\"",
                    "MESS 15:\"TO CH1\"", ready, "EVE?", "MESS CLR;CURS FUN:V.T",
                    "CURS TPOS:ONE:387,TPOS:TWO:637", "ACQ MOD:AVG,NUMAV:128"});
  Append(expected, Bar(5, 12));
  Append(expected, {"CURS?DISP:VAL", "CURS FUN:OFF;ACQ MOD:NOR;CH1 POS:-2",
                    "MESS CLR,16:\"CONNECT THE CALIBRATOR SIGNAL TO CH1\"",
                    "MESS 15:\"VIA A X1 PROBE OR APPROPRIATE ADAPTER\"", ready, "EVE?",
                    "VMO CH1;HOR ASEC:.5E-3;ACQ MOD:AVG;ATR LEV:0.2", "MESS CLR;CURS FUN:V.T",
                    "CURS TPOS:ONE:462,TPOS:TWO:562"});
  Append(expected, Bar(5, 12));
  Append(
      expected,
      {"CURS?DISP:VAL", "VMO CH1:OFF;CURS FUN:OFF;MESS CLR",
       "MESS 10:\"         \\c\\a\\l\\b\\r\\a\\t\\o\\r\\0\\s\\i\\g\\n\\a\\l  \\f\\a\\i\\l\";BELL",
       "MESS 8:\"         CALCULATED: 410.0\\;V\"", "MESS 6:\"         LIMIT: 396.0 - 404.0 \\;V\"",
       to_menu});
  // Back on page 3, then PAGE FOUR, PAGE ONE, SAMPL SKEW with its notice.
  for (const Stream& part : {kTitleScreen, PageAndChoice(3), PageAndChoice(4), PageAndChoice(1)})
    Append(expected, part);
  Append(expected, {"BELL;MESS CLR,9:\"   THIS TEST NOT APPLICABLE TO 2440\"",
                    "MESS 7:\"        CHECK THE SERVICE MANUAL\"",
                    "MESS 6:\"        FOR THE CORRECT PROCEDURE\"", to_menu});
  // The menu is the technician's again: MENU OFF twice there closes.
  for (const Stream& part : {kTitleScreen, PageAndChoice(1)}) Append(expected, part);
  Append(expected, {"MESS CLR,9:\"         *** CLOSING PROGRAM ***\"",
                    "INIT BOTH;CH1 COU:GND,POS:+.5", "VMO CH2;CH2 COU:GND,POS:-.5"});
  EXPECT_EQ(bench.received(), expected);

  ASSERT_EQ(bench.platform().boxes.size(), 1u);
  const std::string& summary = bench.platform().boxes[0].prompt;
  EXPECT_TRUE(Has(summary, "1. Calibrator signal: FAIL\n2. Sample skew: not applicable"))
      << summary;
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
  EXPECT_TRUE(Has(boxes[0].prompt, "check 1 of 2, Calibrator signal")) << boxes[0].prompt;
  EXPECT_TRUE(Has(boxes[0].prompt, "check 2 of 2, Sample skew")) << boxes[0].prompt;
  EXPECT_EQ(Has(boxes[1].prompt, "stopped after check 1 of 2"), !skip) << boxes[1].prompt;
  EXPECT_TRUE(Has(boxes[1].prompt, "1. Calibrator signal: left (MENU OFF)\n2. Sample skew: " +
                                       std::string(skip ? "not applicable" : "not run")))
      << boxes[1].prompt;
  bool notice = false;
  for (const std::string& message : bench.received()) notice |= Has(message, "NOT APPLICABLE");
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
    EXPECT_TRUE(Has(run.err, "unknown check")) << run.err;
    EXPECT_TRUE(Has(run.err,
                    "atten-comp, ccd-cte, pos-effect, sampl-skew, ccd-lin, vert-acc, "
                    "cmrr, bandwidth, timing, calibrator, a-trig, b-trig, ext-trigs"))
        << run.err;
  }
}

}  // namespace
}  // namespace kc
