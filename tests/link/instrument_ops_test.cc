#include "link/instrument_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/fake_driver.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using linktest::Error;
using linktest::FakeDriver;
using linktest::Found;
using linktest::Ok;
using linktest::Reply;
using linktest::Value;
using Calls = std::vector<std::string>;

constexpr int kTimeoutStatus = gpib::ERR | gpib::TIMO | gpib::CMPL;
const char kAllAddresses[] =
    "FindLstn(0,[0x0,0x1,0x2,0x3,0x4,0x5,0x6,0x7,0x8,0x9,0xA,0xB,0xC,0xD,0xE,0xF,0x10,0x11,0x12,"
    "0x13,0x14,0x15,0x16,0x17,0x18,0x19,0x1A,0x1B,0x1C,0x1D,0x1E,0xFFFF],15)";
const std::string kNotFoundTitle =
    "Expected Id-response from device not found" + std::string(40, ' ');
const char kErrorTail[] = "\nSelect OK to continue or Cancel to terminate program.";

class InstrumentOpsTest : public ::testing::Test {
 protected:
  explicit InstrumentOpsTest(double start = 9 * 3600.0)
      : platform_(start), driver_(&platform_.clock()), gpib_(driver_), ops_(gpib_, platform_) {}

  // The driver calls after the registration (which the binding tests cover).
  Calls Traffic() const {
    Calls calls = driver_.calls;
    if (!calls.empty() && calls.front() == "Register") calls.erase(calls.begin());
    return calls;
  }

  // Runs `body`; the exit code it ended the program with, or -1.
  template <typename F>
  int EndCode(F&& body) {
    try {
      body();
    } catch (const ProgramEnd& end) {
      return end.code;
    }
    return -1;
  }

  // Discovery with listeners at `addresses` (entry 0 is the controller).
  void Discover(std::vector<int> addresses) {
    addresses.insert(addresses.begin(), 0);
    driver_.Script("FindLstn", Found(addresses));
    ops_.FindListeners(1);
    driver_.Clear();
  }

  void ExpectBox(std::size_t index, const std::string& prompt, const std::string& title,
                 MsgIcon icon, MsgButtons buttons) {
    ASSERT_LT(index, platform_.boxes.size());
    const RecordedBox& box = platform_.boxes[index];
    EXPECT_EQ(box.prompt, prompt);
    EXPECT_EQ(box.title, title);
    EXPECT_EQ(box.icon, icon);
    EXPECT_EQ(box.buttons, buttons);
  }

  TestPlatform platform_;
  FakeDriver driver_;
  GpibBinding gpib_;
  InstrumentOps ops_;
  Integer dev_ = 7;
};

// ---- WriteDev, QueryDev, ReadDev -------------------------------------------

TEST_F(InstrumentOpsTest, WriteSendsTheCommandAsItStandsAndClearsTheErrorFlag) {
  ops_.GpibErrorFlag = -1;
  ops_.WriteDev(dev_, "MESS 9:\"\\B5 ATTENUATOR\"");
  EXPECT_EQ(Traffic(), (Calls{"ibwrt(7,\"MESS 9:\"\\B5 ATTENUATOR\"\")"}));
  EXPECT_EQ(ops_.GpibErrorFlag, 0);
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(InstrumentOpsTest, WriteErrorAcknowledgedWithOkSetsTheFlag) {
  driver_.Script("ibwrt", Error(gpib::ENOL));
  ops_.WriteDev(dev_, "BELL");
  ExpectBox(0, std::string("No listener on write function.") + kErrorTail, "GPIB ERROR # 2",
            MsgIcon::kExclamation, MsgButtons::kOkCancel);
  EXPECT_EQ(ops_.GpibErrorFlag, -1);
}

TEST_F(InstrumentOpsTest, QueryWritesWaitsATenthAndReads) {
  driver_.Script("ibrd", Reply("452\n"));
  EXPECT_EQ(ops_.QueryDev(dev_, "EVE?"), "452");
  EXPECT_EQ(Traffic(), (Calls{"ibwrt(7,\"EVE?\")", "ibask(7,3)", "ibwait(7,0x4100)", "ibrd(7,512)",
                              "ibtmo(7,12)"}));
  const double pause = driver_.times[4] - driver_.times[1];
  EXPECT_GE(pause, 0.099);
  EXPECT_LT(pause, 0.11);
  EXPECT_GT(platform_.pumps, 0);
}

TEST_F(InstrumentOpsTest, QueryAfterAcknowledgedWriteErrorReadsNothing) {
  driver_.Script("ibwrt", Error(gpib::EABO, gpib::ERR | gpib::TIMO));
  EXPECT_EQ(ops_.QueryDev(dev_, "ID?"), "");
  EXPECT_EQ(Traffic(), (Calls{"ibwrt(7,\"ID?\")"}));
  ASSERT_EQ(platform_.boxes.size(), 1u);  // no "I/O Error" box
  ExpectBox(0, std::string("I/O operation aborted - timeout.") + kErrorTail, "GPIB ERROR # 6",
            MsgIcon::kExclamation, MsgButtons::kOkCancel);

  // The next query writes afresh and reads again.
  driver_.Clear();
  driver_.Script("ibrd", Reply("ID TEK/2440,V81.1\r\n"));
  EXPECT_EQ(ops_.QueryDev(dev_, "ID?"), "ID TEK/2440,V81.1");
  EXPECT_EQ(Traffic(), (Calls{"ibwrt(7,\"ID?\")", "ibask(7,3)", "ibwait(7,0x4100)", "ibrd(7,512)",
                              "ibtmo(7,12)"}));
}

TEST_F(InstrumentOpsTest, CancelInTheErrorBoxEndsAtOnce) {
  platform_.answers = {MsgAnswer::kCancel};
  driver_.Script("ibwrt", Error(gpib::EBUS));
  EXPECT_EQ(EndCode([&] { ops_.QueryDev(dev_, "ID?"); }), kExitFatal);
  EXPECT_EQ(Traffic(), (Calls{"ibwrt(7,\"ID?\")"}));
  EXPECT_EQ(platform_.pumps, 0);
  ExpectBox(0, std::string("GPIB bus eror.") + kErrorTail, "GPIB ERROR # 14", MsgIcon::kExclamation,
            MsgButtons::kOkCancel);
}

TEST_F(InstrumentOpsTest, NoDescriptorEndsTheProgramWithoutDriverCalls) {
  Integer none = 0;
  const std::string prompt = "Device not configured.\n\nCorrect problem and restart.";
  EXPECT_EQ(EndCode([&] { ops_.WriteDev(none, "BELL"); }), kExitFatal);
  EXPECT_EQ(EndCode([&] { ops_.QueryDev(none, "ID?"); }), kExitFatal);
  EXPECT_EQ(EndCode([&] { ops_.ReadDev(none); }), kExitFatal);
  EXPECT_TRUE(driver_.calls.empty());
  ASSERT_EQ(platform_.boxes.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    ExpectBox(i, prompt, "Device Error", MsgIcon::kCritical, MsgButtons::kOk);
  }
}

TEST_F(InstrumentOpsTest, ReadJoinsChunksAndLosesTheBlanksAtTheirEdges) {
  driver_.Script("ibrd", Reply("ABC ", gpib::CMPL));
  driver_.Script("ibrd", Reply(" DEF"));
  EXPECT_EQ(ops_.ReadDev(dev_), "ABCDEF");
  EXPECT_EQ(Traffic(), (Calls{"ibask(7,3)", "ibwait(7,0x4100)", "ibrd(7,512)", "ibwait(7,0x4100)",
                              "ibrd(7,512)", "ibtmo(7,12)"}));
  for (const std::string& buffer : driver_.buffers_seen) EXPECT_EQ(buffer, std::string(512, ' '));
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(InstrumentOpsTest, ReadSetsTheReadTimeoutAndRestoresTheOldOne) {
  driver_.Script("ibask", Value(11));
  driver_.Script("ibrd", Reply("1.5E-3"));
  EXPECT_EQ(ops_.ReadDev(dev_), "1.5E-3");
  EXPECT_EQ(Traffic(),
            (Calls{"ibask(7,3)", "ibtmo(7,12)", "ibwait(7,0x4100)", "ibrd(7,512)", "ibtmo(7,11)"}));
}

TEST_F(InstrumentOpsTest, ReadDropsExactlyTheLineEnd) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ABC\r\n", "ABC"}, {"ABC\n", "ABC"},       {"\n", ""},         {"\r\n", ""},
      {"ABC", "ABC"},     {"  ABC \r\n", "ABC "}, {"A\nB\n", "A\nB"}, {"ABC\r", "ABC"},
  };
  for (const auto& [bytes, reply] : cases) {
    SCOPED_TRACE(bytes);
    driver_.Script("ibrd", Reply(bytes));
    EXPECT_EQ(ops_.ReadDev(dev_), reply);
  }
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(InstrumentOpsTest, TimeoutAfterAChunkGivesTheIoErrorBoxAndNothing) {
  ops_.GpibErrorFlag = -1;  // not touched by a failed read
  driver_.Script("ibask", Value(11));
  driver_.Script("ibrd", Reply("ABC", gpib::CMPL));
  driver_.Script("ibrd", Error(gpib::EABO, kTimeoutStatus));
  EXPECT_EQ(ops_.ReadDev(dev_), "");
  EXPECT_EQ(Traffic(), (Calls{"ibask(7,3)", "ibtmo(7,12)", "ibwait(7,0x4100)", "ibrd(7,512)",
                              "ibwait(7,0x4100)", "ibrd(7,512)", "ibtmo(7,11)"}));
  ASSERT_EQ(platform_.boxes.size(), 1u);
  ExpectBox(0, "Read cycle failed\nOperation aborted.", "I/O Error", MsgIcon::kExclamation,
            MsgButtons::kOk);
  EXPECT_EQ(ops_.GpibErrorFlag, -1);
}

TEST_F(InstrumentOpsTest, ReadEndsOnABusErrorAndOnAReplyThatNeverEnds) {
  // ERR without TIMO and without END: one attempt, not an endless loop.
  driver_.Script("ibrd", Error(gpib::ECIC));
  EXPECT_EQ(ops_.ReadDev(dev_), "");
  EXPECT_EQ(Traffic(), (Calls{"ibask(7,3)", "ibwait(7,0x4100)", "ibrd(7,512)", "ibtmo(7,12)"}));

  // Chunks that keep coming without END: the read gives up.
  driver_.Clear();
  EXPECT_EQ(ops_.ReadDev(dev_), "");
  long reads = std::count(driver_.calls.begin(), driver_.calls.end(), "ibrd(7,512)");
  EXPECT_GT(reads, 100);
  EXPECT_LT(reads, 1000);
  EXPECT_EQ(driver_.calls.back(), "ibtmo(7,12)");
  ASSERT_EQ(platform_.boxes.size(), 2u);
  EXPECT_EQ(platform_.boxes[0].title, "I/O Error");
  EXPECT_EQ(platform_.boxes[1].title, "I/O Error");
}

// ---- CheckGpibError --------------------------------------------------------

TEST_F(InstrumentOpsTest, ErrorBoxTextsAndTitles) {
  const std::vector<std::pair<int, std::string>> known = {
      {0, "Operating system error."},
      {1, "Function requires GPIB board to be CIC."},
      {2, "No listener on write function."},
      {3, "GPIB board not addressed correctly."},
      {4, "Invalid argument to function call."},
      {5, "GPIB board not system controller as required."},
      {6, "I/O operation aborted - timeout."},
      {7, "Non-existent GPIB board."},
      {10, "Asynchronous I/O in progress."},
      {11, "No capability for operation."},
      {12, "File system error."},
      {14, "GPIB bus eror."},
      {15, "Serial poll status queue owerflow."},
      {16, "SRQ stuck in on position."},
      {20, "Table problem."},
  };
  std::vector<std::pair<int, std::string>> cases = known;
  for (int code : {8, 9, 13, 17, 18, 19, 21, 300, -1}) cases.emplace_back(code, "Unknown error.");

  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [code, text] = cases[i];
    SCOPED_TRACE(code);
    ops_.GpibErrorFlag = 0;
    gpib_.ibsta = static_cast<Integer>(gpib::ERR | gpib::CMPL);
    gpib_.iberr = static_cast<Integer>(code);
    ops_.CheckGpibError();
    EXPECT_EQ(ops_.GpibErrorFlag, -1);
    const std::string number = code >= 0 ? " " + std::to_string(code) : std::to_string(code);
    ExpectBox(i, text + kErrorTail, "GPIB ERROR #" + number, MsgIcon::kExclamation,
              MsgButtons::kOkCancel);
  }
  EXPECT_EQ(platform_.boxes[6].title, "GPIB ERROR # 6");
  EXPECT_EQ(platform_.boxes.back().title, "GPIB ERROR #-1");
}

TEST_F(InstrumentOpsTest, NoErrBitMeansNoBoxAndNoChange) {
  gpib_.ibsta = static_cast<Integer>(gpib::TIMO | gpib::END | gpib::CMPL);
  gpib_.iberr = gpib::EABO;
  ops_.GpibErrorFlag = -1;
  ops_.CheckGpibError();
  EXPECT_EQ(ops_.GpibErrorFlag, -1);
  ops_.GpibErrorFlag = 0;
  ops_.CheckGpibError();
  EXPECT_EQ(ops_.GpibErrorFlag, 0);
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(InstrumentOpsTest, FailedRegistrationShowsAsOperatingSystemError) {
  driver_.register_results = {7};
  ops_.WriteDev(dev_, "BELL");
  EXPECT_EQ(driver_.calls, (Calls{"Register", "ibwrt(7,\"BELL\")"}));
  ExpectBox(0, std::string("Operating system error.") + kErrorTail, "GPIB ERROR # 0",
            MsgIcon::kExclamation, MsgButtons::kOkCancel);
  EXPECT_EQ(ops_.GpibErrorFlag, -1);
}

// ---- Delay -----------------------------------------------------------------

TEST_F(InstrumentOpsTest, DelayWaitsWithEventsPumped) {
  ops_.Delay(1.0f);
  EXPECT_NEAR(platform_.clock().Elapsed(), 1.0, 0.01);
  EXPECT_GT(platform_.pumps, 900);

  // A wait that has already run out pumps nothing.
  const int pumps = platform_.pumps;
  ops_.Delay(0.0f);
  ops_.Delay(-3.0f);
  EXPECT_EQ(platform_.pumps, pumps);
}

TEST_F(InstrumentOpsTest, DelayRunsACloseRequestInTheMiddle) {
  double closed_at = -1;
  platform_.SetCloseHandler([&] { closed_at = platform_.clock().Elapsed(); });
  platform_.close_at = 0.5;
  EXPECT_EQ(EndCode([&] { ops_.Delay(2.0f); }), kExitClosed);
  EXPECT_NEAR(closed_at, 0.5, 0.01);
}

class DelayAtMidnightTest : public InstrumentOpsTest {
 protected:
  DelayAtMidnightTest() : InstrumentOpsTest(23 * 3600 + 59 * 60 + 58) {}
};

TEST_F(DelayAtMidnightTest, FiveSecondsFrom235958EndAt000003) {
  platform_.close_at = 10;  // ends a wait that missed midnight instead of hanging
  EXPECT_EQ(EndCode([&] { ops_.Delay(5.0f); }), -1);
  EXPECT_NEAR(platform_.clock().Elapsed(), 5.0, 0.02);
  EXPECT_NEAR(platform_.clock().SecondsSinceMidnight(), 3.0, 0.02);
}

// ---- FindListeners ---------------------------------------------------------

TEST_F(InstrumentOpsTest, DiscoveryKeepsTheInstrumentsAfterTheController) {
  ops_.Listeners.fill(99);
  ops_.FreeListeners.fill(99);
  driver_.Script("FindLstn", Found({0, 1, 5, 9}));
  ops_.FindListeners(1);
  EXPECT_EQ(Traffic(), (Calls{"SendIFC(0)", "ibsre(0,1)", kAllAddresses}));
  const std::array<Integer, 15> expected = {3, 1, 5, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ops_.Listeners, expected);
  EXPECT_EQ(ops_.FreeListeners, expected);
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(InstrumentOpsTest, FourteenListenersFillTheTable) {
  driver_.Script("FindLstn", Found({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
  ops_.FindListeners(1);
  const std::array<Integer, 15> expected = {14, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  EXPECT_EQ(ops_.Listeners, expected);
  EXPECT_EQ(ops_.FreeListeners, expected);
}

TEST_F(InstrumentOpsTest, TooManyListenersEndsTheProgram) {
  driver_.Script(
      "FindLstn",
      linktest::Outcome{
          gpib::ERR, gpib::ETAB, {}, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}});
  EXPECT_EQ(EndCode([&] { ops_.FindListeners(1); }), kExitFatal);
  ExpectBox(0,
            "Too many listeners found.\nMax 14 listeners allowed.\n\nCorrect problem and restart.",
            "Initialization Error 20", MsgIcon::kCritical, MsgButtons::kOk);
  EXPECT_EQ(ops_.Listeners, (std::array<Integer, 15>{}));
  EXPECT_EQ(ops_.FreeListeners, (std::array<Integer, 15>{}));
}

TEST_F(InstrumentOpsTest, NoListenerByMode) {
  // Start-up (mode 1): box and end.
  driver_.Script("FindLstn", Error(gpib::EBUS));
  EXPECT_EQ(EndCode([&] { ops_.FindListeners(1); }), kExitFatal);
  ExpectBox(0, "No listeners found.\n\nCorrect problem and restart.", "Initialization Error 14",
            MsgIcon::kCritical, MsgButtons::kOk);

  // Mode -1: nothing shown, program goes on, tables zero even if the driver
  // wrote into its result list.
  driver_.Script("FindLstn", linktest::Outcome{gpib::ERR, gpib::EBUS, {}, 0, {0, 4}});
  EXPECT_EQ(EndCode([&] { ops_.FindListeners(-1); }), -1);
  EXPECT_EQ(platform_.boxes.size(), 1u);
  EXPECT_EQ(ops_.Listeners, (std::array<Integer, 15>{}));
  EXPECT_EQ(ops_.FreeListeners, (std::array<Integer, 15>{}));

  // Mode 0: the box without the restart advice, and the program goes on.
  driver_.Script("FindLstn", Error(gpib::EBUS));
  EXPECT_EQ(EndCode([&] { ops_.FindListeners(0); }), -1);
  ExpectBox(1, "No listeners found.", "Initialization Error 14", MsgIcon::kCritical,
            MsgButtons::kOk);
}

TEST_F(InstrumentOpsTest, OtherDiscoveryErrorsShowOnlyTheAdvice) {
  driver_.Script("FindLstn", Error(gpib::ENEB));
  EXPECT_EQ(EndCode([&] { ops_.FindListeners(0); }), -1);
  driver_.Script("FindLstn", Error(gpib::ECIC));
  EXPECT_EQ(EndCode([&] { ops_.FindListeners(1); }), kExitFatal);
  ExpectBox(0, "\n\nCorrect problem and restart.", "Initialization Error 7", MsgIcon::kCritical,
            MsgButtons::kOk);
  ExpectBox(1, "\n\nCorrect problem and restart.", "Initialization Error 1", MsgIcon::kCritical,
            MsgButtons::kOk);
}

// ---- FindDevice, DeviceAddress ---------------------------------------------

TEST_F(InstrumentOpsTest, SilentMissThenPlainSearchReusesTheDescriptor) {
  ops_.DefaultTimeout = 12;
  Discover({1, 5});
  driver_.Script("ibdev", Value(32));
  driver_.Script("ibrd", Reply("ID SONY/TEK,AM503\r\n"));
  driver_.Script("ibrd", Reply("ID TEK/2432A,V81.1\r\n"));
  std::string query = "ID?";
  std::string expected = "!244";
  EXPECT_EQ(ops_.FindDevice(query, expected), 0);
  EXPECT_EQ(expected, "244");
  EXPECT_TRUE(platform_.boxes.empty());
  EXPECT_EQ(Traffic(), (Calls{"ibdev(0,1,0,11,1,0)", "ibpad(32,1)", "ibclr(32)", "ibrsp(32)",
                              "ibwrt(32,\"ID?\")", "ibrd(32,256)", "ibpad(32,5)", "ibclr(32)",
                              "ibrsp(32)", "ibwrt(32,\"ID?\")", "ibrd(32,256)"}));
  EXPECT_EQ(ops_.SpareDevice, (std::array<Integer, 2>{-1, 32}));
  for (const std::string& buffer : driver_.buffers_seen) EXPECT_EQ(buffer, std::string(256, ' '));

  driver_.Clear();
  driver_.Script("ibrd", Reply("ID SONY/TEK,AM503\r\n"));
  driver_.Script("ibrd", Reply("ID TEK/2432A,V81.1\r\n"));
  expected = "243";
  EXPECT_EQ(ops_.FindDevice(query, expected), 32);
  EXPECT_EQ(Traffic(), (Calls{"ibpad(32,1)", "ibclr(32)", "ibrsp(32)", "ibwrt(32,\"ID?\")",
                              "ibrd(32,256)", "ibpad(32,5)", "ibclr(32)", "ibrsp(32)",
                              "ibwrt(32,\"ID?\")", "ibrd(32,256)", "ibtmo(32,12)"}));
  EXPECT_EQ(ops_.FreeListeners[0], 1);
  EXPECT_EQ(ops_.FreeListeners[1], 1);
  EXPECT_EQ(ops_.FreeListeners[2], 0);
  EXPECT_EQ(ops_.ListenerDevice[2], 32);
  EXPECT_EQ(ops_.SpareDevice[0], 0);

  Integer dev = 32;
  EXPECT_EQ(ops_.DeviceAddress(dev), 5);
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(InstrumentOpsTest, MissShowsWhatEachListenerSaidAndEnds) {
  Discover({1, 5});
  driver_.Script("ibdev", Value(32));
  driver_.Script("ibrd", Reply("ID SONY/TEK,AM503\r\n"));
  driver_.Script("ibrd", Error(gpib::EABO, kTimeoutStatus));  // a silent device
  std::string query = "ID?";
  std::string expected = "243";
  EXPECT_EQ(EndCode([&] { ops_.FindDevice(query, expected); }), kExitFatal);
  EXPECT_EQ(Traffic(), (Calls{"ibdev(0,1,0,11,1,0)", "ibpad(32,1)", "ibclr(32)", "ibrsp(32)",
                              "ibwrt(32,\"ID?\")", "ibrd(32,256)", "ibpad(32,5)", "ibclr(32)",
                              "ibrsp(32)", "ibwrt(32,\"ID?\")", "ibrd(32,256)", "ibclr(32)"}));
  ExpectBox(0,
            "ID Query: ID?\n\nExpected Response: 243\n\nReceived Response(s):\n\n"
            "ID SONY/TEK,AM503\n\nCorrect the problem and restart. Program will end.",
            kNotFoundTitle, MsgIcon::kCritical, MsgButtons::kOk);
  EXPECT_EQ(ops_.SpareDevice, (std::array<Integer, 2>{-1, 32}));
}

TEST_F(InstrumentOpsTest, GoOnMarkerKeepsTheProgramRunning) {
  Discover({3});
  driver_.Script("ibrd", Reply("ID TEK/DM5120"));
  std::string query = "ID?!";
  std::string expected = "2440";
  EXPECT_EQ(EndCode([&] { EXPECT_EQ(ops_.FindDevice(query, expected), 0); }), -1);
  EXPECT_EQ(query, "ID?");
  ExpectBox(0,
            "ID Query: ID?\n\nExpected Response: 2440\n\nReceived Response(s):\nID TEK/DM5120\n\n"
            "Correct the problem and retry. Program will continue.",
            kNotFoundTitle, MsgIcon::kCritical, MsgButtons::kOk);
}

TEST_F(InstrumentOpsTest, NoClearAndSettleMarkers) {
  ops_.DefaultTimeout = 12;
  Discover({4});
  driver_.Script("ibdev", Value(40));
  driver_.Script("ibrd", Reply("ID TEK/2440,V81.1"));
  std::string query = "!ID?";
  std::string expected = "?2440";
  EXPECT_EQ(ops_.FindDevice(query, expected), 40);
  EXPECT_EQ(query, "ID?");
  EXPECT_EQ(expected, "2440");
  EXPECT_EQ(Traffic(), (Calls{"ibdev(0,1,0,11,1,0)", "ibpad(40,4)", "ibrsp(40)",
                              "ibwrt(40,\"ID?\")", "ibrd(40,256)", "ibtmo(40,12)"}));
  const double settle = driver_.times[3] - driver_.times[2];
  EXPECT_GE(settle, 0.099);
  EXPECT_LT(settle, 0.11);
}

TEST_F(InstrumentOpsTest, ContainsIgnoringCaseOrExactly) {
  // Plain: "243" anywhere, in any case; the first such listener is taken.
  Discover({1, 5});
  driver_.Script("ibrd", Reply("  id tek/2432a,v81.1  \n"));
  std::string query = "ID?";
  std::string expected = "TEK/243";
  EXPECT_EQ(ops_.FindDevice(query, expected), 32);
  EXPECT_EQ(ops_.ListenerDevice[1], 32);

  // Exact: only the reply 243 itself, case and all.
  Discover({1, 5, 6});
  driver_.Script("ibrd", Reply("2432A"));
  driver_.Script("ibrd", Reply("tek"));
  driver_.Script("ibrd", Reply("243\r\n"));
  expected = "243!";
  EXPECT_EQ(ops_.FindDevice(query, expected), 33);
  EXPECT_EQ(ops_.ListenerDevice[3], 33);
  EXPECT_EQ(expected, "243");

  Discover({1});
  driver_.Script("ibrd", Reply("TEK"));
  expected = "!tek!";
  EXPECT_EQ(ops_.FindDevice(query, expected), 0);
}

TEST_F(InstrumentOpsTest, NotEnoughDevices) {
  Discover({1});
  driver_.Script("ibrd", Reply("ID TEK/2440"));
  std::string query = "ID?";
  std::string expected = "244";
  EXPECT_EQ(ops_.FindDevice(query, expected), 32);

  // All claimed: silent gives 0, otherwise a box and the end.
  driver_.Clear();
  expected = "!243";
  EXPECT_EQ(ops_.FindDevice(query, expected), 0);
  EXPECT_TRUE(platform_.boxes.empty());
  expected = "243";
  EXPECT_EQ(EndCode([&] { ops_.FindDevice(query, expected); }), kExitFatal);
  ExpectBox(0, "Can't find more than 1 device(s).\n\nCorrect problem and restart.",
            "Not enough devices on the bus", MsgIcon::kCritical, MsgButtons::kOk);
  // A descriptor for the next identification, and nobody asked.
  EXPECT_EQ(Traffic(), (Calls{"ibdev(0,1,0,11,1,0)"}));
}

TEST_F(InstrumentOpsTest, EmptyQueryTakesTheFirstListenerAndFreesNoDescriptorTwice) {
  ops_.DefaultTimeout = 12;
  Discover({2, 6});
  driver_.Script("ibrd", Reply("ID SONY/TEK,AM503"));
  driver_.Script("ibrd", Reply("ID TEK/DM5120"));
  std::string query = "ID?";
  std::string expected = "!244";
  EXPECT_EQ(ops_.FindDevice(query, expected), 0);

  driver_.Clear();
  query.clear();
  expected = "anything";
  EXPECT_EQ(ops_.FindDevice(query, expected), 32);
  EXPECT_EQ(Traffic(), (Calls{"ibpad(32,2)", "ibrsp(32)", "ibpad(32,6)", "ibrsp(32)", "ibpad(32,2)",
                              "ibtmo(32,12)"}));
  EXPECT_EQ(ops_.ListenerDevice[1], 32);

  // The descriptor handed out is not moved by the next search.
  driver_.Clear();
  driver_.Script("ibrd", Reply("ID TEK/DM5120"));
  query = "ID?";
  expected = "DM5120";
  EXPECT_EQ(ops_.FindDevice(query, expected), 33);
  EXPECT_EQ(driver_.calls.front(), "ibdev(0,1,0,11,1,0)");
}

TEST_F(InstrumentOpsTest, DeviceAddressOfAnUnknownDescriptor) {
  Discover({1, 5});
  Integer dev = 32;
  EXPECT_EQ(ops_.DeviceAddress(dev), 0);
  // Unclaimed listeners have no descriptor: 0 is no descriptor of theirs.
  Integer none = 0;
  EXPECT_EQ(ops_.DeviceAddress(none), 0);
  ASSERT_EQ(platform_.boxes.size(), 2u);
  ExpectBox(0, "Device not found", "Error", MsgIcon::kInformation, MsgButtons::kOk);
  ExpectBox(1, "Device not found", "Error", MsgIcon::kInformation, MsgButtons::kOk);
  EXPECT_TRUE(driver_.calls.empty());
}

}  // namespace
}  // namespace kc
