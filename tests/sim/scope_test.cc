// The simulated oscilloscope as the program meets it on the bus: commands and
// their irregular spellings, settings, message lines, events, service
// requests and replies.
#include <gtest/gtest.h>

#include <random>
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

  VirtualClock clock_{0};
  SimScope scope_{"2440", clock_};
};

TEST_F(ScopeTest, EveryCommandFormOfTheChecksIsReadWithoutError) {
  // Commands as the checks send them, irregular spellings included.
  const Lines commands = {
      "INIT GPI;PATH OFF;USE;BELL",
      "INIT PANEL;VMO CH1:OFF;ATR MOD:AUTO",
      "INIT BOTH;CH1 COU:GND,POS:+.5",
      "VMO CH2;CH2 COU:GND,POS:-.5",
      "VMO CH1;HOR ASEC:1E-4;ATR LEV:-0.05;CH1 POS:2",
      "VMO CH1:OFF,CH2;CH2 POS:2",
      "MESS CLR;VMO CH1;CH1 FIF;CH2 FIF",
      "HOR ASEC:5E-6;ACQ REP:ON;DAT SOU:CH1",
      "HOR ASEC:5E-9;ACQ REP:OFF",
      "MESS CLR;ACQ REP:ON",
      "RUN SAVE",
      "VMO CH2;ATR SOU:CH2",
      "MESS CLR;CH1 VOL:.01,FIF,POS:2.5",
      "CH2 VOL:.01,FIF,POS:2.5;VMO CH1",
      "ATR LEV:-.01;HOR ASEC:1E-7;ACQ MOD:AVG,NUMAV:4",
      "MESS CLR;HOR POS:512;CURS FUN:V.T,UNI:VOL:PERC",
      "CURS TPOS:ONE:307,TPOS:TWO:717;ACQ REP",
      "CURS NEWR;HOR POS:615",
      "CURS TPOS:ONE:613",
      "CURS NEWR,TPOS:TWO:818",
      "MESS CLR;CH1 POS:-3.9;ACQ REP",
      "CURS FUN:OFF;VMO CH1:OFF;MESS CLR;ACQ REP:OFF",
      "HOR ASE:.5E-4;ATR MOD:SGL;ACQ MOD:AVG;ATR LEV:.1;MEN",
      "CURS FUN:V.T;CURS UNI:VOL:PERC",
      "VMO CH2,CH1:OFF",
      "CH2 POS:-1;ACQ NUMAV:128;RUN ACQ",
      "CURS NEWR;ACQ NUMAV:64;MEN",
      "CH1 POS:-4.8",
      "VMO CH1;CH1 FIF;CH2 FIF;ATR SOU:CH1;ACQ NUMAV:32,REP;HOR ASEC:10E-6",
      "START 256;STOP 768;DAT SOU:ADD",
      "VMO CH1:OFF,ADD",
      "CH1 VOL:.05,INV;CH2 VOL:.05,INV:OFF",
      "HOR ASEC:50E-6;MESS CLR",
      "CH1 VAR: 50.5",
      "VMO ADD:OFF;HOR ASEC:20E-9",
      "VMO ADD;ACQ MODE:AVG;MESS CLR",
      "RUN SAVE;VMO ADD:OFF",
      "CH1 VAR:0;CH2 VAR:0;ACQ MODE:NORM;HOR ASEC:10E-6;RUN ACQ",
      "MESS CLR;CH1 VOL:.2,FIF",
      "HOR ASEC:2E-6;ATR SOU:EXT1;VMO CH1",
      "ATR LEV:0,COU:DC,SLO:PLUS,SOU:EXT2",
      "ATR LEV:-.6",
      "ATR SLO:MINUS",
      "ATR LEV:0,SLO:PLUS",
      "ATR COU:AC",
      "ATR COU:HFR",
      "ATR COU:LFR",
      "VMO CH1;CH1 VOL:5E-1,POS:-1.36,FIF;ATR MOD:NORM,LEV:.5;HOR ASEC:.5E-3",
      "HOR ASEC:1E-3,BSEC:1E-3;MESS CLR",
      "VMO CH1:OFF;ATR LEV:-.5;BTR LEV:-.5",
      "HOR POS:512,MOD:ASW;BTR POS:16;DLYT DELT:OFF",
      "MESS CLR;VMO CH1;ATR LEV:.5",
      "ACQ REP",
      "HOR MOD:BSW;BTR LEV:.5,MOD:TRI",
      "HOR BSEC:5E-6,POS:456;BTR POS:8,MODE:RUNS;DLYT DELT",
      ";DLYT DLY1:1E-3,DLY2:1.096E-2",
      "CH1 VOL:.05,FIF;CH2 VOL:.05,FIF",
      "VMO CH1;HOR ASEC:2E-6",
      "VMO CH2;HOR ASEC:5E-6,BSEC:2E-6,MODE:BSW",
      "DLYT DLY1:10E-6;BTR MOD:TRI,SOU:CH2;ATR ABSE:B;MESS CLR",
      "BTR LEV:.15",
      "BTR SLO:MINUS",
      "BTR LEV:0,SLO:PLUS",
      "BTR COU:HFR",
      "MESS CLR;MESS 9:\"          SELFCAL IN PROGRESS \"",
      "TESTT SELFC;EXE",
      "VMO CH1;CH1 POS:-2.5,VOL:0.002;HOR ASEC:2E-4;ATR LEV:0.005,COU:HFR;RUN ACQ",
      "CH2 POS:-2.5",
      "ATR MODE:SGL;HOR ASEC:5E-5;MEN;USE ON",
      "ACQ NUMAV:256",
      "CH1 VOL:.002;CH2 VOL:.002;ATR LEV:0.008;MEN",
      "BELL;MESS CLR;INTENSI REA:65",
      "ACQ MOD:AVG;CURS FUN:V.T;MEN",
      "VMO CH1,CH2:OFF;RUN ACQ",
      "CURS FUN:OFF;INTENSI REA:0;VMO CH2:OFF;ACQ MOD:NOR;MEN",
      "VMO CH1;HOR ASEC:.1E-3;ATR LEV:0.25;CH1 POS:-2.5",
      "MESS CLR;CURS FUN:V.T",
      "CURS TPOS:ONE:387,TPOS:TWO:637",
      "ACQ MOD:AVG,NUMAV:128",
      "CURS FUN:OFF;ACQ MOD:NOR;CH1 POS:-2",
      "MESS CLR, 9:\"       CHANGE TIMEMARKERS TO 100 \\<S\"",
      "MESS CLR,12:\"            \\b\\a\\n\\d\\w\\i\\d\\t\\h           \\f\\a\\i\\l\";BELL",
  };
  for (const std::string& command : commands) scope_.Write(command);
  EXPECT_EQ(scope_.errors(), Lines{});
  EXPECT_EQ(scope_.received(), commands);
}

TEST_F(ScopeTest, ShortenedAndFullKeywordsReachTheSameSetting) {
  scope_.Write("HOR ASE:.5E-4");
  EXPECT_EQ(scope_.Setting("HOR ASEC"), ".5E-4");
  EXPECT_EQ(scope_.Setting("HORIZONTAL ASECDIV"), ".5E-4");
  scope_.Write("ATR MOD:SGL");
  EXPECT_EQ(scope_.Setting("ATR MODE"), "SGLSEQ");
  scope_.Write("ATR MODE:NORM");
  EXPECT_EQ(scope_.Setting("ATR MOD"), "NORMAL");
  scope_.Write("ACQ MOD:NOR");
  EXPECT_EQ(scope_.Setting("ACQ MODE"), "NORMAL");
  // Blanks around values carry no meaning; the number keeps its text.
  scope_.Write("CH2 POS:-1.5 ;CH1 VAR: 50.5");
  EXPECT_EQ(scope_.Setting("CH2 POS"), "-1.5");
  EXPECT_EQ(scope_.NumberSetting("CH1 VAR"), 50.5);
  // Sub-keys.
  scope_.Write("CURS UNI:VOL:PERC;CURS TPOS:ONE:387,TPOS:TWO:637");
  EXPECT_EQ(scope_.Setting("CURS UNI:VOL"), "PERCENT");
  EXPECT_EQ(scope_.Setting("CURS TPOS ONE"), "387");
  EXPECT_EQ(scope_.Setting("CURSOR:TPOS:TWO"), "637");
  // Switches: a bare key switches on.
  scope_.Write("ACQ REP");
  EXPECT_EQ(scope_.Setting("ACQ REP"), "ON");
  scope_.Write("VMO CH1:OFF,CH2");
  EXPECT_EQ(scope_.Setting("VMO CH1"), "OFF");
  EXPECT_EQ(scope_.Setting("VMO CH2"), "ON");
  scope_.Write("DLYT DELT");
  EXPECT_EQ(scope_.Setting("DLYT DELTA"), "ON");
  // Headers with one bare argument.
  scope_.Write("START 256;STOP 768;RUN SAVE;USE ON");
  EXPECT_EQ(scope_.Setting("START"), "256");
  EXPECT_EQ(scope_.Setting("STOP"), "768");
  EXPECT_EQ(scope_.Setting("RUN"), "SAVE");
  EXPECT_EQ(scope_.Setting("USE"), "ON");
  EXPECT_EQ(scope_.Setting("NO SUCH"), "");
  EXPECT_EQ(scope_.errors(), Lines{});
}

TEST_F(ScopeTest, InitPanelRestoresThePanelButKeepsTheGpibSettings) {
  scope_.Write("PATH OFF;CH1 VOL:.002;ATR MOD:SGL;ACQ NUMAV:256");
  scope_.Write("INIT PANEL");
  EXPECT_EQ(scope_.Setting("CH1 VOL"), ".1");
  EXPECT_EQ(scope_.Setting("ATR MODE"), "AUTO");
  EXPECT_EQ(scope_.Setting("PATH"), "OFF");
  EXPECT_EQ(Send("ID?"), "AB/2440,V81.1\n");
  scope_.Write("INIT GPI");
  EXPECT_EQ(Send("ID?"), "ID AB/2440,V81.1\n");
}

TEST_F(ScopeTest, GarbageIsNotedAndIgnored) {
  const Lines bad = {
      "FOO 1",                  // unknown header
      "CH1 VOL:abc",            // not a number
      "CH1 VOL",                // number missing
      "CH1 VOL:1E999",          // out of range for any number
      "CH1 VOL:0x10",           // not a decimal number
      "ATR MOD:SLG",            // unknown choice
      "ATR FOO:1",              // unknown key
      "VMO CH1:MAYBE",          // a switch is ON or OFF
      "DLYT DLY:1",             // ambiguous shortening
      "CURS TPOS:THREE:1",      // unknown sub-key
      "CURS NEWR:1",            // an action takes no value
      "MESS 17:\"x\"",          // no such line
      "MESS 0:\"x\"",           // no such line
      "MESS 3:no quotes",       // text without quotes
      "MESS 3:\"unterminated",  // quote left open
      "MESS",                   // nothing to show
      "BELL 3",                 // takes no argument
      "EXE",                    // nothing selected
      "RUN FAST",               // unknown argument
      "START",                  // number missing
      "ID",                     // a query without "?"
      "CH1 VOL:.1,,POS:1",      // empty argument
      "?",                      // no header
      "\x01\x7f\xff",           // not text at all
  };
  for (const std::string& message : bad) scope_.Write(message);
  EXPECT_EQ(scope_.errors().size(), bad.size());
  // The settings the bad commands named are untouched.
  EXPECT_EQ(scope_.Setting("CH1 VOL"), ".1");
  EXPECT_EQ(scope_.Setting("ATR MODE"), "AUTO");
  EXPECT_EQ(scope_.screen(), Lines(16));
  EXPECT_FALSE(scope_.selfcal_running());
}

TEST_F(ScopeTest, AGoodCommandAfterABadOneInTheSameMessageStillWorks) {
  scope_.Write("FOO;CH1 VOL:.05;BAR 2");
  EXPECT_EQ(scope_.errors().size(), 2u);
  EXPECT_EQ(scope_.Setting("CH1 VOL"), ".05");
}

TEST_F(ScopeTest, QueriesItCannotAnswerGiveNoReply) {
  scope_.Write("PATH OFF");
  EXPECT_EQ(Send("CH?VAR"), "<none>");
  EXPECT_EQ(Send("FOO?"), "<none>");
  EXPECT_EQ(Send("MESS?"), "<none>");
  EXPECT_EQ(Send("CH1?FOO"), "<none>");
  EXPECT_EQ(Send("EVE?X"), "<none>");
  EXPECT_EQ(scope_.errors().size(), 5u);
}

TEST_F(ScopeTest, RandomBytesNeverCrashTheInstrument) {
  std::mt19937 random(2430);
  std::uniform_int_distribution<int> length(0, 60);
  // Mostly characters of the command syntax, so that the parser goes deep.
  const std::string alphabet = "CHMESVOLATR12;:,\"\\? .-E0";
  std::uniform_int_distribution<int> pick(0, static_cast<int>(alphabet.size()) + 20);
  for (int round = 0; round < 5000; ++round) {
    std::string message;
    for (int i = length(random); i > 0; --i) {
      int c = pick(random);
      message += c < static_cast<int>(alphabet.size()) ? alphabet[static_cast<std::size_t>(c)]
                                                       : static_cast<char>(random() & 0xFF);
    }
    scope_.Write(message);
    scope_.Talk();
  }
  EXPECT_EQ(scope_.received().size(), 5000u);
  EXPECT_EQ(scope_.screen().size(), 16u);
}

TEST_F(ScopeTest, MessageLinesKeepTheirTextsAndEscapesVerbatim) {
  int changes = 0;
  scope_.SetScreenListener([&] { ++changes; });
  scope_.Write("MESS 16:\"CONNECT PG 506, HI AMP, 1 \\4H\\&, TO CH1\"");
  scope_.Write("MESS 15:\"THRU A 50\\J X5 ATT+TERM+15\\>F NORMALIZER\"");
  // A semicolon or comma inside the quotes belongs to the text.
  scope_.Write("MESS 8:\"         CALCULATED: 400.0\\;V, ok\";BELL");
  scope_.Write("MESS 1:\"    PRESS ANY BEZEL BUTTON WHEN READY\"");
  Lines expected(16);
  expected[15] = "CONNECT PG 506, HI AMP, 1 \\4H\\&, TO CH1";
  expected[14] = "THRU A 50\\J X5 ATT+TERM+15\\>F NORMALIZER";
  expected[7] = "         CALCULATED: 400.0\\;V, ok";
  expected[0] = "    PRESS ANY BEZEL BUTTON WHEN READY";
  EXPECT_EQ(scope_.screen(), expected);
  EXPECT_EQ(scope_.bells(), 1);
  EXPECT_EQ(changes, 5);  // four lines and the bell

  // "MESS CLR,n:" clears every line, then writes line n; the blank after the
  // comma is allowed.
  scope_.Write("MESS CLR, 9:\"         *** CLOSING PROGRAM ***\"");
  Lines closing(16);
  closing[8] = "         *** CLOSING PROGRAM ***";
  EXPECT_EQ(scope_.screen(), closing);
  scope_.Write("MESS CLR");
  EXPECT_EQ(scope_.screen(), Lines(16));
  EXPECT_EQ(scope_.errors(), Lines{});
}

TEST_F(ScopeTest, IdentityCarriesItsHeaderUntilPathOff) {
  EXPECT_EQ(Send("ID?"), "ID AB/2440,V81.1\n");
  scope_.Write("INIT GPI;PATH OFF;USE;BELL");
  EXPECT_EQ(Send("ID?"), "AB/2440,V81.1\n");
  SimScope other("2430A", clock_);
  other.Write("ID?");
  EXPECT_EQ(other.Talk(), "ID AB/2430A,V81.1\n");
  EXPECT_EQ(other.model(), "2430A");
}

TEST_F(ScopeTest, EventRegisterHoldsTheMostRecentEventAndIsClearedByReading) {
  scope_.Write("PATH OFF");
  EXPECT_EQ(Send("EVE?"), "0\n");
  scope_.PressBezel(2);
  scope_.PressBezel(4);
  EXPECT_EQ(Send("EVE?"), "453\n");
  EXPECT_EQ(Send("EVE?"), "0\n");
  scope_.PressBezel(1);
  EXPECT_EQ(Send("EVE?"), "450\n");
  scope_.PressBezel(5);
  EXPECT_EQ(Send("EVE?"), "454\n");
}

TEST_F(ScopeTest, MenuOffTwiceInARowIsTheLeaveEvent) {
  scope_.Write("PATH OFF");
  scope_.PressMenuOff();
  EXPECT_FALSE(scope_.RequestingService());
  EXPECT_EQ(Send("EVE?"), "0\n");
  // A bezel press in between starts the count again.
  scope_.PressBezel(3);
  scope_.PressMenuOff();
  EXPECT_EQ(Send("EVE?"), "452\n");
  scope_.PressMenuOff();
  EXPECT_TRUE(scope_.RequestingService());
  EXPECT_EQ(Send("EVE?"), "650\n");
  // Buttons that are not on the instrument do nothing.
  scope_.SerialPoll();
  scope_.PressBezel(0);
  scope_.PressBezel(6);
  EXPECT_FALSE(scope_.RequestingService());
  EXPECT_EQ(Send("EVE?"), "0\n");
}

TEST_F(ScopeTest, SerialPollReportsAPendingRequestOnce) {
  EXPECT_EQ(scope_.SerialPoll(), 0);
  scope_.PressBezel(1);
  EXPECT_TRUE(scope_.RequestingService());
  EXPECT_EQ(scope_.SerialPoll(), 65);
  EXPECT_FALSE(scope_.RequestingService());
  EXPECT_EQ(scope_.SerialPoll(), 0);
  // Reading the event leaves a request for the poll to clear.
  scope_.PressBezel(2);
  Send("EVE?");
  EXPECT_EQ(scope_.SerialPoll(), 65);
}

TEST_F(ScopeTest, SelfCalibrationRequestsServiceAfterEightSeconds) {
  clock_.Pass(100);
  scope_.Write("MESS CLR;MESS 9:\"          SELFCAL IN PROGRESS \"");
  scope_.Write("TESTT SELFC;EXE");
  ASSERT_TRUE(scope_.NextEventTime().has_value());
  EXPECT_DOUBLE_EQ(*scope_.NextEventTime(), 108.0);
  scope_.Tick(107.9);
  EXPECT_FALSE(scope_.RequestingService());
  scope_.Tick(108.0);
  EXPECT_TRUE(scope_.RequestingService());
  EXPECT_EQ(scope_.selfcals(), 1);
  EXPECT_FALSE(scope_.NextEventTime().has_value());
  EXPECT_EQ(scope_.SerialPoll(), 65);
}

TEST_F(ScopeTest, SingleSequenceAcquisitionEndsWithAServiceRequest) {
  // Averaging 128 acquisitions of 20 ms in single-sequence mode.
  scope_.Write("HOR ASE:.5E-4;ATR MOD:SGL;ACQ MOD:AVG;ATR LEV:.1;MEN");
  scope_.Write("CH1 POS:-1;ACQ NUMAV:128;RUN ACQ");
  ASSERT_TRUE(scope_.NextEventTime().has_value());
  EXPECT_NEAR(*scope_.NextEventTime(), 2.56, 1e-9);
  clock_.Pass(2.5);
  scope_.Tick(clock_.Elapsed());
  EXPECT_FALSE(scope_.RequestingService());
  clock_.Pass(0.06);
  scope_.Tick(clock_.Elapsed());
  EXPECT_TRUE(scope_.RequestingService());
  EXPECT_EQ(scope_.acquisitions(), 1);
  scope_.SerialPoll();

  // Without averaging one acquisition is enough.
  scope_.Write("ACQ MOD:NOR;RUN ACQ");
  EXPECT_NEAR(*scope_.NextEventTime(), 2.58, 1e-9);

  // "RUN SAVE" stops it; nothing more is signalled.
  scope_.Write("RUN SAVE");
  EXPECT_FALSE(scope_.NextEventTime().has_value());

  // Free-running acquisition never ends on its own.
  scope_.Write("ATR MOD:AUTO;RUN ACQ");
  EXPECT_FALSE(scope_.NextEventTime().has_value());
  scope_.Tick(1000);
  EXPECT_FALSE(scope_.RequestingService());
}

TEST_F(ScopeTest, SetRepliesAreUsedInOrderThenTheNeutralReading) {
  scope_.Write("PATH OFF");
  scope_.SetReplies("CURS?DISP:VAL", {"0.5", "0.398"});
  scope_.SetReplies("MAX?", {"1.25"});
  EXPECT_EQ(Send("CURS?DISP:VAL"), "0.5\n");
  // Any accepted spelling of the query takes from the same list.
  EXPECT_EQ(Send("CURSOR? DISPLAY:VALUE"), "0.398\n");
  EXPECT_EQ(Send("CURS?DISP:VAL"), "0\n");
  EXPECT_EQ(Send("MAX?;MINI?"), "1.25;0\n");
  EXPECT_EQ(Send("MAX?"), "0\n");
  EXPECT_EQ(scope_.errors(), Lines{});
}

TEST_F(ScopeTest, SettingQueriesAnswerFromTheSettings) {
  scope_.Write("CH1 VAR: 50.5");
  EXPECT_EQ(Send("CH1?VAR"), "CH1 VARIABLE:50.5\n");
  scope_.Write("PATH OFF");
  EXPECT_EQ(Send("CH1?VAR"), "50.5\n");
  EXPECT_EQ(Send("CH2?VAR"), "0\n");
  EXPECT_EQ(Send("ATR?MODE"), "AUTO\n");
  EXPECT_EQ(Send("CURS?TPOS:ONE"), "412\n");
}

TEST_F(ScopeTest, ANewMessageDropsAnUnreadReplyAndClearDropsIt) {
  scope_.Write("PATH OFF;ID?");
  scope_.Write("CH1 VOL:.05");
  EXPECT_EQ(scope_.Talk(), std::nullopt);
  scope_.Write("ID?");
  scope_.Clear();
  EXPECT_EQ(scope_.Talk(), std::nullopt);
}

}  // namespace
}  // namespace kc
