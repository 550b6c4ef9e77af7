// The CCD linearity check on the simulated bench: the whole dialogue for the
// three model rows (positions and limit), readings cut to one decimal against
// the limit, the result rows in their order, and leaving.
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

struct ModelRow {
  const char* model;
  const char* lower;  // position texts
  const char* upper;
  const char* limit_line;
};

const ModelRow k2430A = {"2430A", "-4.8", "2.8", "MESS 5:\"             LIMIT:  94.0%\""};
const ModelRow k2432 = {"2432", "-4", "2", "MESS 5:\"             LIMIT:  94.0%\""};
const ModelRow k2440 = {"2440", "-4.8", "2.8", "MESS 5:\"             LIMIT:  95.0%\""};

Stream Position(int ch, const std::string& position) {
  return {"MESS 9:\"              RUNNING TEST\"",
          "CH" + std::to_string(ch) + " POS:" + position,
          "RUN ACQ",
          "MEN",
          "EVE?",
          "CURS?DISP:VAL"};
}

// Everything up to the result screen.
Stream Measurement(const ModelRow& row) {
  Stream stream = {
      "MESS CLR,9:\"      *** CCD LINEARITY CHECK ***\"",
      "VMO CH1;CH1 POS:-1;ATR LEV:0.1",
      "MESS CLR,16:\"CONNECT PG 506, 0.2V STANDARD AMPLITUDE\"",
      "MESS 15:\"TO CH1 AND CH2\"",
      "MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"",
      "EVE?",
      "HOR ASE:.5E-4;ATR MOD:SGL;ACQ MOD:AVG;ATR LEV:.1;MEN",
      "EVE?",
      "CURS FUN:V.T;CURS UNI:VOL:PERC",
      // CH1 reference
      "MESS 12:\"           SETTING CH1 REFERENCE\"",
      "VMO CH1,CH2:OFF",
      "CH1 POS:-1;ACQ NUMAV:128;RUN ACQ",
      "EVE?",
      "CURS NEWR;ACQ NUMAV:64;MEN",
      "EVE?",
  };
  Append(stream, Position(1, row.lower));
  Append(stream, Position(1, row.upper));
  Append(stream, {
                     "MESS 12:\"           SETTING CH2 REFERENCE\"",
                     "VMO CH2,CH1:OFF",
                     "CH2 POS:-1;ACQ NUMAV:128;RUN ACQ",
                     "EVE?",
                     "CURS NEWR;ACQ NUMAV:64;MEN",
                     "EVE?",
                 });
  Append(stream, Position(2, row.lower));
  Append(stream, Position(2, row.upper));
  Append(stream, {"VMO CH2:OFF;CURS FUN:OFF;MESS CLR"});
  return stream;
}

// A whole run; `rows` are the texts after "LOWER:" / "UPPER:" in the order
// CH1 lower, CH1 upper, CH2 lower, CH2 upper.
Stream WholeRun(const ModelRow& row, bool pass, const std::vector<std::string>& rows) {
  Stream stream = Measurement(row);
  const std::string blanks(9, ' ');
  Append(stream, {"MESS 12:\"" + blanks + "\\c\\c\\d\\0\\l\\i\\n\\e\\a\\r\\i\\t\\y     " +
                      (pass ? "PASS\"" : "\\f\\a\\i\\l\";BELL"),
                  "MESS 10:\"" + blanks + "CH1 LOWER:" + rows[0] + "\"",
                  "MESS 9:\"" + blanks + "CH1 UPPER:" + rows[1] + "\"",
                  "MESS 8:\"" + blanks + "CH2 LOWER:" + rows[2] + "\"",
                  "MESS 7:\"" + blanks + "CH2 UPPER:" + rows[3] + "\"", row.limit_line,
                  "MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\""});
  return stream;
}

class CcdLinTest : public ::testing::Test {
 protected:
  // `readings`: the cursor replies, CH1 lower, CH1 upper, CH2 lower, CH2 upper.
  // The waits for the references and positions end with the instrument's own
  // acquisition; the technician presses at the first and the last wait.
  void RunWith(const ModelRow& row, const std::vector<std::string>& readings,
               const std::string& script = "b1,b1") {
    bench_ = std::make_unique<CheckoutBench>(BenchOptions{.model = row.model});
    ASSERT_TRUE(LoadForChecks(*bench_));
    bench_->scope().SetReplies("CURS?DISP:VAL", readings);
    bench_->SetScript(script);
    bench_->ClearReceived();
    bells_before_ = bench_->scope().bells();
    EXPECT_EQ(bench_->Call([&] { bench_->form().CCDlin(); }), -1);
  }

  Single FailFlag() { return bench_->form().ResultTable[3][1]; }
  int NewBells() { return bench_->scope().bells() - bells_before_; }

  std::unique_ptr<CheckoutBench> bench_;
  int bells_before_ = 0;
};

TEST_F(CcdLinTest, ModelRowsChoosePositionsAndLimit) {
  struct Case {
    const ModelRow* row;
    bool pass;
    std::vector<std::string> rows;
  };
  // The same readings against 94.0 (2430A, 2432) and 95.0 (2440).
  const std::vector<std::string> readings = {"96.2", "98", "94.5", "95.0"};
  for (const Case& c :
       {Case{&k2430A, true, {"  96.2% PASS", "  98.0% PASS", "  94.5% PASS", "  95.0% PASS"}},
        Case{&k2432, true, {"  96.2% PASS", "  98.0% PASS", "  94.5% PASS", "  95.0% PASS"}},
        Case{&k2440,
             false,
             {"  96.2% PASS", "  98.0% PASS", "  94.5% \\f\\a\\i\\l", "  95.0% PASS"}}}) {
    SCOPED_TRACE(c.row->model);
    RunWith(*c.row, readings);
    EXPECT_THAT(bench_->received(), ElementsAreArray(WholeRun(*c.row, c.pass, c.rows)));
    EXPECT_EQ(FailFlag(), c.pass ? 0 : 1);
    EXPECT_EQ(NewBells(), c.pass ? 0 : 1);
  }
}

TEST_F(CcdLinTest, ReadingsAreCutToOneDecimalBeforeTheLimit) {
  // 93.99 is cut to 93.9 and fails; 94.04 gives 94.0, equal to the limit, and
  // passes; 94.3 stays 94.3; -1.23 is cut downward to -1.3.
  RunWith(k2430A, {"93.99", "94.04", "94.3", "-1.23"});
  EXPECT_THAT(bench_->received(),
              ElementsAreArray(WholeRun(k2430A, false,
                                        {"  93.9% \\f\\a\\i\\l", "  94.0% PASS", "  94.3% PASS",
                                         "  -1.3% \\f\\a\\i\\l"})));
  EXPECT_EQ(FailFlag(), 1);
  EXPECT_EQ(NewBells(), 1);
  // The cells hold the displayed magnitudes, rows 1 (lower) and 2 (upper).
  const MainForm& form = bench_->form();
  EXPECT_EQ(form.ResultTable[1][1], 93.9f);
  EXPECT_EQ(form.ResultTable[2][1], 94.0f);
  EXPECT_EQ(form.ResultTable[1][2], 94.3f);
  EXPECT_EQ(form.ResultTable[2][2], 1.3f);
}

TEST_F(CcdLinTest, ResultScreenRowsInTheirLines) {
  RunWith(k2432, {"94.1", "94.2", "94.3", "94.4"});
  const std::vector<std::string>& screen = bench_->scope().screen();
  EXPECT_EQ(screen[11], "         \\c\\c\\d\\0\\l\\i\\n\\e\\a\\r\\i\\t\\y     PASS");
  EXPECT_EQ(screen[9], "         CH1 LOWER:  94.1% PASS");
  EXPECT_EQ(screen[8], "         CH1 UPPER:  94.2% PASS");
  EXPECT_EQ(screen[7], "         CH2 LOWER:  94.3% PASS");
  EXPECT_EQ(screen[6], "         CH2 UPPER:  94.4% PASS");
  EXPECT_EQ(screen[4], "             LIMIT:  94.0%");
  EXPECT_EQ(screen[0], "  PRESS ANY BEZEL BUTTON FOR MAIN MENU");
  // The last vertical position stays set.
  EXPECT_EQ(bench_->scope().NumberSetting("CH2 POS"), 2.0);
}

TEST_F(CcdLinTest, EmptyReadingFailsAsZero) {
  RunWith(k2432, {"", "95", "95", "95"});
  EXPECT_THAT(
      bench_->received(),
      ElementsAreArray(WholeRun(
          k2432, false, {"   0.0% \\f\\a\\i\\l", "  95.0% PASS", "  95.0% PASS", "  95.0% PASS"})));
}

TEST_F(CcdLinTest, LeavingAtTheFirstPromptOrAtTheReferenceEndsTheCheck) {
  const Stream whole = Measurement(k2432);
  // The first prompt; then the CH1 reference, left a second after the first
  // press, before its acquisition of 128 averages ends.
  for (int wait = 1; wait <= 2; ++wait) {
    SCOPED_TRACE(wait);
    RunWith(k2432, {"95", "95", "95", "95"}, wait == 1 ? "leave" : "b1,leave@1");
    Stream expected;
    int waits = 0;
    for (const std::string& message : whole) {
      expected.push_back(message);
      // The waits for the technician are the first "EVE?" and the one after
      // "RUN ACQ" of the reference.
      if (message == "EVE?") {
        ++waits;
        if ((wait == 1 && waits == 1) || (wait == 2 && waits == 3)) break;
      }
    }
    EXPECT_THAT(bench_->received(), ElementsAreArray(expected));
    EXPECT_EQ(NewBells(), 0);
  }
}

}  // namespace
}  // namespace kc
