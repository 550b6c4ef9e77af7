// Bus faults injected into the simulated bus while the calibrator check runs:
// every GPIB error code on writes, serial polls and service-request waits,
// errors and time-outs on reads, errors on device clears at start-up, and an
// instrument that stops answering in the middle of the check. OK goes on as
// the operations say; Cancel ends the program at once, and the instrument
// hears nothing more.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sim/script_technician.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;

const std::string kReady = "MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"";
const std::string kContinue = "\nSelect OK to continue or Cancel to terminate program.";
const std::string kReadFailed = "Read cycle failed\nOperation aborted.";

// The five steps of the "PLEASE WAIT" bar on line 16, indented by 12.
std::vector<std::string> Bar() {
  const std::string head = "MESS 16:\"            PLEASE WAIT ";
  return {head + "    \\M\"", head + "\\M   \\M\"", head + "\\M\\M  \\M\"",
          head + "\\M\\M\\M \\M\"", head + "\\M\\M\\M\\M\\M\""};
}

// The calibrator check from its title to its last prompt, with the verdict
// and calculated value the result lines show.
std::vector<std::string> CalibratorStream(const std::string& verdict,
                                          const std::string& calculated) {
  std::vector<std::string> stream = {
      "MESS CLR,9:\"    *** CALIBRATOR SIGNAL CHECK ***\"",
      "VMO CH1;HOR ASEC:.1E-3;ATR LEV:0.25;CH1 POS:-2.5",
      "MESS CLR,16:\"CONNECT PG 506, 500\\;V STANDARD AMPLITUDE\"",
      "MESS 15:\"TO CH1\"",
      kReady,
      "EVE?",
      "MESS CLR;CURS FUN:V.T",
      "CURS TPOS:ONE:387,TPOS:TWO:637",
      "ACQ MOD:AVG,NUMAV:128",
  };
  for (const std::string& step : Bar()) stream.push_back(step);
  for (const char* command : {
           "CURS?DISP:VAL",
           "CURS FUN:OFF;ACQ MOD:NOR;CH1 POS:-2",
           "MESS CLR,16:\"CONNECT THE CALIBRATOR SIGNAL TO CH1\"",
           "MESS 15:\"VIA A X1 PROBE OR APPROPRIATE ADAPTER\"",
       }) {
    stream.push_back(command);
  }
  stream.push_back(kReady);
  for (const char* command : {
           "EVE?",
           "VMO CH1;HOR ASEC:.5E-3;ACQ MOD:AVG;ATR LEV:0.2",
           "MESS CLR;CURS FUN:V.T",
           "CURS TPOS:ONE:462,TPOS:TWO:562",
       }) {
    stream.push_back(command);
  }
  for (const std::string& step : Bar()) stream.push_back(step);
  stream.push_back("CURS?DISP:VAL");
  stream.push_back("VMO CH1:OFF;CURS FUN:OFF;MESS CLR");
  const bool failed = verdict != "PASS";
  stream.push_back("MESS 10:\"         \\c\\a\\l\\b\\r\\a\\t\\o\\r\\0\\s\\i\\g\\n\\a\\l  " +
                   verdict + "\"" + (failed ? ";BELL" : ""));
  stream.push_back("MESS 8:\"         CALCULATED: " + calculated + "\\;V\"");
  stream.push_back("MESS 6:\"         LIMIT: 396.0 - 404.0 \\;V\"");
  stream.push_back("MESS 1:\"  PRESS ANY BEZEL BUTTON FOR MAIN MENU\"");
  return stream;
}

// A passing run: the reference reads 490 mV and the calibrator 392 mV, which
// the gain factor 0.5 / 0.49 corrects to 400 mV.
std::vector<std::string> Passing() {
  return CalibratorStream("PASS", "400.0");
}
// A run whose gain reference was lost (an empty reply reads as 0): the value
// comes out as 0 and fails.
std::vector<std::string> Failing() {
  return CalibratorStream("\\f\\a\\i\\l", "  0.0");
}

std::vector<std::string> Without(std::vector<std::string> stream, std::size_t index) {
  stream.erase(stream.begin() + static_cast<std::ptrdiff_t>(index));
  return stream;
}

std::vector<std::string> Before(const std::vector<std::string>& stream, std::size_t index) {
  return {stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(index)};
}

// Positions in the stream.
constexpr std::size_t kSetUp = 1;          // the first set-up command
constexpr std::size_t kFirstCursor = 14;   // the first "CURS?DISP:VAL"
constexpr std::size_t kSecondPrompt = 18;  // the second "press when ready"
constexpr std::size_t kLastBarStep = 27;   // the last step of the second bar

struct GpibError {
  int iberr;
  const char* title;
  const char* text;
};

// The whole error table, and codes outside it.
const GpibError kErrors[] = {
    {0, "GPIB ERROR # 0", "Operating system error."},
    {1, "GPIB ERROR # 1", "Function requires GPIB board to be CIC."},
    {2, "GPIB ERROR # 2", "No listener on write function."},
    {3, "GPIB ERROR # 3", "GPIB board not addressed correctly."},
    {4, "GPIB ERROR # 4", "Invalid argument to function call."},
    {5, "GPIB ERROR # 5", "GPIB board not system controller as required."},
    {6, "GPIB ERROR # 6", "I/O operation aborted - timeout."},
    {7, "GPIB ERROR # 7", "Non-existent GPIB board."},
    {8, "GPIB ERROR # 8", "Unknown error."},
    {9, "GPIB ERROR # 9", "Unknown error."},
    {10, "GPIB ERROR # 10", "Asynchronous I/O in progress."},
    {11, "GPIB ERROR # 11", "No capability for operation."},
    {12, "GPIB ERROR # 12", "File system error."},
    {13, "GPIB ERROR # 13", "Unknown error."},
    {14, "GPIB ERROR # 14", "GPIB bus eror."},
    {15, "GPIB ERROR # 15", "Serial poll status queue owerflow."},
    {16, "GPIB ERROR # 16", "SRQ stuck in on position."},
    {17, "GPIB ERROR # 17", "Unknown error."},
    {20, "GPIB ERROR # 20", "Table problem."},
    {21, "GPIB ERROR # 21", "Unknown error."},
    {-1, "GPIB ERROR #-1", "Unknown error."},
};

class BusFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bench_.Load());
    bench_.scope().SetReplies("CURS?DISP:VAL", {"0.49", "0.392"});
    bench_.SetScript("b1,b1,b1");
    bench_.ClearReceived();
    bench_.platform().boxes.clear();
  }

  // Runs the check; the exit code, -1 when the check returned.
  int RunCheck() {
    return bench_.Call([&] { bench_.form().Calibrator(); });
  }

  void Answer(MsgAnswer answer) { bench_.platform().answers.push_back(answer); }

  const std::vector<RecordedBox>& Boxes() { return bench_.platform().boxes; }

  void ExpectGpibBox(const RecordedBox& box, const GpibError& error) {
    EXPECT_EQ(box.title, error.title);
    EXPECT_EQ(box.prompt, error.text + kContinue);
    EXPECT_EQ(box.icon, MsgIcon::kExclamation);
    EXPECT_EQ(box.buttons, MsgButtons::kOkCancel);
  }

  void ExpectReadFailedBox(const RecordedBox& box) {
    EXPECT_EQ(box.title, "I/O Error");
    EXPECT_EQ(box.prompt, kReadFailed);
    EXPECT_EQ(box.icon, MsgIcon::kExclamation);
    EXPECT_EQ(box.buttons, MsgButtons::kOk);
  }

  CheckoutBench bench_;
};

TEST_F(BusFaultTest, WithoutFaultsTheCheckPasses) {
  EXPECT_EQ(RunCheck(), -1);
  EXPECT_THAT(bench_.received(), ElementsAreArray(Passing()));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(BusFaultTest, EveryErrorCodeOnAWriteShowsItsTextAndOkGoesOn) {
  for (const GpibError& error : kErrors) {
    SCOPED_TRACE(error.title);
    CheckoutBench bench;
    ASSERT_TRUE(bench.Load());
    bench.scope().SetReplies("CURS?DISP:VAL", {"0.49", "0.392"});
    bench.SetScript("b1,b1,b1");
    bench.ClearReceived();
    bench.platform().boxes.clear();
    // The set-up command is the check's second write.
    bench.bus().InjectFault({BusCall::kWrite, error.iberr, 1, 1, false});
    EXPECT_EQ(bench.Call([&] { bench.form().Calibrator(); }), -1);
    // The failed write never reached the instrument; everything else did.
    EXPECT_THAT(bench.received(), ElementsAreArray(Without(Passing(), kSetUp)));
    ASSERT_EQ(bench.platform().boxes.size(), 1u);
    const RecordedBox& box = bench.platform().boxes[0];
    EXPECT_EQ(box.title, error.title);
    EXPECT_EQ(box.prompt, error.text + kContinue);
    EXPECT_EQ(box.icon, MsgIcon::kExclamation);
    EXPECT_EQ(box.buttons, MsgButtons::kOkCancel);
    EXPECT_EQ(bench.ops().GpibErrorFlag, 0);  // the next write went through
  }
}

TEST_F(BusFaultTest, CancelAfterAWriteErrorEndsAtOnceWithoutFurtherTraffic) {
  bench_.bus().InjectFault({BusCall::kWrite, gpib::ENOL, kSetUp, 1, false});
  Answer(MsgAnswer::kCancel);
  const long reads = bench_.bus().calls(BusCall::kRead);
  EXPECT_EQ(RunCheck(), kExitFatal);
  EXPECT_THAT(bench_.received(), ElementsAreArray(Before(Passing(), kSetUp)));
  ASSERT_EQ(Boxes().size(), 1u);
  ExpectGpibBox(Boxes()[0], kErrors[2]);
  EXPECT_EQ(bench_.bus().calls(BusCall::kRead), reads);
}

TEST_F(BusFaultTest, AQueryWhoseWriteFailedIsEmptyAndReadsNothing) {
  // Every message before the first cursor query is one write ("EVE?" too).
  bench_.bus().InjectFault({BusCall::kWrite, gpib::EABO, kFirstCursor, 1, false});
  const long reads = bench_.bus().calls(BusCall::kRead);
  EXPECT_EQ(RunCheck(), -1);
  // The query's text never arrived, the reference reads as 0 and the check
  // fails; no "I/O Error" box, only the error box of the write.
  EXPECT_THAT(bench_.received(), ElementsAreArray(Without(Failing(), kFirstCursor)));
  ASSERT_EQ(Boxes().size(), 1u);
  ExpectGpibBox(Boxes()[0], kErrors[6]);
  // Only the two "EVE?" replies and the second cursor reading were read.
  EXPECT_EQ(bench_.bus().calls(BusCall::kRead) - reads, 3);
}

TEST_F(BusFaultTest, CancelOnTheQueryWriteEndsBeforeAnythingIsRead) {
  bench_.bus().InjectFault({BusCall::kWrite, gpib::EBUS, kFirstCursor, 1, false});
  Answer(MsgAnswer::kCancel);
  EXPECT_EQ(RunCheck(), kExitFatal);
  EXPECT_THAT(bench_.received(), ElementsAreArray(Before(Passing(), kFirstCursor)));
  ASSERT_EQ(Boxes().size(), 1u);
  ExpectGpibBox(Boxes()[0], kErrors[14]);
}

TEST_F(BusFaultTest, CancelInTheBarGraphStopsTheBar) {
  bench_.bus().InjectFault({BusCall::kWrite, gpib::EDVR, kLastBarStep, 1, false});
  Answer(MsgAnswer::kCancel);
  EXPECT_EQ(RunCheck(), kExitFatal);
  EXPECT_THAT(bench_.received(), ElementsAreArray(Before(Passing(), kLastBarStep)));
}

TEST_F(BusFaultTest, ReadErrorsAndTimeOutsShowTheReadBoxAndGiveTheEmptyReply) {
  for (bool timeout : {false, true}) {
    for (int iberr : {gpib::EABO, gpib::EDVR, gpib::EBUS}) {
      SCOPED_TRACE(std::string(timeout ? "time-out " : "error ") + std::to_string(iberr));
      CheckoutBench bench;
      ASSERT_TRUE(bench.Load());
      bench.scope().SetReplies("CURS?DISP:VAL", {"0.49", "0.392"});
      bench.SetScript("b1,b1,b1");
      bench.ClearReceived();
      bench.platform().boxes.clear();
      // The second read of the check is the first cursor reading.
      bench.bus().InjectFault({BusCall::kRead, iberr, 1, 1, timeout});
      const double start = bench.platform().clock().Elapsed();
      EXPECT_EQ(bench.Call([&] { bench.form().Calibrator(); }), -1);
      // The command stream is whole; the lost reference makes it fail.
      EXPECT_THAT(bench.received(), ElementsAreArray(Failing()));
      ASSERT_EQ(bench.platform().boxes.size(), 1u);
      EXPECT_EQ(bench.platform().boxes[0].title, "I/O Error");
      EXPECT_EQ(bench.platform().boxes[0].prompt, kReadFailed);
      EXPECT_EQ(bench.platform().boxes[0].buttons, MsgButtons::kOk);
      // A time-out costs the read's 3 s; an error costs nothing.
      const double took = bench.platform().clock().Elapsed() - start;
      EXPECT_EQ(took > 3.0 + 12.0, timeout) << took;
    }
  }
}

TEST_F(BusFaultTest, TimeOutsOnEveryReadLetTheCheckRunToItsEnd) {
  bench_.bus().InjectFault({BusCall::kRead, gpib::EABO, 0, -1, true});
  EXPECT_EQ(RunCheck(), -1);
  // The empty "EVE?" replies read as events without meaning, which go on like
  // a press; both cursor readings are lost.
  EXPECT_THAT(bench_.received(), ElementsAreArray(Failing()));
  ASSERT_EQ(Boxes().size(), 4u);
  for (const RecordedBox& box : Boxes()) ExpectReadFailedBox(box);
}

TEST_F(BusFaultTest, SerialPollErrorsInTheBezelWaitAskAndOkPollsAgain) {
  for (const GpibError& error : {kErrors[6], kErrors[15], kErrors[0], kErrors[8]}) {
    SCOPED_TRACE(error.title);
    CheckoutBench bench;
    ASSERT_TRUE(bench.Load());
    bench.scope().SetReplies("CURS?DISP:VAL", {"0.49", "0.392"});
    bench.SetScript("b1,b1,b1");
    bench.ClearReceived();
    bench.platform().boxes.clear();
    const long polls = bench.bus().calls(BusCall::kSerialPoll);
    bench.bus().InjectFault({BusCall::kSerialPoll, error.iberr, 0, 1, false});
    EXPECT_EQ(bench.Call([&] { bench.form().Calibrator(); }), -1);
    EXPECT_THAT(bench.received(), ElementsAreArray(Passing()));
    ASSERT_EQ(bench.platform().boxes.size(), 1u);
    EXPECT_EQ(bench.platform().boxes[0].title, error.title);
    EXPECT_EQ(bench.platform().boxes[0].prompt, error.text + kContinue);
    // The failed poll left no status byte of 0 or 16, so the first wait
    // polled once more: one poll there, then two in each later wait (the
    // request of the previous press, then 0).
    EXPECT_EQ(bench.bus().calls(BusCall::kSerialPoll) - polls, 2 + 2 + 2);
  }
}

TEST_F(BusFaultTest, CancelOnASerialPollErrorEndsBeforeTheEventIsRead) {
  // The second wait's poll.
  bench_.bus().InjectFault({BusCall::kSerialPoll, gpib::ESRQ, 1, 1, false});
  Answer(MsgAnswer::kCancel);
  EXPECT_EQ(RunCheck(), kExitFatal);
  EXPECT_THAT(bench_.received(), ElementsAreArray(Before(Passing(), kSecondPrompt + 1)));
  ASSERT_EQ(Boxes().size(), 1u);
  ExpectGpibBox(Boxes()[0], kErrors[16]);
}

TEST_F(BusFaultTest, WaitErrorsInTheBezelWaitAskAndOkReadsTheEvent) {
  // The first wait of the check is the bezel wait (no query came before it).
  bench_.bus().InjectFault({BusCall::kWait, gpib::EABO, 0, 1, false});
  EXPECT_EQ(RunCheck(), -1);
  ASSERT_EQ(Boxes().size(), 1u);
  ExpectGpibBox(Boxes()[0], kErrors[6]);
  // The event queue was still empty: "EVE?" answered 0, which goes on like a
  // press; the presses of the script then answer the later waits.
  EXPECT_THAT(bench_.received(), ElementsAreArray(Passing()));
}

TEST_F(BusFaultTest, CancelOnAWaitErrorEndsBeforeTheEventIsRead) {
  bench_.bus().InjectFault({BusCall::kWait, gpib::ECIC, 0, 1, false});
  Answer(MsgAnswer::kCancel);
  EXPECT_EQ(RunCheck(), kExitFatal);
  EXPECT_THAT(bench_.received(), ElementsAreArray(Before(Passing(), 5)));
  ASSERT_EQ(Boxes().size(), 1u);
  ExpectGpibBox(Boxes()[0], kErrors[1]);
}

TEST_F(BusFaultTest, AnErrorOfTheWaitBeforeAReadIsNotLookedAt) {
  // The second wait call is the one before the first "EVE?" read.
  bench_.bus().InjectFault({BusCall::kWait, gpib::EDVR, 1, 1, false});
  EXPECT_EQ(RunCheck(), -1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_THAT(bench_.received(), ElementsAreArray(Passing()));
}

TEST(BusFaultStartUpTest, DeviceClearErrorsDuringTheSearchAreNotReported) {
  CheckoutBench bench({.model = "2440", .address = 4, .extra_devices = {"2=silent"}});
  bench.bus().InjectFault({BusCall::kClear, gpib::EDVR, 0, -1, false});
  ASSERT_TRUE(bench.Load());
  EXPECT_NE(bench.form().dev, 0);
  EXPECT_EQ(bench.form().ModelText, "2440");
  // Two candidates, each cleared before it is asked; the silent one once more
  // after its failed exchange.
  EXPECT_GE(bench.bus().calls(BusCall::kClear), 3);
  // The search reports none of its failures.
  EXPECT_TRUE(bench.platform().boxes.empty());
}

TEST(BusFaultStartUpTest, CancelOnTheMenusFirstWriteEndsTheProgram) {
  CheckoutBench bench({.operator_script = "b5"});
  // Start-up writes "ID?" to the instrument twice (search and identity).
  bench.bus().InjectFault({BusCall::kWrite, gpib::ENOL, 2, 1, false});
  bench.platform().answers = {MsgAnswer::kCancel};
  EXPECT_EQ(bench.Run(), kExitFatal);
  EXPECT_THAT(bench.received(), ElementsAreArray({"ID?", "ID?"}));
  ASSERT_EQ(bench.platform().boxes.size(), 1u);
  EXPECT_EQ(bench.platform().boxes[0].title, "GPIB ERROR # 2");
}

TEST_F(BusFaultTest, AnInstrumentThatStopsAnsweringIsCancelledAtTheFirstBox) {
  // Silent from the set-up command on: the write finds no listener.
  const long total = bench_.bus().total_calls();
  bench_.bus().StopAnswering(1, 1);
  Answer(MsgAnswer::kCancel);
  EXPECT_EQ(RunCheck(), kExitFatal);
  EXPECT_THAT(bench_.received(), ElementsAreArray(Before(Passing(), kSetUp)));
  ASSERT_EQ(Boxes().size(), 1u);
  ExpectGpibBox(Boxes()[0], kErrors[2]);
  EXPECT_EQ(bench_.bus().total_calls() - total, 2);
}

// Plays a script and switches the instrument off at a given time.
class PlugPuller : public SimTechnician {
 public:
  PlugPuller(SimBus& bus, SimScope& scope, Clock& clock, const std::string& script, double at)
      : bus_(bus), script_(scope, clock, script), at_(at) {}
  std::optional<double> NextTimedAction() const override {
    std::optional<double> next = script_.NextTimedAction();
    if (!pulled_ && (!next || at_ < *next)) next = at_;
    return next;
  }
  bool ActIfDue(double now) override {
    if (!pulled_ && now >= at_) {
      bus_.StopAnswering(1);
      pulled_ = true;
      return true;
    }
    return script_.ActIfDue(now);
  }
  bool ActOnWait(double now) override { return script_.ActOnWait(now); }
  bool interactive() const override { return false; }

 private:
  SimBus& bus_;
  ScriptTechnician script_;
  double at_;
  bool pulled_ = false;
};

constexpr std::size_t kThirdBarStep = 11;

TEST_F(BusFaultTest, AnInstrumentSwitchedOffInTheBarGraphIsCancelledThere) {
  // The first press comes 3 s after the start, the bar's steps then follow a
  // second apart: at 4.6 s the second step is out and the third is not.
  const double start = bench_.platform().clock().Elapsed();
  PlugPuller technician(bench_.bus(), bench_.scope(), bench_.platform().clock(), "b1@3",
                        start + 4.6);
  bench_.bus().SetTechnician(&technician);
  Answer(MsgAnswer::kCancel);
  EXPECT_EQ(RunCheck(), kExitFatal);
  bench_.bus().SetTechnician(nullptr);
  EXPECT_THAT(bench_.received(), ElementsAreArray(Before(Passing(), kThirdBarStep)));
  ASSERT_EQ(Boxes().size(), 1u);
  ExpectGpibBox(Boxes()[0], kErrors[2]);
}

TEST_F(BusFaultTest, AnInstrumentSwitchedOffHearsNothingMoreWhenOkIsChosen) {
  // Every box answered OK: the writes find no listener, the cursor query is
  // lost with its write, the bezel wait's polls time out, and the wait for a
  // press that can no longer be seen lasts until the script is used up.
  const double start = bench_.platform().clock().Elapsed();
  PlugPuller technician(bench_.bus(), bench_.scope(), bench_.platform().clock(), "b1@3,b1@3,b1@3",
                        start + 4.6);
  bench_.bus().SetTechnician(&technician);
  EXPECT_EQ(RunCheck(), kExitOperatorDone);
  bench_.bus().SetTechnician(nullptr);
  EXPECT_THAT(bench_.received(), ElementsAreArray(Before(Passing(), kThirdBarStep)));
  // Three bar steps, the query, the four commands up to the second prompt:
  // no listener; then the polls of the wait: time-outs.
  ASSERT_GT(Boxes().size(), 8u);
  for (std::size_t i = 0; i < Boxes().size(); ++i) {
    ExpectGpibBox(Boxes()[i], i < 8 ? kErrors[2] : kErrors[6]);
  }
  EXPECT_EQ(bench_.ops().GpibErrorFlag, -1);
}

}  // namespace
}  // namespace kc
