// The simulated oscilloscope as the program meets it on the bus: commands and
// their irregular spellings, settings, message lines, events, service
// requests and replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/sim_scope.h"

namespace kc {
namespace {

using Lines = std::vector<std::string>;

class ScopeTest : public ::testing::Test {
 protected:
  // Sends a message and returns the reply, or "<none>" when there is none.
  std::string Send(const std::string& message) {
    scope_.Write(message);
    std::optional<std::string> reply = scope_.Talk();
    return reply ? *reply : "<none>";
  }
  void Step(double seconds) {
    clock_.Pass(seconds);
    scope_.Tick(clock_.Elapsed());
  }

  VirtualClock clock_{0};
  SimScope scope_{"2440", clock_};
};

TEST_F(ScopeTest, ShortenedFullAndBareKeywordsReachTheSameSetting) {
  struct Case {
    const char* command;
    const char* setting;
    const char* value;
  };
  const Case cases[] = {
      {"HOR ASE:.5E-4", "HORIZONTAL ASECDIV", ".5E-4"},
      {"ATR MOD:SGL", "ATR MODE", "SGLSEQ"},
      {"ATR MODE:NORM", "ATR MOD", "NORMAL"},
      {"ACQ MOD:NOR", "ACQ MODE", "NORMAL"},
      // Blanks around values carry no meaning; the number keeps its text.
      {"CH2 POS:-1.5 ;CH1 VAR: 50.5", "CH2 POS", "-1.5"},
      {"CURS UNI:VOL:PERC", "CURS UNI:VOL", "PERCENT"},
      {"CURS TPOS:ONE:387,TPOS:TWO:637", "CURSOR:TPOS:TWO", "637"},
      // A bare switch switches on.
      {"ACQ REP", "ACQ REP", "ON"},
      {"VMO CH1:OFF,CH2", "VMO CH1", "OFF"},
      {"DLYT DELT", "DLYT DELTA", "ON"},
      {"START 256;STOP 768", "STOP", "768"},
      {"RUN SAVE", "RUN", "SAVE"},
      {"USE ON", "NO SUCH", ""},
  };
  for (const Case& c : cases) {
    scope_.Write(c.command);
    EXPECT_EQ(scope_.Setting(c.setting), c.value) << c.command;
  }
  EXPECT_EQ(scope_.NumberSetting("CH1 VAR"), 50.5);
  EXPECT_EQ(scope_.Setting("VMO CH2"), "ON");
  EXPECT_EQ(scope_.errors(), Lines{});
}

TEST_F(ScopeTest, InitPanelRestoresThePanelButKeepsTheGpibSettings) {
  EXPECT_EQ(Send("ID?"), "ID AB/2440,V81.1\n");
  scope_.Write("PATH OFF;CH1 VOL:.002;ATR MOD:SGL;ACQ NUMAV:256");
  scope_.Write("INIT PANEL");
  EXPECT_EQ(scope_.Setting("CH1 VOL"), ".1");
  EXPECT_EQ(scope_.Setting("ATR MODE"), "AUTO");
  EXPECT_EQ(Send("ID?"), "AB/2440,V81.1\n");
  scope_.Write("INIT GPI");
  EXPECT_EQ(Send("ID?"), "ID AB/2440,V81.1\n");
}

TEST_F(ScopeTest, GarbageIsNotedAndIgnored) {
  // clang-format off
  const Lines bad = {
      "FOO 1", "CH1 VOL:abc", "CH1 VOL", "CH1 VOL:1E999", "CH1 VOL:0x10", "ATR MOD:SLG",
      "ATR FOO:1", "VMO CH1:MAYBE", "DLYT DLY:1", "CURS TPOS:THREE:1", "CURS NEWR:1",
      "MESS 17:\"x\"", "MESS 0:\"x\"", "MESS 3:no quotes", "MESS 3:\"unt", "MESS", "BELL 3",
      "EXE", "RUN FAST", "START", "ID", "CH1 VOL:.1,,POS:1", "?", "\x01\x7f\xff"};
  // clang-format on
  for (const std::string& message : bad) scope_.Write(message);
  EXPECT_EQ(scope_.errors().size(), bad.size());
  EXPECT_EQ(scope_.Setting("CH1 VOL"), ".1");
  EXPECT_EQ(scope_.Setting("ATR MODE"), "AUTO");
  EXPECT_EQ(scope_.screen(), Lines(16));
  EXPECT_FALSE(scope_.selfcal_running());

  // A good command among bad ones still works; queries it cannot answer get
  // no reply.
  scope_.Write("FOO;CH1 VOL:.05;BAR 2");
  EXPECT_EQ(scope_.Setting("CH1 VOL"), ".05");
  scope_.Write("PATH OFF");
  for (const char* query : {"CH?VAR", "FOO?", "MESS?", "CH1?FOO", "EVE?X"}) {
    EXPECT_EQ(Send(query), "<none>") << query;
  }
  EXPECT_EQ(scope_.errors().size(), bad.size() + 7);
}

TEST_F(ScopeTest, EventsRequestServiceOnceAndTheRegisterHoldsTheLatest) {
  EXPECT_EQ(scope_.SerialPoll(), 0);
  scope_.PressBezel(1);
  EXPECT_TRUE(scope_.RequestingService());
  EXPECT_EQ(scope_.SerialPoll(), 65);
  EXPECT_FALSE(scope_.RequestingService());
  EXPECT_EQ(scope_.SerialPoll(), 0);
  // Reading the event leaves a request for the poll to clear.
  scope_.Write("PATH OFF");
  EXPECT_EQ(Send("EVE?"), "450\n");
  scope_.PressBezel(3);
  EXPECT_EQ(Send("EVE?"), "452\n");
  EXPECT_EQ(scope_.SerialPoll(), 65);
  EXPECT_EQ(Send("EVE?"), "0\n");
  scope_.PressBezel(2);
  scope_.PressBezel(4);
  EXPECT_EQ(Send("EVE?"), "453\n");
  EXPECT_EQ(Send("EVE?"), "0\n");
  scope_.PressBezel(5);
  EXPECT_EQ(Send("EVE?"), "454\n");

  scope_.SerialPoll();
  scope_.PressMenuOff();
  EXPECT_FALSE(scope_.RequestingService());
  // A bezel press in between starts the count again.
  scope_.PressBezel(1);
  scope_.PressMenuOff();
  EXPECT_EQ(Send("EVE?"), "450\n");
  scope_.PressMenuOff();
  EXPECT_EQ(Send("EVE?"), "650\n");
  // Buttons that are not on the instrument do nothing.
  scope_.SerialPoll();
  scope_.PressBezel(0);
  scope_.PressBezel(6);
  EXPECT_FALSE(scope_.RequestingService());
  EXPECT_EQ(Send("EVE?"), "0\n");
}

TEST_F(ScopeTest, SelfCalibrationAndSingleSequenceEndWithAServiceRequest) {
  clock_.Pass(100);
  scope_.Write("TESTT SELFC;EXE");
  EXPECT_EQ(scope_.NextEventTime(), 108.0);
  scope_.Tick(107.9);
  EXPECT_FALSE(scope_.RequestingService());
  scope_.Tick(108.0);
  EXPECT_TRUE(scope_.RequestingService());
  EXPECT_EQ(scope_.selfcals(), 1);
  EXPECT_FALSE(scope_.NextEventTime().has_value());
  scope_.SerialPoll();

  // Averaging 128 acquisitions of 20 ms in single-sequence mode.
  scope_.Write("HOR ASE:.5E-4;ATR MOD:SGL;ACQ MOD:AVG;ACQ NUMAV:128;RUN ACQ");
  ASSERT_TRUE(scope_.NextEventTime().has_value());
  EXPECT_NEAR(*scope_.NextEventTime(), 102.56, 1e-9);
  Step(2.5);
  EXPECT_FALSE(scope_.RequestingService());
  Step(0.07);
  EXPECT_TRUE(scope_.RequestingService());
  EXPECT_EQ(scope_.acquisitions(), 1);
  // Without averaging one acquisition is enough; "RUN SAVE" stops it.
  scope_.Write("ACQ MOD:NOR;RUN ACQ");
  EXPECT_NEAR(*scope_.NextEventTime(), 102.59, 1e-9);
  scope_.Write("RUN SAVE");
  EXPECT_FALSE(scope_.NextEventTime().has_value());
  // Free-running acquisition never ends on its own.
  scope_.SerialPoll();
  scope_.Write("ATR MOD:AUTO;RUN ACQ");
  EXPECT_FALSE(scope_.NextEventTime().has_value());
  Step(1000);
  EXPECT_FALSE(scope_.RequestingService());
}

TEST_F(ScopeTest, SettingQueriesAnswerAndANewMessageDropsAnUnreadReply) {
  scope_.Write("CH1 VAR: 50.5");
  EXPECT_EQ(Send("CH1?VAR"), "CH1 VARIABLE:50.5\n");
  scope_.Write("PATH OFF");
  // The replies to one message's queries are joined by ";".
  EXPECT_EQ(Send("CH1?VAR;ATR?MODE"), "50.5;AUTO\n");
  EXPECT_EQ(Send("CURS?TPOS:ONE"), "412\n");
  EXPECT_EQ(scope_.errors(), Lines{});

  // A new message drops an unread reply, and so does a device clear.
  scope_.Write("ID?");
  scope_.Write("CH1 VOL:.05");
  EXPECT_EQ(scope_.Talk(), std::nullopt);
  scope_.Write("ID?");
  scope_.Clear();
  EXPECT_EQ(scope_.Talk(), std::nullopt);
}

}  // namespace
}  // namespace kc
