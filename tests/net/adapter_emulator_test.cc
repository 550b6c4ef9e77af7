// The adapter's command language over the simulated bus, in virtual time:
// what a host sends, what comes back and what the devices receive, written
// out by hand from the Prologix/AR488 command set.
#include "sim/adapter_emulator.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/script_technician.h"
#include "sim/sim_bus.h"
#include "sim/sim_devices.h"
#include "sim/sim_scope.h"
#include "support/test_platform.h"

namespace kc {
namespace {

const std::string kVersionLine = "AR488 GPIB controller, ver. 0.53.04, 13/04/2025\r\n";
const std::string kUnrecognized = "Unrecognized command\r\n";
const std::string kInvalid = "Invalid parameter\r\n";
const std::string kMissing = "Missing parameter\r\n";

class AdapterEmulatorTest : public ::testing::Test {
 protected:
  AdapterEmulatorTest() : bus_(platform_) {
    auto scope = std::make_unique<SimScope>("2440", platform_.clock());
    scope_ = scope.get();
    bus_.Attach(1, std::move(scope));
    auto listener = std::make_unique<SilentListener>();
    listener_ = listener.get();
    bus_.Attach(5, std::move(listener));
  }
  ~AdapterEmulatorTest() override { bus_.SetTechnician(nullptr); }

  // The adapter with a technician playing `script`.
  void Start(const std::string& script = "") {
    technician_ = std::make_unique<ScriptTechnician>(*scope_, platform_.clock(), script);
    bus_.SetTechnician(technician_.get());
    emulator_ = std::make_unique<AdapterEmulator>(bus_, platform_, technician_.get(), &log_);
    emulator_->SetSink([this](std::string_view bytes) { answer_ += bytes; });
  }

  // What the adapter sends back for `bytes`.
  std::string Say(const std::string& bytes) {
    answer_.clear();
    emulator_->Receive(bytes);
    return answer_;
  }

  double Now() { return platform_.clock().Elapsed(); }

  TestPlatform platform_;
  SimBus bus_;
  SimScope* scope_ = nullptr;
  SilentListener* listener_ = nullptr;
  std::unique_ptr<ScriptTechnician> technician_;
  std::unique_ptr<AdapterEmulator> emulator_;
  std::ostringstream log_;
  std::string answer_;
};

TEST_F(AdapterEmulatorTest, SettingsAreSetQuietlyAndPrintedWhenAsked) {
  Start();
  EXPECT_EQ(Say("++ver\n"), kVersionLine);
  // As the adapters come up.
  EXPECT_EQ(Say("++mode\n++addr\n++auto\n++eoi\n++eos\n++eot_enable\n++eot_char\n++read_tmo_ms\n"),
            "1\r\n1\r\n0\r\n1\r\n0\r\n0\r\n0\r\n1200\r\n");
  // A host's set-up, lines ended by CR LF.
  EXPECT_EQ(Say("++mode 1\r\n++addr 7 96\r\n++auto 2\r\n++eoi 0\r\n++eos 3\r\n++eot_enable 1\r\n"
                "++eot_char 10\r\n++read_tmo_ms 500\r\n"),
            "");
  EXPECT_EQ(Say("++mode\r++addr\r++auto\r++eoi\r++eos\r++eot_enable\r++eot_char\r++read_tmo_ms\r"),
            "1\r\n7 96\r\n2\r\n0\r\n3\r\n1\r\n10\r\n500\r\n");
  // A reset brings the first settings back.
  EXPECT_EQ(Say("++rst\n++addr\n++eos\n++read_tmo_ms\n"), "1\r\n0\r\n1200\r\n");
  // Commands that change nothing here are taken without a word.
  EXPECT_EQ(Say("++loc\n++llo\n++trg\n++savecfg 0\n"), "");
}

TEST_F(AdapterEmulatorTest, ErrorLinesForUnknownCommandsAndBadValues) {
  Start();
  EXPECT_EQ(Say("++bogus\n++\n++help\n++status\n"),
            kUnrecognized + kUnrecognized + kUnrecognized + kUnrecognized);
  EXPECT_EQ(Say("++addr 31\n++addr x\n++addr 5 95\n++addr 5 127\n++eos 4\n++eoi 2\n"
                "++read_tmo_ms 0\n++read_tmo_ms 32001\n++eot_char 256\n++mode 0\n"
                "++spoll 40\n++read 300\n++auto -1\n++fndl 0\n"),
            kInvalid + kInvalid + kInvalid + kInvalid + kInvalid + kInvalid + kInvalid + kInvalid +
                kInvalid + kInvalid + kInvalid + kInvalid + kInvalid + kInvalid);
  EXPECT_EQ(Say("++fndl\n"), kMissing);
  // Nothing was changed by the bad values.
  EXPECT_EQ(Say("++addr\n++eos\n++eoi\n++read_tmo_ms\n++eot_char\n"),
            "1\r\n0\r\n1\r\n1200\r\n0\r\n");
  // The largest read time-out an AR488 takes.
  EXPECT_EQ(Say("++read_tmo_ms 32000\n++read_tmo_ms\n"), "32000\r\n");
}

TEST_F(AdapterEmulatorTest, DataLinesReachTheAddressedDeviceUnescapedAsOneMessage) {
  Start();
  Say("++addr 5\n++eos 3\n");
  // ESC before CR, LF, ESC and '+' makes them data; an unescaped CR or LF
  // ends the line.
  EXPECT_EQ(Say("a\x1b\rb\x1b\nc\x1b\x1b"
                "d\x1b+e\n"),
            "");
  // A line that starts with an escaped '+' is data, not a command.
  EXPECT_EQ(Say("\x1b+\x1b+ver\r\n"), "");
  // A line may arrive in pieces.
  Say("MESS 1:");
  Say("\"PIECES\"");
  Say("\r\n");
  // The terminator of ++eos is added to each message.
  Say("++eos 0\nCRLF\n++eos 1\nCR\n++eos 2\nLF\n");
  EXPECT_EQ(listener_->received(),
            (std::vector<std::string>{"a\rb\nc\x1b"
                                      "d+e",
                                      "++ver", "MESS 1:\"PIECES\"", "CRLF\r\n", "CR\r", "LF\n"}));
  // The other address got nothing; one without a device drops the data.
  EXPECT_TRUE(scope_->received().empty());
  Say("++addr 9\n++eos 3\nLOST\n");
  EXPECT_NE(log_.str().find("write 9 no listener \"LOST\"\n"), std::string::npos) << log_.str();
}

TEST_F(AdapterEmulatorTest, ReadsTakeTheReplyToItsEndAndAddTheEndCharacter) {
  Start();
  Say("++eos 3\n");
  const std::string identity = "ID AB/2440,V81.1\n";
  EXPECT_EQ(Say("ID?\n"), "");
  EXPECT_EQ(Say("++read eoi\n"), identity);
  Say("++eot_enable 1\n++eot_char 4\nID?\n");
  EXPECT_EQ(Say("++read eoi\n"), identity + "\x04");
  Say("ID?\n");
  EXPECT_EQ(Say("++read 10\n"), identity + "\x04");
  Say("ID?\n");
  EXPECT_EQ(Say("++read\n"), identity + "\x04");

  // Read after write: after every line, or after a line with '?'.
  Say("++eot_enable 0\n++auto 1\n");
  EXPECT_EQ(Say("ID?\n"), identity);
  Say("++auto 2\n");
  EXPECT_EQ(Say("ID?\n"), identity);

  // Nothing to say: the read time-out passes and nothing is sent.
  Say("++auto 0\n++read_tmo_ms 300\n");
  double before = Now();
  EXPECT_EQ(Say("++read eoi\n"), "");
  EXPECT_NEAR(Now() - before, 0.3, 0.01);
  Say("++read_tmo_ms 3000\n");
  before = Now();
  EXPECT_EQ(Say("++read eoi\n"), "");
  EXPECT_NEAR(Now() - before, 3.0, 0.01);

  EXPECT_EQ(log_.str().find("read 1 timed out\nread 1 timed out\n"), log_.str().size() - 34);
}

TEST_F(AdapterEmulatorTest, TheTechnicianActsWhenTheHostLooksAtTheServiceRequestLine) {
  // b2 at the first look; b3 on its own 2 s after it.
  Start("b2,b3@2");
  EXPECT_EQ(Say("++srq\n"), "1\r\n");
  EXPECT_EQ(scope_->event(), 451);
  EXPECT_EQ(Say("++spoll\n"), "65\r\n");
  // A timed step is due later: a look does not hurry it.
  EXPECT_EQ(Say("++srq\n++srq\n"), "0\r\n0\r\n");
  platform_.virtual_clock().Pass(2.0);
  EXPECT_EQ(Say("++srq\n"), "1\r\n");
  EXPECT_EQ(scope_->event(), 452);
  EXPECT_EQ(Say("++spoll 1\n"), "65\r\n");
  // The script is used up: the line stays low and that is noted once.
  EXPECT_EQ(Say("++srq\n++srq\n"), "0\r\n0\r\n");

  // Polls of a device that answers with 0 and of an empty address, which
  // costs the read time-out and prints nothing.
  Say("++read_tmo_ms 100\n");
  EXPECT_EQ(Say("++spoll 5\n"), "0\r\n");
  double before = Now();
  EXPECT_EQ(Say("++spoll 9\n"), "");
  EXPECT_NEAR(Now() - before, 0.1, 0.01);
  EXPECT_EQ(Say("++addr\n"), "1\r\n");  // ++spoll N leaves the address as it was

  EXPECT_EQ(log_.str(),
            "spoll 1 65\n"
            "spoll 1 65\n"
            "# the technician's script has run out\n"
            "spoll 5 0\n"
            "spoll 9 timed out\n");
}

TEST_F(AdapterEmulatorTest, ListenerSearchClearsAndRemoteEnable) {
  Start();
  EXPECT_EQ(Say("++fndl all\n"), "1,5\r\n");
  EXPECT_EQ(Say("++fndl 5 9 1\n"), "5,1\r\n");
  EXPECT_EQ(Say("++fndl 9\n"), "\r\n");
  EXPECT_EQ(Say("++findlstn\n"), "1 5 \r\n");
  EXPECT_EQ(Say("++findlstn 9 10\n"), "\r\n");
  EXPECT_EQ(Say("++ifc\n++clr\n++addr 5\n++clr\n++addr 9\n++clr\n++dcl\n++ren 0\n++ren\n++ren 1\n"),
            "0\r\n");
  EXPECT_NE(
      log_.str().find("ifc\nclear 1\nclear 5\nclear 9 no listener\nclear all\nren 0\nren 1\n"),
      std::string::npos)
      << log_.str();
}

TEST_F(AdapterEmulatorTest, ANewHostStartsWithAFreshLine) {
  Start();
  Say("++addr 5\n++eos 3\n");
  Say("HALF A LI");
  emulator_->NewHost();
  Say("NE\n");
  // A pending escape goes with the old host too.
  Say("X\x1b");
  emulator_->NewHost();
  Say("\nY\n");
  EXPECT_EQ(listener_->received(), (std::vector<std::string>{"NE", "Y"}));
  // Settings stay, as in an adapter that keeps running.
  EXPECT_EQ(Say("++addr\n++eos\n"), "5\r\n3\r\n");
}

}  // namespace
}  // namespace kc
