// The CCD charge transfer efficiency / position effect check on the simulated
// bench: both variants' whole dialogue, the overall verdict on the signed
// reading against the limit and the channel verdicts on the rounded
// magnitude, readings too large for one-decimal rounding, and leaving.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "checks/check_streams.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;

const std::string kReady = "MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"";

struct Variant {
  const char* model;
  const char* title;
  const char* first_cursor;
  const char* second_cursor;
  const char* offset;
  const char* label;
  const char* limit_line;
};

const Variant kChargeTransfer = {
    "2430A",
    "MESS CLR,9:\"* CCD CHARGE TRANSFER EFFICIENCY CHECK *\"",
    "CURS TPOS:ONE:613",
    "CURS NEWR,TPOS:TWO:818",
    "-3.9",
    "\\c\\c\\d\\0\\c\\h\\a\\r\\g\\e\\0\\t\\r\\a\\n\\s\\f\\e\\r\\0\\e\\f\\f\\i\\c\\i\\e\\n\\c\\y",
    "MESS 6:\"          LIMIT:  4.0%\"",
};
const Variant kPositionEffect = {
    "2431L",
    "MESS CLR,9:\"     *** POSITION EFFECT CHECK ***\"",
    "CURS TPOS:ONE:562",
    "CURS NEWR,TPOS:TWO:716",
    "-3.5",
    "    \\p\\o\\s\\i\\t\\i\\o\\n\\0\\e\\f\\f\\e\\c\\t",
    "MESS 6:\"          LIMIT:  8.0%\"",
};

Stream ChannelMeasurement(const Variant& variant, int ch) {
  const std::string c = std::to_string(ch);
  Stream stream = {"MESS CLR;HOR POS:512;CURS FUN:V.T,UNI:VOL:PERC",
                   "CURS TPOS:ONE:307,TPOS:TWO:717;ACQ REP"};
  Append(stream, PleaseWaitBar(10, 9));
  Append(stream, {"CURS NEWR;HOR POS:615", variant.first_cursor, variant.second_cursor,
                  "ACQ REP:OFF", "MESS CLR;CH" + c + " POS:" + variant.offset + ";ACQ REP"});
  Append(stream, PleaseWaitBar(10, 9));
  Append(stream,
         {"MESS CLR", "CURS?DISP:VAL", "CURS FUN:OFF;VMO CH" + c + ":OFF;MESS CLR;ACQ REP:OFF"});
  return stream;
}

// Everything up to the result screen.
Stream Measurement(const Variant& variant) {
  Stream stream = {
      variant.title,
      "MESS CLR;CH1 VOL:.01,FIF,POS:2.5",
      "CH2 VOL:.01,FIF,POS:2.5;VMO CH1",
      "ATR LEV:-.01;HOR ASEC:1E-7;ACQ MOD:AVG,NUMAV:4",
      "MESS 16:\"CONNECT PG 506 FAST RISE, 1 MH\\&, TO CH1\"",
      "MESS 15:\"ADJUST AMPLITUDE TO A 5 DIVISION DISPLAY\"",
      kReady,
      "EVE?",
      "HOR ASEC:5E-9;ACQ NUMAV:256",
  };
  Append(stream, ChannelMeasurement(variant, 1));
  Append(stream, {"MESS 9:\"           MOVE SIGNAL TO CH2\"", kReady, "EVE?", "VMO CH2"});
  Append(stream, ChannelMeasurement(variant, 2));
  return stream;
}

// A whole run; the channel texts are what follows "CH1:" and "CH2:".
Stream WholeRun(const Variant& variant, bool pass, const std::string& ch1, const std::string& ch2) {
  Stream stream = Measurement(variant);
  const std::string blanks(12, ' ');
  Append(stream,
         {std::string("MESS CLR,11:\"  ") + variant.label + "  " +
              (pass ? "PASS\"" : "\\f\\a\\i\\l\";BELL"),
          "MESS 9:\"" + blanks + "CH1:" + ch1 + "\"", "MESS 8:\"" + blanks + "CH2:" + ch2 + "\"",
          variant.limit_line, "MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\""});
  return stream;
}

class CcdCteTest : public ::testing::Test {
 protected:
  void RunWith(const Variant& variant, const std::string& ch1_reading,
               const std::string& ch2_reading, const std::string& script = "b1,b1,b1") {
    bench_ = std::make_unique<CheckoutBench>(BenchOptions{.model = variant.model});
    ASSERT_TRUE(LoadForChecks(*bench_));
    bench_->scope().SetReplies("CURS?DISP:VAL", {ch1_reading, ch2_reading});
    bench_->SetScript(script);
    bench_->ClearReceived();
    bells_before_ = bench_->scope().bells();
    EXPECT_EQ(bench_->Call([&] { bench_->form().CCDcte(); }), -1);
  }

  Single FailFlag() { return bench_->form().ResultTable[2][1]; }
  Single Reading(int ch) { return bench_->form().ResultTable[1][ch]; }
  int NewBells() { return bench_->scope().bells() - bells_before_; }

  std::unique_ptr<CheckoutBench> bench_;
  int bells_before_ = 0;
};

TEST_F(CcdCteTest, ChargeTransferVariantPassesBothChannels) {
  // 1.05 x 10 is the tie 10.5, kept to one decimal by rounding to even: 1.0.
  RunWith(kChargeTransfer, "3.24", "1.05");
  EXPECT_THAT(bench_->received(),
              ElementsAreArray(WholeRun(kChargeTransfer, true, "  3.2% PASS", "  1.0% PASS")));
  EXPECT_EQ(FailFlag(), 0);
  EXPECT_EQ(NewBells(), 0);
}

TEST_F(CcdCteTest, PositionEffectVariantPassesAReadingEqualToItsLimit) {
  // The 2431L and up: limit 8.0; a reading equal to it passes both verdicts.
  RunWith(kPositionEffect, "7.9", "8.0");
  EXPECT_THAT(bench_->received(),
              ElementsAreArray(WholeRun(kPositionEffect, true, "  7.9% PASS", "  8.0% PASS")));
  EXPECT_EQ(FailFlag(), 0);
}

TEST_F(CcdCteTest, JustAboveTheLimitFailsOverallButRoundsToAPassingChannelLine) {
  RunWith(kChargeTransfer, "4.04", "1.0");
  EXPECT_THAT(bench_->received(),
              ElementsAreArray(WholeRun(kChargeTransfer, false, "  4.0% PASS", "  1.0% PASS")));
  EXPECT_EQ(FailFlag(), 1);
  EXPECT_EQ(NewBells(), 1);
}

TEST_F(CcdCteTest, NegativeReadingPassesOverallButFailsItsLineByMagnitude) {
  RunWith(kChargeTransfer, "1.0", "-5.0");
  EXPECT_THAT(bench_->received(), ElementsAreArray(WholeRun(kChargeTransfer, true, "  1.0% PASS",
                                                            " -5.0% \\f\\a\\i\\l")));
  EXPECT_EQ(FailFlag(), 0);
  EXPECT_EQ(NewBells(), 0);
  // The displayed cells hold the rounded magnitudes.
  EXPECT_EQ(Reading(1), 1.0f);
  EXPECT_EQ(Reading(2), 5.0f);
}

TEST_F(CcdCteTest, ReadingsTooLargeForOneDecimalFailAndAreShownAsRead) {
  // 3276.74 x 10 still rounds to 32767 and is kept to one decimal; 3276.76
  // does not fit and is shown as read, and counts as failed.
  RunWith(kPositionEffect, "3276.74", "3276.76");
  EXPECT_THAT(bench_->received(),
              ElementsAreArray(WholeRun(kPositionEffect, false, "3276.7% \\f\\a\\i\\l",
                                        "3276.76% \\f\\a\\i\\l")));
  EXPECT_EQ(FailFlag(), 1);

  // Negative and huge readings: failed even where the signed reading is
  // below the limit, and written out in digits, never with an exponent.
  RunWith(kChargeTransfer, "-4000.5", "1E9");
  EXPECT_THAT(bench_->received(),
              ElementsAreArray(WholeRun(kChargeTransfer, false, "-4000.5% \\f\\a\\i\\l",
                                        "1000000000% \\f\\a\\i\\l")));
  EXPECT_EQ(FailFlag(), 1);
  EXPECT_EQ(NewBells(), 1);
}

TEST_F(CcdCteTest, EmptyCursorReplyReadsAsZero) {
  RunWith(kChargeTransfer, "", "2.0");
  EXPECT_THAT(bench_->received(),
              ElementsAreArray(WholeRun(kChargeTransfer, true, "  0.0% PASS", "  2.0% PASS")));
  EXPECT_EQ(FailFlag(), 0);
}

TEST_F(CcdCteTest, LeavingAtEitherWaitEndsTheCheckAtOnce) {
  const Stream whole = Measurement(kChargeTransfer);
  for (int wait = 1; wait <= 2; ++wait) {
    SCOPED_TRACE(wait);
    RunWith(kChargeTransfer, "1.0", "1.0", wait == 1 ? "leave" : "b1,leave");
    Stream expected;
    int waits = 0;
    for (const std::string& message : whole) {
      expected.push_back(message);
      if (message == "EVE?" && ++waits == wait) break;
    }
    EXPECT_THAT(bench_->received(), ElementsAreArray(expected));
    EXPECT_EQ(NewBells(), 0);
  }
}

}  // namespace
}  // namespace kc
