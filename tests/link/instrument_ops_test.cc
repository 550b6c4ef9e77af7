#include "link/instrument_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/fake_driver.h"
#include "support/gpib_errors.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using fakes::Error;
using fakes::Found;
using fakes::Reply;
using fakes::Value;
using Texts = std::vector<std::string>;

constexpr int kTimeoutStatus = gpib::ERR | gpib::TIMO | gpib::CMPL;
const char kAllAddresses[] =
    "FindLstn(0,[0x0,0x1,0x2,0x3,0x4,0x5,0x6,0x7,0x8,0x9,0xA,0xB,0xC,0xD,0xE,0xF,0x10,0x11,0x12,"
    "0x13,0x14,0x15,0x16,0x17,0x18,0x19,0x1A,0x1B,0x1C,0x1D,0x1E,0xFFFF],15)";
const std::string kNotFound = "Expected Id-response from device not found" + std::string(40, ' ');
const std::string kRestart = "\n\nCorrect problem and restart.";
// The reads of a reply: the read time-out set, one wait and one read per
// chunk, the time-out put back.
const Texts kQueryRead = {"ibask(7,3)", "ibwait(7,0x4100)", "ibrd(7,512)", "ibtmo(7,12)"};

// A box as one line: "TITLE [X OK] prompt" (X critical, ! exclamation,
// i information).
std::string Box(const std::string& title, MsgIcon icon, MsgButtons buttons,
                const std::string& prompt) {
  const char* mark = icon == MsgIcon::kCritical ? "X" : icon == MsgIcon::kExclamation ? "!" : "i";
  return title + " [" + mark + (buttons == MsgButtons::kOk ? " OK] " : " OK/Cancel] ") + prompt;
}
std::string GpibBox(int iberr) {
  const GpibErrorText& entry = GpibErrorFor(iberr);
  return Box(entry.title, MsgIcon::kExclamation, MsgButtons::kOkCancel, entry.text + kGpibErrorAsk);
}
std::string Critical(const std::string& title, const std::string& prompt) {
  return Box(title, MsgIcon::kCritical, MsgButtons::kOk, prompt);
}
const std::string kReadFailed = Box("I/O Error", MsgIcon::kExclamation, MsgButtons::kOk,
                                    "Read cycle failed\nOperation aborted.");

class InstrumentOpsTest : public ::testing::Test {
 protected:
  explicit InstrumentOpsTest(double start = 9 * 3600.0)
      : platform_(start), driver_(&platform_.clock()), gpib_(driver_), ops_(gpib_, platform_) {}

  // The driver calls after the registration (which the binding tests cover).
  Texts Traffic() const {
    Texts calls = driver_.calls;
    if (!calls.empty() && calls.front() == "Register") calls.erase(calls.begin());
    return calls;
  }
  Texts Boxes() const {
    Texts boxes;
    for (const RecordedBox& b : platform_.boxes)
      boxes.push_back(Box(b.title, b.icon, b.buttons, b.prompt));
    return boxes;
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
  Integer Find(std::string query, std::string expected) { return ops_.FindDevice(query, expected); }
  // FindDevice, which takes its markers off both texts: "DEVICE QUERY EXPECTED".
  std::string FindMarked(std::string query, std::string expected) {
    const Integer device = ops_.FindDevice(query, expected);
    return std::to_string(device) + " " + query + " " + expected;
  }
  // The replies of the next reads, each complete.
  void Replies(std::initializer_list<std::string> replies) {
    for (const std::string& reply : replies) driver_.Script("ibrd", Reply(reply));
  }

  TestPlatform platform_;
  fakes::FakeDriver driver_;
  GpibBinding gpib_;
  InstrumentOps ops_;
  Integer dev_ = 7;
};

TEST_F(InstrumentOpsTest, WriteSendsTheCommandAsItStandsAndClearsTheErrorFlag) {
  ops_.GpibErrorFlag = -1;
  ops_.WriteDev(dev_, "MESS 9:\"\\B5 ATTENUATOR\"");
  EXPECT_EQ(Traffic(), Texts{"ibwrt(7,\"MESS 9:\"\\B5 ATTENUATOR\"\")"});
  EXPECT_EQ(ops_.GpibErrorFlag, 0);
  // An error acknowledged with OK sets the flag.
  driver_.Script("ibwrt", Error(gpib::ENOL));
  ops_.WriteDev(dev_, "BELL");
  EXPECT_EQ(Boxes(), Texts{GpibBox(gpib::ENOL)});
  EXPECT_EQ(ops_.GpibErrorFlag, -1);
}

TEST_F(InstrumentOpsTest, QueryWritesWaitsATenthAndReads) {
  driver_.Script("ibrd", Reply("452\n"));
  EXPECT_EQ(ops_.QueryDev(dev_, "EVE?"), "452");
  EXPECT_EQ(Traffic(), (Texts{"ibwrt(7,\"EVE?\")", "ibask(7,3)", "ibwait(7,0x4100)", "ibrd(7,512)",
                              "ibtmo(7,12)"}));
  EXPECT_NEAR(driver_.times[2] - driver_.times[1], 0.1, 0.005);
  EXPECT_GT(platform_.pumps, 50);  // the pause lets the window work

  // A write error acknowledged with OK: nothing is read, no read box.
  driver_.Clear();
  driver_.Script("ibwrt", Error(gpib::EABO, gpib::ERR | gpib::TIMO));
  EXPECT_EQ(ops_.QueryDev(dev_, "ID?"), "");
  EXPECT_EQ(Traffic(), Texts{"ibwrt(7,\"ID?\")"});
  EXPECT_EQ(Boxes(), Texts{GpibBox(gpib::EABO)});
  // The next query writes afresh and reads again.
  driver_.Clear();
  driver_.Script("ibrd", Reply("ID TEK/2440,V81.1\r\n"));
  EXPECT_EQ(ops_.QueryDev(dev_, "ID?"), "ID TEK/2440,V81.1");
  EXPECT_EQ(Traffic().size(), 5u);
}

// Cancel in an error box ends the program at once: the bus fault suite.

TEST_F(InstrumentOpsTest, NoDescriptorEndsTheProgramWithoutDriverCalls) {
  Integer none = 0;
  EXPECT_EQ(EndCode([&] { ops_.WriteDev(none, "BELL"); }), kExitFatal);
  EXPECT_EQ(EndCode([&] { ops_.QueryDev(none, "ID?"); }), kExitFatal);
  EXPECT_EQ(EndCode([&] { ops_.ReadDev(none); }), kExitFatal);
  EXPECT_TRUE(driver_.calls.empty());
  EXPECT_EQ(Boxes(), Texts(3, Critical("Device Error", "Device not configured." + kRestart)));
}

TEST_F(InstrumentOpsTest, ReadJoinsChunksAndLosesTheBlanksAtTheirEdges) {
  driver_.Script("ibrd", Reply("ABC ", gpib::CMPL));
  driver_.Script("ibrd", Reply(" DEF"));
  EXPECT_EQ(ops_.ReadDev(dev_), "ABCDEF");
  EXPECT_EQ(Traffic(), (Texts{"ibask(7,3)", "ibwait(7,0x4100)", "ibrd(7,512)", "ibwait(7,0x4100)",
                              "ibrd(7,512)", "ibtmo(7,12)"}));
  EXPECT_EQ(driver_.buffers_seen, Texts(2, std::string(512, ' ')));
}

TEST_F(InstrumentOpsTest, ReadTimeOutIsSetAndTheOldOnePutBack) {
  struct Case {
    fakes::Outcome asked;
    Texts calls;
  };
  const Case cases[] = {
      {Value(11), {"ibask(7,3)", "ibtmo(7,12)", "ibwait(7,0x4100)", "ibrd(7,512)", "ibtmo(7,11)"}},
      // A descriptor that cannot tell its time-out keeps the read time-out.
      {Error(gpib::EARG),
       {"ibask(7,3)", "ibtmo(7,12)", "ibwait(7,0x4100)", "ibrd(7,512)", "ibtmo(7,12)"}},
  };
  for (const Case& c : cases) {
    driver_.Clear();
    driver_.Script("ibask", c.asked);
    driver_.Script("ibrd", Reply("1.5E-3"));
    EXPECT_EQ(ops_.ReadDev(dev_), "1.5E-3");
    EXPECT_EQ(Traffic(), c.calls);
  }
}

TEST_F(InstrumentOpsTest, ReadDropsExactlyTheLineEnd) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ABC\r\n", "ABC"}, {"ABC\n", "ABC"},       {"\n", ""},         {"\r\n", ""},
      {"ABC", "ABC"},     {"  ABC \r\n", "ABC "}, {"A\nB\n", "A\nB"}, {"ABC\r", "ABC"},
  };
  for (const auto& [bytes, reply] : cases) {
    driver_.Script("ibrd", Reply(bytes));
    EXPECT_EQ(ops_.ReadDev(dev_), reply) << ::testing::PrintToString(bytes);
  }
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(InstrumentOpsTest, FailedReadsGiveTheReadBoxAndNothing) {
  ops_.GpibErrorFlag = -1;  // not touched by a failed read
  // A time-out after a chunk.
  driver_.Script("ibrd", Reply("ABC", gpib::CMPL));
  driver_.Script("ibrd", Error(gpib::EABO, kTimeoutStatus));
  EXPECT_EQ(ops_.ReadDev(dev_), "");
  EXPECT_EQ(Traffic(), (Texts{"ibask(7,3)", "ibwait(7,0x4100)", "ibrd(7,512)", "ibwait(7,0x4100)",
                              "ibrd(7,512)", "ibtmo(7,12)"}));
  // An error without TIMO and END: one attempt, not an endless loop.
  driver_.Clear();
  driver_.Script("ibrd", Error(gpib::ECIC));
  EXPECT_EQ(ops_.ReadDev(dev_), "");
  EXPECT_EQ(Traffic(), kQueryRead);
  // Chunks that keep coming without END: the read gives up.
  driver_.Clear();
  EXPECT_EQ(ops_.ReadDev(dev_), "");
  long reads = std::count(driver_.calls.begin(), driver_.calls.end(), "ibrd(7,512)");
  EXPECT_GT(reads, 100);
  EXPECT_LT(reads, 1000);
  EXPECT_EQ(driver_.calls.back(), "ibtmo(7,12)");
  EXPECT_EQ(Boxes(), Texts(3, kReadFailed));
  EXPECT_EQ(ops_.GpibErrorFlag, -1);
}

TEST_F(InstrumentOpsTest, EveryErrorCodeHasItsBox) {
  Texts expected;
  for (const GpibErrorText& entry : kGpibErrorTexts) {
    ops_.GpibErrorFlag = 0;
    gpib_.ibsta = static_cast<Integer>(gpib::ERR | gpib::CMPL);
    gpib_.iberr = static_cast<Integer>(entry.iberr);
    ops_.CheckGpibError();
    EXPECT_EQ(ops_.GpibErrorFlag, -1) << entry.title;
    expected.push_back(GpibBox(entry.iberr));
  }
  EXPECT_EQ(Boxes(), expected);
  // Without the ERR bit: no box, the flag as it was.
  platform_.boxes.clear();
  gpib_.ibsta = static_cast<Integer>(gpib::TIMO | gpib::END | gpib::CMPL);
  for (Integer flag : {Integer{-1}, Integer{0}}) {
    ops_.GpibErrorFlag = flag;
    ops_.CheckGpibError();
    EXPECT_EQ(ops_.GpibErrorFlag, flag);
  }
  // A failed registration shows as an operating system error.
  driver_.register_results = {7};
  GpibBinding fresh(driver_);
  InstrumentOps ops(fresh, platform_);
  ops.WriteDev(dev_, "BELL");
  EXPECT_EQ(Boxes(), Texts{GpibBox(gpib::EDVR)});
}

TEST_F(InstrumentOpsTest, DelayWaitsWithEventsPumpedAndTakesACloseRequest) {
  ops_.Delay(1.0f);
  EXPECT_NEAR(platform_.clock().Elapsed(), 1.0, 0.01);
  EXPECT_GT(platform_.pumps, 900);
  // A wait that has already run out pumps nothing.
  const int pumps = platform_.pumps;
  ops_.Delay(0.0f);
  ops_.Delay(-3.0f);
  EXPECT_EQ(platform_.pumps, pumps);

  double closed_at = -1;
  platform_.SetCloseHandler([&] { closed_at = platform_.clock().Elapsed(); });
  platform_.close_at = 1.5;
  EXPECT_EQ(EndCode([&] { ops_.Delay(2.0f); }), kExitClosed);
  EXPECT_NEAR(closed_at, 1.5, 0.01);
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

TEST_F(InstrumentOpsTest, DiscoveryKeepsTheInstrumentsAfterTheController) {
  struct Case {
    std::vector<int> found;
    std::array<Integer, 15> tables;
  };
  const Case cases[] = {
      {{0, 1, 5, 9}, {3, 1, 5, 9}},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14},
       {14, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}},
  };
  for (const Case& c : cases) {
    driver_.Clear();
    ops_.Listeners.fill(99);
    ops_.FreeListeners.fill(99);
    driver_.Script("FindLstn", Found(c.found));
    ops_.FindListeners(1);
    EXPECT_EQ(Traffic(), (Texts{"SendIFC(0)", "ibsre(0,1)", kAllAddresses}));
    EXPECT_EQ(ops_.Listeners, c.tables);
    EXPECT_EQ(ops_.FreeListeners, c.tables);
  }
  EXPECT_TRUE(platform_.boxes.empty());
}

// No listeners or too many at start-up: the main form's start-up suite.
TEST_F(InstrumentOpsTest, DiscoveryErrorsByMode) {
  struct Case {
    int mode;
    int error;
    int code;         // how the call ended (-1: it returned)
    std::string box;  // empty: none
  };
  const Case cases[] = {
      {-1, gpib::EBUS, -1, ""},
      {0, gpib::EBUS, -1, Critical("Initialization Error 14", "No listeners found.")},
      {0, gpib::ENEB, -1, Critical("Initialization Error 7", kRestart)},
      {1, gpib::ECIC, kExitFatal, Critical("Initialization Error 1", kRestart)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.error));
    platform_.boxes.clear();
    // The driver wrote into its result list anyway: the tables stay zero.
    driver_.Script("FindLstn", Found({0, 4}, gpib::ERR, c.error));
    EXPECT_EQ(EndCode([&] { ops_.FindListeners(static_cast<Integer>(c.mode)); }), c.code);
    EXPECT_EQ(Boxes(), c.box.empty() ? Texts{} : Texts{c.box});
    EXPECT_EQ(ops_.Listeners, (std::array<Integer, 15>{}));
    EXPECT_EQ(ops_.FreeListeners, (std::array<Integer, 15>{}));
  }
}

TEST_F(InstrumentOpsTest, SilentMissThenPlainSearchReusesTheDescriptor) {
  ops_.DefaultTimeout = 12;
  Discover({1, 5});
  Replies({"ID SONY/TEK,AM503\r\n", "ID TEK/2432A,V81.1\r\n"});
  EXPECT_EQ(FindMarked("ID?", "!244"), "0 ID? 244");
  const Texts ask_both = {"ibpad(32,1)",       "ibclr(32)",   "ibrsp(32)", "ibwrt(32,\"ID?\")",
                          "ibrd(32,256)",      "ibpad(32,5)", "ibclr(32)", "ibrsp(32)",
                          "ibwrt(32,\"ID?\")", "ibrd(32,256)"};
  Texts calls = {"ibdev(0,1,0,11,1,0)"};
  calls.insert(calls.end(), ask_both.begin(), ask_both.end());
  EXPECT_EQ(Traffic(), calls);
  EXPECT_EQ(ops_.SpareDevice, (std::array<Integer, 2>{-1, 32}));
  EXPECT_EQ(driver_.buffers_seen, Texts(2, std::string(256, ' ')));

  driver_.Clear();
  Replies({"ID SONY/TEK,AM503\r\n", "ID TEK/2432A,V81.1\r\n"});
  EXPECT_EQ(Find("ID?", "243"), 32);
  calls = ask_both;
  calls.push_back("ibtmo(32,12)");
  EXPECT_EQ(Traffic(), calls);
  EXPECT_EQ(ops_.FreeListeners[0], 1);
  EXPECT_EQ(ops_.FreeListeners[1], 1);
  EXPECT_EQ(ops_.FreeListeners[2], 0);
  EXPECT_EQ(ops_.ListenerDevice[2], 32);
  EXPECT_EQ(ops_.SpareDevice[0], 0);
  Integer dev = 32;
  EXPECT_EQ(ops_.DeviceAddress(dev), 5);
  EXPECT_TRUE(platform_.boxes.empty());
}

TEST_F(InstrumentOpsTest, AMissShowsWhatEachListenerSaid) {
  // Without the go-on marker the program ends; a listener that failed its
  // exchange is cleared.
  Discover({1, 5});
  driver_.Script("ibrd", Reply("ID SONY/TEK,AM503\r\n"));
  driver_.Script("ibrd", Error(gpib::EABO, kTimeoutStatus));
  EXPECT_EQ(EndCode([&] { Find("ID?", "243"); }), kExitFatal);
  EXPECT_EQ(Traffic().back(), "ibclr(32)");
  EXPECT_EQ(Traffic().size(), 12u);
  EXPECT_EQ(ops_.SpareDevice, (std::array<Integer, 2>{-1, 32}));
  // With it the program goes on.
  Discover({3});
  driver_.Script("ibrd", Reply("ID TEK/DM5120"));
  EXPECT_EQ(EndCode([&] { EXPECT_EQ(FindMarked("ID?!", "2440"), "0 ID? 2440"); }), -1);
  EXPECT_EQ(Boxes(), (Texts{Critical(kNotFound,
                                     "ID Query: ID?\n\nExpected Response: 243\n\nReceived "
                                     "Response(s):\n\nID SONY/TEK,AM503\n\nCorrect the problem "
                                     "and restart. Program will end."),
                            Critical(kNotFound,
                                     "ID Query: ID?\n\nExpected Response: 2440\n\nReceived "
                                     "Response(s):\nID TEK/DM5120\n\nCorrect the problem and "
                                     "retry. Program will continue.")}));
}

TEST_F(InstrumentOpsTest, NoClearAndSettleMarkers) {
  ops_.DefaultTimeout = 12;
  Discover({4});
  driver_.Script("ibdev", Value(40));
  driver_.Script("ibrd", Reply("ID TEK/2440,V81.1"));
  EXPECT_EQ(FindMarked("!ID?", "?2440"), "40 ID? 2440");
  EXPECT_EQ(Traffic(), (Texts{"ibdev(0,1,0,11,1,0)", "ibpad(40,4)", "ibrsp(40)",
                              "ibwrt(40,\"ID?\")", "ibrd(40,256)", "ibtmo(40,12)"}));
  EXPECT_NEAR(driver_.times[3] - driver_.times[2], 0.1, 0.005);
}

TEST_F(InstrumentOpsTest, ContainsIgnoringCaseOrExactly) {
  // Plain: the text anywhere, in any case; the first such listener is taken.
  Discover({1, 5});
  driver_.Script("ibrd", Reply("  id tek/2432a,v81.1  \n"));
  EXPECT_EQ(Find("ID?", "TEK/243"), 32);
  EXPECT_EQ(ops_.ListenerDevice[1], 32);
  // Exact: only the reply itself, case and all.
  Discover({1, 5, 6});
  Replies({"2432A", "tek", "243\r\n"});
  EXPECT_EQ(FindMarked("ID?", "243!"), "33 ID? 243");
  EXPECT_EQ(ops_.ListenerDevice[3], 33);
  Discover({1});
  driver_.Script("ibrd", Reply("TEK"));
  EXPECT_EQ(Find("ID?", "!tek!"), 0);
}

TEST_F(InstrumentOpsTest, NotEnoughDevices) {
  // The first listener claimed, the second is still there to be found.
  Discover({1, 5});
  Replies({"ID TEK/2440", "ID TEK/2432"});
  EXPECT_EQ(Find("ID?", "244"), 32);
  EXPECT_EQ(Find("ID?", "243"), 33);
  // All claimed: silent gives 0, otherwise a box and the end; nobody is
  // asked, a descriptor is made ready for the next search.
  driver_.Clear();
  EXPECT_EQ(Find("ID?", "!243"), 0);
  EXPECT_TRUE(platform_.boxes.empty());
  EXPECT_EQ(EndCode([&] { Find("ID?", "243"); }), kExitFatal);
  EXPECT_EQ(Boxes(), Texts{Critical("Not enough devices on the bus",
                                    "Can't find more than 2 device(s)." + kRestart)});
  EXPECT_EQ(Traffic(), Texts{"ibdev(0,1,0,11,1,0)"});
}

TEST_F(InstrumentOpsTest, EmptyQueryTakesTheFirstListenerAndFreesNoDescriptorTwice) {
  ops_.DefaultTimeout = 12;
  Discover({2, 6});
  Replies({"ID SONY/TEK,AM503", "ID TEK/DM5120"});
  EXPECT_EQ(Find("ID?", "!244"), 0);
  driver_.Clear();
  EXPECT_EQ(Find("", "anything"), 32);
  EXPECT_EQ(Traffic(), (Texts{"ibpad(32,2)", "ibrsp(32)", "ibpad(32,6)", "ibrsp(32)", "ibpad(32,2)",
                              "ibtmo(32,12)"}));
  EXPECT_EQ(ops_.ListenerDevice[1], 32);
  // The descriptor handed out is not moved by the next search.
  driver_.Clear();
  driver_.Script("ibrd", Reply("ID TEK/DM5120"));
  EXPECT_EQ(Find("ID?", "DM5120"), 33);
  EXPECT_EQ(driver_.calls.front(), "ibdev(0,1,0,11,1,0)");
}

TEST_F(InstrumentOpsTest, DeviceAddressOfAnUnknownDescriptor) {
  Discover({1, 5});
  Integer dev = 32;
  Integer none = 0;  // unclaimed listeners have no descriptor: 0 is none of theirs
  EXPECT_EQ(ops_.DeviceAddress(dev), 0);
  EXPECT_EQ(ops_.DeviceAddress(none), 0);
  EXPECT_EQ(Boxes(),
            Texts(2, Box("Error", MsgIcon::kInformation, MsgButtons::kOk, "Device not found")));
  EXPECT_TRUE(driver_.calls.empty());
}

}  // namespace
}  // namespace kc
