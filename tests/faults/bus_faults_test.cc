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
#include "support/check_harness.h"
#include "support/checkout_bench.h"
#include "support/gpib_errors.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;

// The calibrator check from its title to its last prompt, as its transcripts
// write it: passing (the reference reads 490 mV, the calibrator 392 mV), and
// failing when the gain reference is lost (an empty reply reads as 0).
std::vector<std::string> Passing() {
  return ReadTranscript("calibrator").sent;
}
std::vector<std::string> Failing() {
  return ReadTranscript("calibrator-lost-reference").sent;
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

const std::string kReadBox = "I/O Error: Read cycle failed\nOperation aborted.";

std::string GpibBox(int iberr) {
  const GpibErrorText& entry = GpibErrorFor(iberr);
  return entry.title + std::string(": ") + entry.text + kGpibErrorAsk;
}

// The calibrator check on a loaded bench: the reference reads 490 mV and the
// calibrator 392 mV; the technician presses as the check asks.
struct CalibratorRun {
  CalibratorRun() {
    EXPECT_TRUE(bench.Load());
    bench.scope().SetReplies("CURS?DISP:VAL", {"0.49", "0.392"});
    bench.SetScript("b1,b1,b1");
    bench.ClearReceived();
    bench.platform().boxes.clear();
  }
  // Runs the check with the boxes answered `answer`; the exit code, -1 when
  // the check returned.
  int Check(MsgAnswer answer = MsgAnswer::kOk) {
    bench.platform().default_answer = answer;
    return bench.Call([&] { bench.form().Calibrator(); });
  }
  // The boxes shown, "TITLE: prompt" each.
  std::vector<std::string> Boxes() {
    std::vector<std::string> boxes;
    for (const RecordedBox& box : bench.platform().boxes) {
      EXPECT_EQ(box.icon, MsgIcon::kExclamation);
      boxes.push_back(box.title + ": " + box.prompt);
    }
    return boxes;
  }

  CheckoutBench bench;
};

// One fault in the check, the boxes answered OK or Cancel: the stream, the
// boxes and the end. Cancel ends the program at once, and the instrument
// hears nothing more.
struct OneFault {
  const char* name;
  BusFault fault;
  MsgAnswer answer;
  int code;
  std::vector<std::string> stream;
  std::vector<std::string> boxes;
};

class OneFaultTest : public ::testing::TestWithParam<OneFault> {};

TEST_P(OneFaultTest, StreamBoxesAndEnd) {
  const OneFault& c = GetParam();
  CalibratorRun run;
  run.bench.bus().InjectFault(c.fault);
  EXPECT_EQ(run.Check(c.answer), c.code);
  EXPECT_THAT(run.bench.received(), ElementsAreArray(c.stream));
  EXPECT_EQ(run.Boxes(), c.boxes);
}

const BusCall kWrite = BusCall::kWrite;
const BusCall kPoll = BusCall::kSerialPoll;
const BusCall kWait = BusCall::kWait;
const MsgAnswer kOk = MsgAnswer::kOk;
const MsgAnswer kCancel = MsgAnswer::kCancel;

INSTANTIATE_TEST_SUITE_P(
    Calibrator, OneFaultTest,
    ::testing::Values(
        OneFault{"None", {kWrite, 0, 0, 0, false}, kOk, -1, Passing(), {}},
        // The query's text never arrived: the reference reads as 0 and the
        // check fails; only the write's box, no read box.
        OneFault{"QueryWriteOk",
                 {kWrite, gpib::EABO, kFirstCursor, 1, false},
                 kOk,
                 -1,
                 Without(Failing(), kFirstCursor),
                 {GpibBox(gpib::EABO)}},
        // The first wait of the check is the bezel wait. The event queue is
        // still empty: "EVE?" answers 0, which goes on like a press.
        OneFault{"BezelWaitOk",
                 {kWait, gpib::EABO, 0, 1, false},
                 kOk,
                 -1,
                 Passing(),
                 {GpibBox(gpib::EABO)}},
        // The wait before a read is not looked at.
        OneFault{"WaitBeforeRead", {kWait, gpib::EDVR, 1, 1, false}, kOk, -1, Passing(), {}},
        // Every read times out: the empty "EVE?" replies go on like a press,
        // both cursor readings are lost.
        OneFault{"EveryReadTimesOut",
                 {BusCall::kRead, gpib::EABO, 0, -1, true},
                 kOk,
                 -1,
                 Failing(),
                 std::vector<std::string>(4, kReadBox)},
        // The failed write never reached the instrument; everything else did.
        // (Every error code's box: tests/link/instrument_ops_test.cc.)
        OneFault{"SetUpWriteOk",
                 {kWrite, gpib::ENOL, kSetUp, 1, false},
                 kOk,
                 -1,
                 Without(Passing(), kSetUp),
                 {GpibBox(gpib::ENOL)}},
        OneFault{"CancelAtTheSetUp",
                 {kWrite, gpib::ENOL, kSetUp, 1, false},
                 kCancel,
                 kExitFatal,
                 Before(Passing(), kSetUp),
                 {GpibBox(gpib::ENOL)}},
        OneFault{"CancelAtTheQuery",
                 {kWrite, gpib::EBUS, kFirstCursor, 1, false},
                 kCancel,
                 kExitFatal,
                 Before(Passing(), kFirstCursor),
                 {GpibBox(gpib::EBUS)}},
        OneFault{"CancelInTheBar",
                 {kWrite, gpib::EDVR, kLastBarStep, 1, false},
                 kCancel,
                 kExitFatal,
                 Before(Passing(), kLastBarStep),
                 {GpibBox(gpib::EDVR)}},
        // The second wait's poll: before its event is read.
        OneFault{"CancelAtAPoll",
                 {kPoll, gpib::ESRQ, 1, 1, false},
                 kCancel,
                 kExitFatal,
                 Before(Passing(), kSecondPrompt + 1),
                 {GpibBox(gpib::ESRQ)}},
        OneFault{"CancelAtAWait",
                 {kWait, gpib::ECIC, 0, 1, false},
                 kCancel,
                 kExitFatal,
                 Before(Passing(), 5),
                 {GpibBox(gpib::ECIC)}}),
    [](const ::testing::TestParamInfo<OneFault>& param) { return std::string(param.param.name); });

TEST(BusFaultTest, AnInstrumentThatStopsAnsweringIsCancelledAtTheFirstBox) {
  // Silent from the set-up command on: the write finds no listener.
  CalibratorRun run;
  const long total = run.bench.bus().total_calls();
  run.bench.bus().StopAnswering(1, 1);
  EXPECT_EQ(run.Check(kCancel), kExitFatal);
  EXPECT_THAT(run.bench.received(), ElementsAreArray(Before(Passing(), kSetUp)));
  EXPECT_EQ(run.Boxes(), std::vector<std::string>{GpibBox(gpib::ENOL)});
  EXPECT_EQ(run.bench.bus().total_calls() - total, 2);
}

TEST(BusFaultTest, ReadErrorsAndTimeOutsShowTheReadBoxAndGiveTheEmptyReply) {
  for (bool timeout : {false, true}) {
    SCOPED_TRACE(timeout ? "time-out" : "error");
    CalibratorRun run;
    // The second read of the check is the first cursor reading.
    run.bench.bus().InjectFault({BusCall::kRead, timeout ? gpib::EABO : gpib::EDVR, 1, 1, timeout});
    const double start = run.bench.platform().clock().Elapsed();
    EXPECT_EQ(run.Check(), -1);
    // The command stream is whole; the lost reference makes it fail.
    EXPECT_THAT(run.bench.received(), ElementsAreArray(Failing()));
    EXPECT_EQ(run.Boxes(), std::vector<std::string>{kReadBox});
    // A time-out costs the read's 3 s; an error costs nothing.
    const double took = run.bench.platform().clock().Elapsed() - start;
    EXPECT_EQ(took > 3.0 + 12.0, timeout) << took;
  }
}

TEST(BusFaultTest, SerialPollErrorsInTheBezelWaitAskAndOkPollsAgain) {
  for (int iberr : {gpib::EABO, gpib::ESTB, gpib::EDVR, gpib::EDMA}) {
    SCOPED_TRACE(iberr);
    CalibratorRun run;
    const long polls = run.bench.bus().calls(kPoll);
    run.bench.bus().InjectFault({kPoll, iberr, 0, 1, false});
    EXPECT_EQ(run.Check(), -1);
    EXPECT_THAT(run.bench.received(), ElementsAreArray(Passing()));
    EXPECT_EQ(run.Boxes(), std::vector<std::string>{GpibBox(iberr)});
    // The failed poll left no status byte of 0 or 16, so the first wait
    // polled once more: one poll there, then two in each later wait (the
    // request of the previous press, then 0).
    EXPECT_EQ(run.bench.bus().calls(kPoll) - polls, 2 + 2 + 2);
  }
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

TEST(BusFaultTest, AnInstrumentSwitchedOffInTheBarGraph) {
  // The first press comes 3 s after the start, the bar's steps then follow a
  // second apart: at 4.6 s the second step is out and the third is not.
  // Cancel ends the check there. With OK the writes find no listener, the
  // cursor query is lost with its write, the bezel wait's polls time out, and
  // the wait for a press that can no longer be seen lasts until the script is
  // used up; the instrument hears nothing more either way.
  constexpr std::size_t kThirdBarStep = 11;
  for (MsgAnswer answer : {kCancel, kOk}) {
    CalibratorRun run;
    CheckoutBench& bench = run.bench;
    PlugPuller technician(bench.bus(), bench.scope(), bench.platform().clock(), "b1@3,b1@3,b1@3",
                          bench.platform().clock().Elapsed() + 4.6);
    bench.bus().SetTechnician(&technician);
    EXPECT_EQ(run.Check(answer), answer == kCancel ? kExitFatal : kExitOperatorDone);
    bench.bus().SetTechnician(nullptr);
    EXPECT_THAT(bench.received(), ElementsAreArray(Before(Passing(), kThirdBarStep)));
    // Three bar steps, the query, the four commands up to the second prompt:
    // no listener; then the polls of the wait: time-outs.
    std::vector<std::string> boxes = run.Boxes();
    if (answer == kCancel) {
      EXPECT_EQ(boxes, std::vector<std::string>{GpibBox(gpib::ENOL)});
      continue;
    }
    ASSERT_GT(boxes.size(), 8u);
    for (std::size_t i = 0; i < boxes.size(); ++i)
      EXPECT_EQ(boxes[i], GpibBox(i < 8 ? gpib::ENOL : gpib::EABO)) << i;
    EXPECT_EQ(bench.ops().GpibErrorFlag, -1);
  }
}

}  // namespace
}  // namespace kc
