#include "link/prologix_driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "link_real/fake_adapter.h"
#include "support/program_run.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using testing::FakeAdapter;

// What every connection starts with.
const std::string kSetup =
    "++ver\n++mode 1\n++auto 0\n++eoi 1\n++eos 3\n++eot_enable 1\n++eot_char 4\n"
    "++read_tmo_ms 3000\n";
const std::string kScopeId = "ID TEK/2440,V81.1,\"12-OCT-87 V2.30 /2.5\"";
const std::array<Addr4882_t, 32> kAllAddresses = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
    16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, gpib::NOADDR};
// A time-out code that keeps the tests short.
constexpr int T100ms = 9;

class PrologixDriverTest : public ::testing::Test {
 protected:
  void Connect(FakeAdapter::Kind kind, PrologixOptions options = {}) {
    adapter_ = std::make_unique<FakeAdapter>(kind);
    ConnectTo(adapter_->port(), std::move(options));
  }

  // The adapter's own answers come at once: the window for them is a
  // generous deadline, short only where a test waits it out.
  void ConnectTo(int port, PrologixOptions options = {}) {
    options.answer_seconds = answer_seconds_;
    options.identify_tries = identify_tries_;
    options.diagnostic = [this](const std::string& line) { diagnostics_.push_back(line); };
    driver_ = std::make_unique<PrologixDriver>(MakeTcpStream("127.0.0.1", port), platform_,
                                               std::move(options));
    driver_->RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
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

  // A listener search; the addresses the driver wrote (entry 0 the
  // controller).
  std::vector<int> Search(const Addr4882_t* pads = kAllAddresses.data(), int limit = 15) {
    std::vector<Addr4882_t> results(static_cast<std::size_t>(limit), 0);
    driver_->FindLstn(0, pads, results.data(), limit);
    std::size_t n = std::min(results.size(), static_cast<std::size_t>(count_long_));
    return std::vector<int>(results.begin(), results.begin() + static_cast<long>(n));
  }

  void Write(int ud, const std::string& text) {
    driver_->ibwrt(ud, text.data(), static_cast<long>(text.size()));
  }

  // Everything after the start-up sequence, once `expected` bytes came.
  std::string TrafficAfterSetup(const std::string& expected) {
    std::string received = adapter_->WaitReceived(kSetup.size() + expected.size());
    EXPECT_EQ(received.substr(0, kSetup.size()), kSetup);
    return received.size() < kSetup.size() ? "" : received.substr(kSetup.size());
  }

  double answer_seconds_ = 30;
  int identify_tries_ = 1;
  TestPlatform platform_;
  std::unique_ptr<FakeAdapter> adapter_;
  std::unique_ptr<PrologixDriver> driver_;
  std::vector<std::string> diagnostics_;
  std::int32_t status_ = 0;
  std::int32_t error_ = 0;
  std::int32_t count_ = 0;
  std::int32_t count_long_ = 0;
};

TEST_F(PrologixDriverTest, StartUpIdentifiesAndConfiguresEachAdapter) {
  struct Case {
    FakeAdapter::Kind kind;
    PrologixDriver::Flavor flavor;
    std::string after_setup;  // for SendIFC then ibsre(0, 1)
  };
  const Case cases[] = {
      {FakeAdapter::Kind::kAr488, PrologixDriver::Flavor::kAr488, "++ifc\n++ren 1\n"},
      {FakeAdapter::Kind::kAr488Esp32, PrologixDriver::Flavor::kAr488Esp32, "++ifc\n++ren 1\n"},
      // A Prologix has no remote-enable command.
      {FakeAdapter::Kind::kPrologix, PrologixDriver::Flavor::kPrologix, "++ifc\n"},
  };
  for (const Case& c : cases) {
    Connect(c.kind);
    driver_->SendIFC(0);
    EXPECT_EQ(status_, gpib::CMPL);
    EXPECT_EQ(driver_->ibsre(0, 1), gpib::CMPL);
    EXPECT_EQ(TrafficAfterSetup(c.after_setup), c.after_setup);
    EXPECT_EQ(driver_->flavor(), c.flavor);
    EXPECT_TRUE(diagnostics_.empty());
  }
  // A user's own version text on an AR488 counts as the main line.
  EXPECT_EQ(PrologixDriver::FlavorOf("Bench 3 GPIB"), PrologixDriver::Flavor::kAr488);
}

TEST_F(PrologixDriverTest, IdentificationExchangeAsTheProgramMakesIt) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(1, "ID SONY/TEK,AFG2020");
  adapter_->AddInstrument(7, kScopeId);

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

  // The descriptor's time-out (1 s) goes to the adapter before the poll.
  const std::string expected =
      "++read_tmo_ms 50\n++fndl all\n"
      "++addr 7\n++clr\n"
      "++read_tmo_ms 1000\n++spoll\n"
      "ID?\n"
      "++read eoi\n";
  EXPECT_EQ(TrafficAfterSetup(expected), expected);
  EXPECT_EQ(adapter_->Messages(7), std::vector<std::string>{"ID?"});
}

TEST_F(PrologixDriverTest, AddressesOnlyWhenTheAddressChanges) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(3, "ID A");
  adapter_->AddInstrument(4, "ID B");
  int ud = Open(3);
  Write(ud, "X1");
  Write(ud, "X2");
  driver_->ibpad(ud, 4);
  Write(ud, "Y1");
  int other = Open(3);
  Write(other, "X3");
  Write(ud, "Y2");
  const std::string expected = "++addr 3\nX1\nX2\n++addr 4\nY1\n++addr 3\nX3\n++addr 4\nY2\n";
  EXPECT_EQ(TrafficAfterSetup(expected), expected);
  EXPECT_EQ(adapter_->Messages(3), (std::vector<std::string>{"X1", "X2", "X3"}));
}

TEST_F(PrologixDriverTest, EscapesControlBytesAndPlusInData) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(2, "ID C");
  int ud = Open(2);
  const std::string message = std::string("A\rB\nC") + '\x1b' + "D+E";
  Write(ud, message);
  EXPECT_EQ(count_, static_cast<std::int32_t>(message.size()));
  // Data starting with "++" must not become an adapter command.
  Write(ud, "++ifc");
  const std::string expected =
      std::string("++addr 2\n") + "A\x1b\rB\x1b\nC\x1b\x1b" + "D\x1b+E\n" + "\x1b+\x1b+ifc\n";
  EXPECT_EQ(TrafficAfterSetup(expected), expected);
  EXPECT_EQ(adapter_->Messages(2), (std::vector<std::string>{message, "++ifc"}));
}

TEST_F(PrologixDriverTest, LongReplyIsHandedOutInChunksWithEndOnTheLast) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(1, "ID D");
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
  // One read on the bus for both chunks.
  const std::string expected = "++addr 1\nLONG?\n++read_tmo_ms 1000\n++read eoi\n";
  EXPECT_EQ(TrafficAfterSetup(expected), expected);
}

TEST_F(PrologixDriverTest, ReadTimeOutIsReportedAndTheNextReplyIsClean) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(1, kScopeId);
  int ud = Open(1, T100ms);

  Write(ud, "SILENCE");  // the instrument has nothing to say
  EXPECT_EQ(Read(ud, 512), "");
  EXPECT_EQ(status_ & (gpib::ERR | gpib::TIMO), gpib::ERR | gpib::TIMO);
  EXPECT_EQ(error_, gpib::EABO);

  // The deadline is for the whole read: an instrument that keeps sending a
  // byte now and then without ever ending still times out.
  Write(ud, "TRICKLE?");
  EXPECT_EQ(Read(ud, 512), "");
  EXPECT_EQ(status_ & (gpib::ERR | gpib::TIMO), gpib::ERR | gpib::TIMO);
  EXPECT_EQ(error_, gpib::EABO);

  // What came late is not taken for the next reply.
  driver_->ibtmo(ud, gpib::T3s);
  Write(ud, "ID?");
  EXPECT_EQ(Read(ud, 512), kScopeId + "\n");
  EXPECT_EQ(status_, gpib::CMPL | gpib::END);
  EXPECT_TRUE(diagnostics_.empty());

  // After each time-out the adapter is asked for its version before going on.
  const std::string expected =
      "++addr 1\nSILENCE\n++read_tmo_ms 100\n++read eoi\n"
      "++ver\nTRICKLE?\n++read eoi\n"
      "++ver\nID?\n++read_tmo_ms 3000\n++read eoi\n";
  EXPECT_EQ(TrafficAfterSetup(expected), expected);
}

TEST_F(PrologixDriverTest, AdapterErrorLinesAndStrayLinesAreNeverReplies) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(6, kScopeId, 16);
  adapter_->InjectBefore("++read eoi", "Invalid parameter\r\n");
  adapter_->InjectBefore("++spoll", "Unrecognized command\r\nstatus chatter\r\n");
  adapter_->InjectBefore("++srq", "Missing parameter\r\n");
  adapter_->RaiseSrqOnPoll(1);
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
  // The main line prints nothing for a failed poll, the ESP32 line an empty
  // line.
  for (FakeAdapter::Kind kind : {FakeAdapter::Kind::kAr488, FakeAdapter::Kind::kAr488Esp32}) {
    Connect(kind);
    adapter_->AddInstrument(5, "ID E", 0, /*silent=*/true);
    adapter_->AddInstrument(9, "ID F", 0x50);
    int silent = Open(5, T100ms);
    int answering = Open(9, T100ms);
    char poll = 'x';
    driver_->ibrsp(silent, &poll);
    EXPECT_EQ(status_ & gpib::ERR, gpib::ERR);
    EXPECT_EQ(error_, gpib::EABO);
    EXPECT_EQ(count_long_, 0);
    EXPECT_EQ(poll, 'x');
    EXPECT_EQ(driver_->ibrsp(answering, &poll), gpib::CMPL);
    EXPECT_EQ(poll, 0x50);
  }
}

TEST_F(PrologixDriverTest, ServiceRequestWaitPollsTheSrqLine) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(1, kScopeId);
  adapter_->RaiseSrqOnPoll(4);
  int ud = Open(1);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS), gpib::RQS | gpib::CMPL);
  EXPECT_EQ(adapter_->srq_polls(), 4);
  // Waiting for completion or time-out returns at once: nothing is pending.
  EXPECT_EQ(driver_->ibwait(ud, gpib::TIMO | gpib::CMPL), gpib::CMPL);
  const std::string expected = "++srq\n++srq\n++srq\n++srq\n";
  EXPECT_EQ(TrafficAfterSetup(expected), expected);
}

TEST_F(PrologixDriverTest, CloseRequestEndsTheServiceRequestWait) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(1, kScopeId);
  int ud = Open(1);
  platform_.close_at = platform_.clock().Elapsed() + 0.2;
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS), gpib::CMPL);
  EXPECT_GE(adapter_->srq_polls(), 1);
  EXPECT_TRUE(platform_.close_pending());
}

TEST_F(PrologixDriverTest, ListenerSearchAnswersOfBothAr488Lines) {
  for (FakeAdapter::Kind kind : {FakeAdapter::Kind::kAr488, FakeAdapter::Kind::kAr488Esp32}) {
    Connect(kind);
    adapter_->AddInstrument(4, "ID G");
    adapter_->AddInstrument(12, "ID H");
    EXPECT_EQ(Search(), (std::vector<int>{0, 4, 12}));
    EXPECT_EQ(status_, gpib::CMPL);
    std::string search = kind == FakeAdapter::Kind::kAr488 ? "++fndl all\n" : "++findlstn\n";
    EXPECT_EQ(TrafficAfterSetup("++read_tmo_ms 50\n" + search), "++read_tmo_ms 50\n" + search);

    // More listeners than the limit.
    Search(kAllAddresses.data(), 2);
    EXPECT_EQ(status_ & gpib::ERR, gpib::ERR);
    EXPECT_EQ(error_, gpib::ETAB);
  }

  // An empty bus: only the controller.
  Connect(FakeAdapter::Kind::kAr488Esp32);
  Search();
  EXPECT_EQ(status_ & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error_, gpib::EBUS);
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
  Connect(FakeAdapter::Kind::kPrologix);
  adapter_->AddInstrument(3, "ID I");
  const std::array<Addr4882_t, 5> pads = {0, 2, 3, 4, gpib::NOADDR};
  EXPECT_EQ(Search(pads.data()), (std::vector<int>{0, 3}));
  EXPECT_EQ(status_, gpib::CMPL);
  const std::string probe =
      "++read_tmo_ms 50\n"
      "++addr 2\n++spoll\n++ver\n++addr 3\n++spoll\n++ver\n++addr 4\n++spoll\n++ver\n";
  EXPECT_EQ(TrafficAfterSetup(probe), probe);
  EXPECT_TRUE(diagnostics_.empty());

  // Listeners named in the bus name are the only ones asked, in bus order;
  // one that does not answer is named as the reason for what follows.
  PrologixOptions named;
  named.listeners = {7, 2};
  Connect(FakeAdapter::Kind::kPrologix, named);
  adapter_->AddInstrument(7, "ID J");
  EXPECT_EQ(Search(), (std::vector<int>{0, 7}));
  EXPECT_EQ(status_, gpib::CMPL);
  const std::string named_probe =
      "++read_tmo_ms 50\n++addr 2\n++spoll\n++ver\n++addr 7\n++spoll\n++ver\n";
  EXPECT_EQ(TrafficAfterSetup(named_probe), named_probe);
  const std::string adapter = "Prologix adapter at 127.0.0.1:" + std::to_string(adapter_->port());
  EXPECT_EQ(diagnostics_,
            std::vector<std::string>{adapter + ": no instrument answered at GPIB address 2"});
  EXPECT_EQ(platform_.message_detail(), diagnostics_.back());

  // Nobody at any named address: an empty bus, with the addresses named.
  diagnostics_.clear();
  named.listeners = {5, 9};
  Connect(FakeAdapter::Kind::kAr488, named);
  Search();
  EXPECT_EQ(status_ & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error_, gpib::EBUS);
  EXPECT_EQ(diagnostics_, std::vector<std::string>{
                              "AR488 adapter at 127.0.0.1:" + std::to_string(adapter_->port()) +
                              ": no instrument answered at GPIB addresses 5, 9"});
}

TEST_F(PrologixDriverTest, AdapterThatEndsANewConnectionIsBusy) {
  // One host at a time: the adapter closes a second connection at once.
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(1, kScopeId);
  adapter_->DropOn("++ver", /*refuse_after=*/false);
  driver_->SendIFC(0);
  EXPECT_EQ(status_ & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error_, gpib::ENEB);
  const std::string busy = "GPIB adapter at 127.0.0.1:" + std::to_string(adapter_->port()) +
                           ": adapter busy (another program is connected)";
  EXPECT_EQ(diagnostics_, std::vector<std::string>{busy});
  EXPECT_EQ(platform_.message_detail(), busy);

  // Once the other host has gone the adapter answers, and the reason is stale.
  adapter_->DropOn("", false);
  driver_->SendIFC(0);
  EXPECT_EQ(status_, gpib::CMPL);
  EXPECT_EQ(platform_.message_detail(), "");
  EXPECT_EQ(diagnostics_.size(), 1u);
}

TEST_F(PrologixDriverTest, RefusedConnectionFailsEveryCallAndIsReportedOnce) {
  int port = 0;
  int fd = harness::RefusingLoopback(&port);
  ASSERT_GE(fd, 0);
  ConnectTo(port);

  driver_->SendIFC(0);
  EXPECT_EQ(status_ & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error_, gpib::ENEB);
  Search();
  EXPECT_EQ(error_, gpib::ENEB);
  ASSERT_EQ(diagnostics_.size(), 1u);
  EXPECT_NE(diagnostics_[0].find("127.0.0.1:" + std::to_string(port)), std::string::npos);
  EXPECT_NE(diagnostics_[0].find(std::error_code(ECONNREFUSED, std::system_category()).message()),
            std::string::npos)
      << diagnostics_[0];
  EXPECT_EQ(platform_.message_detail(), diagnostics_[0]);
  ::close(fd);
}

TEST_F(PrologixDriverTest, DroppedConnectionFailsTheCallWithoutWaiting) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(1, kScopeId);
  adapter_->DropOn("++read eoi", /*refuse_after=*/true);
  int ud = Open(1, 13);  // 10 s: the drop must end the read, not the time-out
  Write(ud, "ID?");
  EXPECT_EQ(status_, gpib::CMPL);
  EXPECT_EQ(Read(ud, 512), "");
  EXPECT_EQ(status_ & (gpib::ERR | gpib::TIMO), gpib::ERR);
  EXPECT_EQ(error_, gpib::EDVR);
  ASSERT_EQ(diagnostics_.size(), 1u);
  EXPECT_NE(diagnostics_[0].find("AR488 adapter at 127.0.0.1:"), std::string::npos);
  EXPECT_NE(diagnostics_[0].find("connection lost"), std::string::npos) << diagnostics_[0];

  // The adapter is gone for good: the next calls fail at connecting, and the
  // fault is not reported again.
  Write(ud, "ID?");
  EXPECT_EQ(status_ & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error_, gpib::ENEB);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS) & gpib::ERR, gpib::ERR);
  EXPECT_EQ(diagnostics_.size(), 1u);
}

TEST_F(PrologixDriverTest, ConnectionIsMadeAgainAfterADrop) {
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(1, kScopeId);
  adapter_->DropOn("++srq", /*refuse_after=*/false);
  int ud = Open(1);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS) & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error_, gpib::EDVR);

  adapter_->DropOn("", false);
  Write(ud, "ID?");
  EXPECT_EQ(Read(ud, 512), kScopeId + "\n");
  EXPECT_EQ(adapter_->connections(), 2);
  // The new connection is set up afresh, the address sent again.
  const std::string expected =
      kSetup + "++srq\n" + kSetup + "++addr 1\nID?\n++read_tmo_ms 1000\n++read eoi\n";
  EXPECT_EQ(adapter_->WaitReceived(expected.size()), expected);
}

TEST_F(PrologixDriverTest, AdapterThatDoesNotSayWhoItIsIsAskedAsOftenAsSet) {
  answer_seconds_ = 0.2;
  identify_tries_ = 2;
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->SilentFrom("++ver");
  driver_->SendIFC(0);
  EXPECT_EQ(error_, gpib::ENEB);
  EXPECT_EQ(adapter_->Received(), "++ver\n++ver\n");
  EXPECT_EQ(diagnostics_, std::vector<std::string>{
                              "GPIB adapter at 127.0.0.1:" + std::to_string(adapter_->port()) +
                              " does not answer ++ver: is it a Prologix or AR488 GPIB adapter?"});
}

TEST_F(PrologixDriverTest, AdapterThatStopsAnsweringGivesAnError) {
  answer_seconds_ = 0.2;
  Connect(FakeAdapter::Kind::kAr488);
  adapter_->AddInstrument(1, kScopeId);
  adapter_->SilentFrom("++srq");
  int ud = Open(1);
  EXPECT_EQ(driver_->ibwait(ud, gpib::RQS) & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error_, gpib::EABO);
  ASSERT_EQ(diagnostics_.size(), 1u);
  EXPECT_NE(diagnostics_[0].find("does not answer ++srq"), std::string::npos) << diagnostics_[0];
}

}  // namespace
}  // namespace kc
