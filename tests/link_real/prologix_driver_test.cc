#include "link/prologix_driver.h"

#include <gtest/gtest.h>

#include <array>

#include "link_real/scripted_adapter.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using testing::ScriptedAdapter;

const std::string kScopeId = "ID TEK/2440,V81.1,\"12-OCT-87 V2.30 /2.5\"";
const std::string kAr488At = std::string("AR488 adapter at ") + ScriptedAdapter::kWhere;
const std::array<Addr4882_t, 32> kAllAddresses = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
    16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, gpib::NOADDR};
// A time-out code that keeps the tests short.
constexpr int T100ms = 9;

// Each test plays an adapter's dialogue (tests/transcripts/adapter); the
// whole stream the driver sent is held to the file's when the test ends.
class PrologixDriverTest : public ::testing::Test {
 protected:
  void TearDown() override { CheckStream(); }

  void Connect(const std::string& transcript, PrologixOptions options = {}) {
    CheckStream();
    auto adapter = std::make_unique<ScriptedAdapter>(transcript);
    adapter_ = adapter.get();
    options.identify_tries = identify_tries_;
    options.diagnostic = [this](const std::string& line) { diagnostics_.push_back(line); };
    driver_ = std::make_unique<PrologixDriver>(std::move(adapter), platform_, std::move(options));
    driver_->RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
  }
  void CheckStream() {
    if (adapter_ != nullptr) {
      EXPECT_EQ(adapter_->Received(), adapter_->Expected());
    }
  }

  // A descriptor for `pad`, as the program opens one.
  int Open(int pad, int tmo = gpib::T1s) {
    int ud = driver_->ibdev(0, pad, 0, tmo, 1, 0);
    EXPECT_GT(ud, 0);
    return ud;
  }
  // ibrd into a buffer of `size`; the bytes stored.
  std::string Read(int ud, long size) {
    std::string buffer(static_cast<std::size_t>(size), ' ');
    driver_->ibrd(ud, buffer.data(), size);
    return buffer.substr(0, static_cast<std::size_t>(count_long_));
  }
  void Write(int ud, const std::string& text) {
    driver_->ibwrt(ud, text.data(), static_cast<long>(text.size()));
  }
  // A listener search; the addresses the driver wrote (entry 0 the
  // controller).
  std::vector<int> Search(const Addr4882_t* pads = kAllAddresses.data(), int limit = 15) {
    std::vector<Addr4882_t> results(static_cast<std::size_t>(limit), 0);
    driver_->FindLstn(0, pads, results.data(), limit);
    std::size_t n = std::min(results.size(), static_cast<std::size_t>(count_long_));
    return std::vector<int>(results.begin(), results.begin() + static_cast<long>(n));
  }
  void ExpectError(int error) {
    EXPECT_EQ(status_ & gpib::ERR, gpib::ERR);
    EXPECT_EQ(error_, error);
  }

  int identify_tries_ = 1;
  TestPlatform platform_;
  ScriptedAdapter* adapter_ = nullptr;  // owned by the driver
  std::unique_ptr<PrologixDriver> driver_;
  std::vector<std::string> diagnostics_;
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

TEST_F(PrologixDriverTest, StartUpIdentifiesAndConfiguresEachAdapter) {
  const std::pair<const char*, PrologixDriver::Flavor> cases[] = {
      {"startup-ar488", PrologixDriver::Flavor::kAr488},
      {"startup-ar488-esp32", PrologixDriver::Flavor::kAr488Esp32},
      {"startup-prologix", PrologixDriver::Flavor::kPrologix},
  };
  for (const auto& [transcript, flavor] : cases) {
    SCOPED_TRACE(transcript);
    Connect(transcript);
    driver_->SendIFC(0);
    EXPECT_EQ(status_, gpib::CMPL);
    EXPECT_EQ(driver_->ibsre(0, 1), gpib::CMPL);
    EXPECT_EQ(driver_->flavor(), flavor);
    EXPECT_TRUE(diagnostics_.empty());
  }
  // A user's own version text on an AR488 counts as the main line.
  EXPECT_EQ(PrologixDriver::FlavorOf("Bench 3 GPIB"), PrologixDriver::Flavor::kAr488);
}

TEST_F(PrologixDriverTest, IdentificationExchangeAsTheProgramMakesIt) {
  Connect("identification");
  EXPECT_EQ(Search(), (std::vector<int>{0, 1, 7}));
  EXPECT_EQ(status_, gpib::CMPL);
  int ud = Open(1);
  driver_->ibpad(ud, 7);
  EXPECT_EQ(driver_->ibclr(ud), gpib::CMPL);
  char poll = 'x';
  EXPECT_EQ(driver_->ibrsp(ud, &poll), gpib::CMPL);
  EXPECT_EQ(poll, 0);
  Write(ud, "ID?");
  EXPECT_EQ(status_, gpib::CMPL);
  EXPECT_EQ(count_, 3);
  EXPECT_EQ(Read(ud, 256), kScopeId + "\n");
  EXPECT_EQ(status_, gpib::CMPL | gpib::END);
}

TEST_F(PrologixDriverTest, AddressesOnlyWhenTheAddressChanges) {
  Connect("addressing");
  int ud = Open(3);
  Write(ud, "X1");
  Write(ud, "X2");
  driver_->ibpad(ud, 4);
  Write(ud, "Y1");
  int other = Open(3);
  Write(other, "X3");
  Write(ud, "Y2");
}

TEST_F(PrologixDriverTest, EscapesControlBytesAndPlusInData) {
  Connect("escapes");
  int ud = Open(2);
  const std::string message = std::string("A\rB\nC") + '\x1b' + "D+E";
  Write(ud, message);
  EXPECT_EQ(count_, static_cast<std::int32_t>(message.size()));
  Write(ud, "++ifc");
}

TEST_F(PrologixDriverTest, LongReplyIsHandedOutInChunksWithEndOnTheLast) {
  Connect("long-reply");
  int ud = Open(1);
  Write(ud, "LONG?");
  std::string first = Read(ud, 512);
  EXPECT_EQ(status_, gpib::CMPL);
  EXPECT_EQ(first.size(), 512u);
  std::string second = Read(ud, 512);
  EXPECT_EQ(status_, gpib::CMPL | gpib::END);
  EXPECT_EQ(second.size(), 189u);  // 700 characters and LF, less the first 512
  std::string expected_reply;
  for (int n = 0; n < 700; ++n) expected_reply += static_cast<char>('A' + n % 26);
  EXPECT_EQ(first + second, expected_reply + "\n");
}

TEST_F(PrologixDriverTest, ReadTimeOutIsReportedAndTheNextReplyIsClean) {
  Connect("read-timeout");
  int ud = Open(1, T100ms);
  // The second read's deadline is for the whole read: an instrument that
  // keeps sending a byte now and then without ever ending still times out.
  for (const char* query : {"SILENCE", "TRICKLE?"}) {
    Write(ud, query);
    EXPECT_EQ(Read(ud, 512), "");
    EXPECT_EQ(status_ & (gpib::ERR | gpib::TIMO), gpib::ERR | gpib::TIMO);
    EXPECT_EQ(error_, gpib::EABO);
  }
  // What came late is not taken for the next reply.
  driver_->ibtmo(ud, gpib::T3s);
  Write(ud, "ID?");
  EXPECT_EQ(Read(ud, 512), kScopeId + "\n");
  EXPECT_EQ(status_, gpib::CMPL | gpib::END);
  EXPECT_TRUE(diagnostics_.empty());
}

TEST_F(PrologixDriverTest, AdapterErrorLinesAndStrayLinesAreNeverReplies) {
  Connect("error-lines");
  int ud = Open(6);
  Write(ud, "ID?");
  EXPECT_EQ(Read(ud, 512), kScopeId + "\n");
  EXPECT_EQ(status_, gpib::CMPL | gpib::END);
  char poll = 0;
  EXPECT_EQ(driver_->ibrsp(ud, &poll), gpib::CMPL);
  EXPECT_EQ(poll, 16);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS), gpib::RQS | gpib::CMPL);
  EXPECT_TRUE(diagnostics_.empty());
}

TEST_F(PrologixDriverTest, SerialPollWithoutAnAnswerFails) {
  for (const char* transcript : {"spoll-silent-ar488", "spoll-silent-ar488-esp32"}) {
    SCOPED_TRACE(transcript);
    Connect(transcript);
    int silent = Open(5, T100ms);
    int answering = Open(9, T100ms);
    char poll = 'x';
    driver_->ibrsp(silent, &poll);
    ExpectError(gpib::EABO);
    EXPECT_EQ(count_long_, 0);
    EXPECT_EQ(poll, 'x');
    EXPECT_EQ(driver_->ibrsp(answering, &poll), gpib::CMPL);
    EXPECT_EQ(poll, 0x50);
  }
}

TEST_F(PrologixDriverTest, ServiceRequestWaitPollsTheSrqLine) {
  Connect("srq-wait");
  int ud = Open(1);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS), gpib::RQS | gpib::CMPL);
  // Waiting for completion or time-out returns at once: nothing is pending.
  EXPECT_EQ(driver_->ibwait(ud, gpib::TIMO | gpib::CMPL), gpib::CMPL);
}

TEST_F(PrologixDriverTest, CloseRequestEndsTheServiceRequestWait) {
  Connect("srq-close");
  int ud = Open(1);
  platform_.close_at = platform_.clock().Elapsed() + 0.2;
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS), gpib::CMPL);
  EXPECT_TRUE(platform_.close_pending());
}

TEST_F(PrologixDriverTest, ListenerSearchAnswersOfBothAr488Lines) {
  for (const char* transcript : {"search-ar488", "search-ar488-esp32"}) {
    SCOPED_TRACE(transcript);
    Connect(transcript);
    EXPECT_EQ(Search(), (std::vector<int>{0, 4, 12}));
    EXPECT_EQ(status_, gpib::CMPL);
    // More listeners than the limit.
    Search(kAllAddresses.data(), 2);
    ExpectError(gpib::ETAB);
  }
  // An empty bus: only the controller.
  Connect("search-empty");
  Search();
  ExpectError(gpib::EBUS);
  EXPECT_EQ(diagnostics_, std::vector<std::string>{"AR488 (ESP32) adapter at " +
                                                   std::string(ScriptedAdapter::kWhere) +
                                                   ": no instrument answered at any GPIB address"});
}

TEST_F(PrologixDriverTest, ListenerListsAreParsedInBothForms) {
  using List = std::vector<int>;
  EXPECT_EQ(PrologixDriver::ParseListenerList("3,4,6"), List({3, 4, 6}));
  EXPECT_EQ(PrologixDriver::ParseListenerList("3 4 6 10 "), List({3, 4, 6, 10}));
  EXPECT_EQ(PrologixDriver::ParseListenerList("1, 7,"), List({1, 7}));
  EXPECT_EQ(PrologixDriver::ParseListenerList(""), List());
  EXPECT_FALSE(PrologixDriver::ParseListenerList("Unrecognized command"));
  EXPECT_FALSE(PrologixDriver::ParseListenerList("31"));
  EXPECT_FALSE(PrologixDriver::ParseListenerList("4;5"));
}

TEST_F(PrologixDriverTest, PlainPrologixProbesTheBusOrOnlyTheNamedListeners) {
  Connect("probe-prologix");
  const std::array<Addr4882_t, 5> pads = {0, 2, 3, 4, gpib::NOADDR};
  EXPECT_EQ(Search(pads.data()), (std::vector<int>{0, 3}));
  EXPECT_EQ(status_, gpib::CMPL);
  EXPECT_TRUE(diagnostics_.empty());

  // Listeners named in the bus name are the only ones asked, in bus order;
  // one that does not answer is named as the reason for what follows.
  PrologixOptions named;
  named.listeners = {7, 2};
  Connect("probe-named", named);
  EXPECT_EQ(Search(), (std::vector<int>{0, 7}));
  EXPECT_EQ(status_, gpib::CMPL);
  EXPECT_EQ(diagnostics_,
            std::vector<std::string>{std::string("Prologix adapter at ") + ScriptedAdapter::kWhere +
                                     ": no instrument answered at GPIB address 2"});
  EXPECT_EQ(platform_.message_detail(), diagnostics_.back());

  // Nobody at any named address: an empty bus, with the addresses named.
  diagnostics_.clear();
  named.listeners = {5, 9};
  Connect("probe-named-none", named);
  Search();
  ExpectError(gpib::EBUS);
  EXPECT_EQ(diagnostics_,
            std::vector<std::string>{kAr488At + ": no instrument answered at GPIB addresses 5, 9"});
}

TEST_F(PrologixDriverTest, AdapterThatEndsANewConnectionIsBusy) {
  // One host at a time: the adapter closes a second connection at once.
  Connect("busy");
  driver_->SendIFC(0);
  ExpectError(gpib::ENEB);
  const std::string busy = std::string("GPIB adapter at ") + ScriptedAdapter::kWhere +
                           ": adapter busy (another program is connected)";
  EXPECT_EQ(diagnostics_, std::vector<std::string>{busy});
  EXPECT_EQ(platform_.message_detail(), busy);
  // Once the other host has gone the adapter answers, and the reason is stale.
  driver_->SendIFC(0);
  EXPECT_EQ(status_, gpib::CMPL);
  EXPECT_EQ(platform_.message_detail(), "");
  EXPECT_EQ(diagnostics_.size(), 1u);
}

TEST_F(PrologixDriverTest, RefusedConnectionFailsEveryCallAndIsReportedOnce) {
  Connect("refused");
  driver_->SendIFC(0);
  ExpectError(gpib::ENEB);
  Search();
  EXPECT_EQ(error_, gpib::ENEB);
  EXPECT_EQ(diagnostics_,
            std::vector<std::string>{std::string("GPIB adapter at ") + ScriptedAdapter::kWhere +
                                     ": cannot connect: Connection refused"});
  EXPECT_EQ(platform_.message_detail(), diagnostics_[0]);
}

TEST_F(PrologixDriverTest, DroppedConnectionFailsTheCallWithoutWaiting) {
  Connect("dropped");
  int ud = Open(1, 13);  // 10 s: the drop must end the read, not the time-out
  Write(ud, "ID?");
  EXPECT_EQ(status_, gpib::CMPL);
  EXPECT_EQ(Read(ud, 512), "");
  EXPECT_EQ(status_ & (gpib::ERR | gpib::TIMO), gpib::ERR);
  EXPECT_EQ(error_, gpib::EDVR);
  EXPECT_EQ(diagnostics_, std::vector<std::string>{kAr488At + ": connection lost: End of file"});
  // The adapter is gone for good: the next calls fail at connecting, and the
  // fault is not reported again.
  Write(ud, "ID?");
  ExpectError(gpib::ENEB);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS) & gpib::ERR, gpib::ERR);
  EXPECT_EQ(diagnostics_.size(), 1u);
}

TEST_F(PrologixDriverTest, ConnectionIsMadeAgainAfterADrop) {
  Connect("reconnect");
  int ud = Open(1);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS) & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error_, gpib::EDVR);
  Write(ud, "ID?");
  EXPECT_EQ(Read(ud, 512), kScopeId + "\n");
  EXPECT_EQ(adapter_->connections(), 2);
}

TEST_F(PrologixDriverTest, AdapterThatDoesNotSayWhoItIsIsAskedAsOftenAsSet) {
  identify_tries_ = 2;
  Connect("no-version");
  driver_->SendIFC(0);
  EXPECT_EQ(error_, gpib::ENEB);
  EXPECT_EQ(diagnostics_, std::vector<std::string>{
                              std::string("GPIB adapter at ") + ScriptedAdapter::kWhere +
                              " does not answer ++ver: is it a Prologix or AR488 GPIB adapter?"});
}

TEST_F(PrologixDriverTest, AdapterThatStopsAnsweringGivesAnError) {
  Connect("silent-srq");
  int ud = Open(1);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS) & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error_, gpib::EABO);
  EXPECT_EQ(diagnostics_, std::vector<std::string>{kAr488At + " does not answer ++srq"});
}

}  // namespace
}  // namespace kc
