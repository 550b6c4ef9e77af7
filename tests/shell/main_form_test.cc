// The checkout shell on the simulated bus: start-up and identification, the
// bezel menu, the bezel-event procedures and closing. Expected command streams
// are written out from the instrument dialogue, command by command.
#include "shell/main_form.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "shell/scripted_device.h"
#include "sim/sim_bus.h"
#include "support/checkout_bench.h"
#include "support/test_platform.h"
#include "support/traced_form.h"

namespace kc {
namespace {

using Stream = std::vector<std::string>;

const std::string kFrameRow = [] {
  std::string row = "\"";
  for (int i = 0; i < 40; ++i) row += "\\0";
  return row + "\"";
}();

Stream TitleScreen() {
  return {"INIT PANEL;VMO CH1:OFF;ATR MOD:AUTO",
          "MESS CLR,14:" + kFrameRow,
          "MESS 12:\"       *** KALVENTA CHECKOUT ***\"",
          "MESS 11:\"  *** 2.0 / 1994-2026 ***\"",
          "MESS 10:\"   GUIDED CHECKOUT FOR THE 2430 FAMILY\"",
          "MESS 9:" + kFrameRow,
          "MESS 5:\"  PRESS MENU OFF TWICE TO EXIT A TEST\""};
}

Stream Page(int page, bool variant_b = false) {
  switch (page) {
    case 1:
      if (variant_b) {
        return {"MESS 2:\"  ATTEN   POS     SAMPL   PAGE    QUIT\"",
                "MESS 1:\"  COMP   EFFECT   SKEW    TWO\""};
      }
      return {"MESS 2:\"  ATTEN   CCD     SAMPL   PAGE    QUIT\"",
              "MESS 1:\"  COMP    CTE     SKEW    TWO\""};
    case 2:
      return {"MESS 2:\"  CCD     VERT    CMRR    PAGE    PAGE\"",
              "MESS 1:\"  LIN     ACC             THREE   ONE\""};
    case 3:
      return {"MESS 2:\" BAND-   TIMING   CALI-   PAGE    PAGE\"",
              "MESS 1:\" WIDTH            BRATOR  FOUR    TWO  \""};
    default:
      return {"MESS 2:\"   A       B      EXT     PAGE    PAGE\"",
              "MESS 1:\"  TRIG    TRIG   TRIGS    ONE     THREE\""};
  }
}

const Stream kClosing = {"MESS CLR,9:\"         *** CLOSING PROGRAM ***\"",
                         "INIT BOTH;CH1 COU:GND,POS:+.5", "VMO CH2;CH2 COU:GND,POS:-.5"};

Stream Concat(std::initializer_list<Stream> parts) {
  Stream all;
  for (const Stream& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Start-up as the oscilloscope sees it: the identification during the search
// (asked twice when its identity holds "243" but not "244": once in the search
// for "244", once in the search for "243"), the identity query, the menu's
// preparation and its emptied event queue.
Stream StartUp(bool answers_244 = true) {
  Stream stream = {"ID?", "ID?", "INIT GPI;PATH OFF;USE;BELL", "EVE?"};
  if (!answers_244) stream.insert(stream.begin(), "ID?");
  return stream;
}

TEST(StartUp, OpensTheInstrumentAndWritesCaptionIntroAndHint) {
  CheckoutBench bench({.model = "2440", .address = 1, .operator_script = "b5"});
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(bench.received(),
            Concat({StartUp(), TitleScreen(), Page(1, true), {"EVE?"}, kClosing}));
  TestPlatform& platform = bench.platform();
  EXPECT_EQ(platform.caption.rfind("Kalventa Checkout, v2.0", 0), 0u) << platform.caption;
  EXPECT_EQ(platform.intro_text,
            "Kalventa Checkout, v2.0 / 1994-2026 - guided performance checkout over GPIB");
  EXPECT_NEAR(platform.intro_closed_at - platform.intro_opened_at, 2.0, 0.01);
  EXPECT_EQ(platform.hint, "Use the Bezel Buttons of the 2440 on GPIB address 1");
  EXPECT_EQ(bench.form().ModelText, "2440");
  EXPECT_EQ(bench.form().ModelIndex, 7);
  EXPECT_TRUE(platform.boxes.empty());
}

TEST(StartUp, ModelIndexAndMenuVariantFollowTheIdentity) {
  struct Case {
    const char* model;
    int address;
    int index;
    bool variant_b;
  };
  for (const Case& c :
       {Case{"2430", 3, 1, false}, Case{"2430A", 7, 2, false}, Case{"2431L", 12, 3, true},
        Case{"2432", 1, 4, true}, Case{"2432A", 30, 5, true}, Case{"2439L", 2, 6, true}}) {
    SCOPED_TRACE(c.model);
    CheckoutBench bench({.model = c.model, .address = c.address, .operator_script = "b5"});
    EXPECT_EQ(bench.Run(), kExitClosed);
    EXPECT_EQ(bench.form().ModelText, c.model);
    EXPECT_EQ(bench.form().ModelIndex, c.index);
    EXPECT_EQ(bench.platform().hint, std::string("Use the Bezel Buttons of the ") + c.model +
                                         " on GPIB address " + std::to_string(c.address));
    EXPECT_EQ(bench.received(),
              Concat({StartUp(false), TitleScreen(), Page(1, c.variant_b), {"EVE?"}, kClosing}));
  }
}

TEST(StartUp, PrefersThe244InstrumentWhenBothKindsAnswer) {
  CheckoutBench bench(
      {.model = "2440", .address = 9, .operator_script = "b5", .extra_devices = {"3=scope:2430"}});
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(bench.platform().hint, "Use the Bezel Buttons of the 2440 on GPIB address 9");
  EXPECT_EQ(bench.received(),
            Concat({StartUp(), TitleScreen(), Page(1, true), {"EVE?"}, kClosing}));
}

// A bus assembled by hand, for the start-up failures and the event procedures.
struct Rig {
  TestPlatform platform;
  SimBus bus{platform};
  GpibBinding gpib{bus};
  InstrumentOps ops{gpib, platform};
  MainForm form{ops};

  ScriptedDevice& Add(int pad) {
    auto device = std::make_unique<ScriptedDevice>();
    ScriptedDevice& ref = *device;
    bus.Attach(pad, std::move(device));
    return ref;
  }
  int Run(const std::function<void()>& body) {
    try {
      body();
    } catch (const ProgramEnd& end) {
      return end.code;
    }
    return -1;
  }
};

TEST(StartUp, NoListenerEndsTheProgram) {
  Rig rig;
  EXPECT_EQ(rig.Run([&] { rig.form.Form_Load(); }), kExitFatal);
  ASSERT_EQ(rig.platform.boxes.size(), 1u);
  const RecordedBox& box = rig.platform.boxes[0];
  EXPECT_EQ(box.prompt, "No listeners found.\n\nCorrect problem and restart.");
  EXPECT_EQ(box.title, "Initialization Error 14");
  EXPECT_EQ(box.icon, MsgIcon::kCritical);
  EXPECT_EQ(box.buttons, MsgButtons::kOk);
}

TEST(StartUp, MoreListenersThanTheTableHoldsEndsTheProgram) {
  Rig rig;
  std::vector<ScriptedDevice*> devices;
  for (int pad = 1; pad <= 15; ++pad) devices.push_back(&rig.Add(pad));
  EXPECT_EQ(rig.Run([&] { rig.form.Form_Load(); }), kExitFatal);
  ASSERT_EQ(rig.platform.boxes.size(), 1u);
  EXPECT_EQ(rig.platform.boxes[0].prompt,
            "Too many listeners found.\nMax 14 listeners allowed.\n\nCorrect problem and restart.");
  EXPECT_EQ(rig.platform.boxes[0].title, "Initialization Error 20");
  for (ScriptedDevice* device : devices) EXPECT_TRUE(device->received.empty());
}

TEST(StartUp, NoMatchingIdentityShowsTheRepliesAndEnds) {
  Rig rig;
  ScriptedDevice& other = rig.Add(4);
  other.defaults["ID?"] = "XY/1234,V1";
  EXPECT_EQ(rig.Run([&] { rig.form.Form_Load(); }), kExitFatal);
  // The search for "244" is silent; the one for "243" reports.
  ASSERT_EQ(rig.platform.boxes.size(), 1u);
  const RecordedBox& box = rig.platform.boxes[0];
  EXPECT_EQ(box.prompt,
            "ID Query: ID?\n\nExpected Response: 243\n\nReceived Response(s):\nXY/1234,V1\n\n"
            "Correct the problem and restart. Program will end.");
  EXPECT_EQ(box.title, "Expected Id-response from device not found" + std::string(40, ' '));
  EXPECT_EQ(box.icon, MsgIcon::kCritical);
  EXPECT_EQ(other.received, (Stream{"ID?", "ID?"}));
  // One descriptor served both searches: cleared once per search.
  EXPECT_EQ(other.clears, 2);
}

TEST(StartUp, IdentityWithoutModelFieldEndsWithABox) {
  Rig rig;
  ScriptedDevice& scope = rig.Add(1);
  scope.defaults["ID?"] = "2440";
  EXPECT_EQ(rig.Run([&] { rig.form.Form_Load(); }), kExitFatal);
  ASSERT_EQ(rig.platform.boxes.size(), 1u);
  EXPECT_NE(rig.platform.boxes[0].prompt.find("Received Response: 2440"), std::string::npos);
  EXPECT_EQ(rig.platform.boxes[0].icon, MsgIcon::kCritical);
  EXPECT_EQ(scope.received, (Stream{"ID?", "ID?"}));
}

TEST(StartUp, ReplyWithoutSlashKeepsTheWholeFirstField) {
  Rig rig;
  ScriptedDevice& scope = rig.Add(2);
  scope.defaults["ID?"] = "SCOPE 2440,V1";
  EXPECT_EQ(rig.Run([&] { rig.form.Form_Load(); }), -1);
  EXPECT_EQ(rig.form.ModelText, "SCOPE 2440");
  EXPECT_EQ(rig.form.ModelIndex, 0);
  EXPECT_EQ(rig.platform.hint, "Use the Bezel Buttons of the SCOPE 2440 on GPIB address 2");
}

TEST(Intro, ZeroSecondsShowsNothingAndAClickClosesItEarly) {
  Rig rig;
  rig.form.TitleText = "Kalventa Checkout";
  Integer zero = 0;
  rig.form.Intro(zero);
  EXPECT_FALSE(rig.platform.intro_opened_at >= 0);

  rig.form.VersionText = "2.0";
  rig.platform.click_at = 0.5;
  Integer two = 2;
  rig.form.Intro(two);
  EXPECT_EQ(rig.platform.intro_text, "Kalventa Checkout, v2.0");
  EXPECT_NEAR(rig.platform.intro_closed_at, 0.5, 0.01);
  EXPECT_FALSE(rig.platform.intro_shown);
}

TEST(Menu, PageChangesDrawNoTitleScreen) {
  // Page 1 button 4 to page 2, button 5 back to page 1, QUIT.
  CheckoutBench bench({.model = "2430A", .operator_script = "b4,b5,b5"});
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(bench.received(), Concat({StartUp(false),
                                      TitleScreen(),
                                      Page(1),
                                      {"EVE?"},
                                      Page(2),
                                      {"EVE?"},
                                      Page(1),
                                      {"EVE?"},
                                      kClosing}));
}

TEST(Menu, WalksAllFourPages) {
  // 1 -> 2 -> 3 -> 4 -> 3 -> 2 -> 1, then QUIT.
  CheckoutBench bench({.model = "2432", .operator_script = "b4,b4,b4,b5,b5,b5,b5"});
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(bench.received(), Concat({StartUp(false),
                                      TitleScreen(),
                                      Page(1, true),
                                      {"EVE?"},
                                      Page(2),
                                      {"EVE?"},
                                      Page(3),
                                      {"EVE?"},
                                      Page(4),
                                      {"EVE?"},
                                      Page(3),
                                      {"EVE?"},
                                      Page(2),
                                      {"EVE?"},
                                      Page(1, true),
                                      {"EVE?"},
                                      kClosing}));
}

TEST(Menu, LeaveEventEndsTheProgramFromAnyPage) {
  CheckoutBench bench({.model = "2440", .operator_script = "b4,b4,leave"});
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(bench.received(), Concat({StartUp(),
                                      TitleScreen(),
                                      Page(1, true),
                                      {"EVE?"},
                                      Page(2),
                                      {"EVE?"},
                                      Page(3),
                                      {"EVE?"},
                                      kClosing}));
}

TEST(Menu, EventWithoutMeaningRedrawsThePageOnly) {
  CheckoutBench bench({.model = "2440", .operator_script = "b1,b5"});
  // The press is reported as 449, button 0: no action, no title screen.
  bench.scope().SetReplies("EVE?", {"0", "449"});
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(
      bench.received(),
      Concat(
          {StartUp(), TitleScreen(), Page(1, true), {"EVE?"}, Page(1, true), {"EVE?"}, kClosing}));
}

TEST(Menu, GarbledEventReplyIsAnEventWithoutMeaning) {
  CheckoutBench bench({.model = "2440", .operator_script = "b1,b5"});
  bench.scope().SetReplies("EVE?", {"0", "#?x"});
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(bench.form().LastButton, 5);
  EXPECT_EQ(
      bench.received(),
      Concat(
          {StartUp(), TitleScreen(), Page(1, true), {"EVE?"}, Page(1, true), {"EVE?"}, kClosing}));
}

TEST(Menu, ResultTableColumnsOneAndTwoAreClearedBeforeEveryDrawing) {
  CheckoutBench bench({.model = "2440", .operator_script = "b5"});
  MainForm& form = bench.form();
  for (int row = 0; row <= 12; ++row) {
    for (int col = 0; col <= 2; ++col)
      form.ResultTable[row][col] = static_cast<Single>(row + col + 1);
  }
  EXPECT_EQ(bench.Run(), kExitClosed);
  for (int row = 0; row <= 12; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(form.ResultTable[row][0], static_cast<Single>(row + 1));
    if (row == 0) {
      EXPECT_EQ(form.ResultTable[0][1], 2.0f);
      EXPECT_EQ(form.ResultTable[0][2], 3.0f);
    } else {
      EXPECT_EQ(form.ResultTable[row][1], 0.0f);
      EXPECT_EQ(form.ResultTable[row][2], 0.0f);
    }
  }
}

TEST(Menu, ScriptRunningOutEndsTheRunWithItsOwnCode) {
  CheckoutBench bench({.model = "2440", .operator_script = "b4"});
  EXPECT_EQ(bench.Run(), kExitOperatorDone);
  EXPECT_EQ(bench.received(), Concat({StartUp(), TitleScreen(), Page(1, true), {"EVE?"}, Page(2)}));
}

TEST(Closing, QuitShowsTheNoticeWaitsTwoSecondsAndRestsTheChannels) {
  CheckoutBench bench({.model = "2440", .operator_script = "b5"});
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(bench.form().CmdText, "INIT BOTH;CH1 COU:GND,POS:+.5");
  // The intro (2 s), the identity query and the event queries (0.1 s each),
  // then the closing notice's two seconds.
  double elapsed = bench.platform().virtual_clock().Elapsed();
  EXPECT_GT(elapsed, 4.2);
  EXPECT_LT(elapsed, 4.5);
}

TEST(Closing, CloseRequestDuringADelayRunsTheClosingSequence) {
  CheckoutBench bench({.model = "2440", .operator_script = "b5"});
  // The identity query's 0.1 s wait begins right after the 2 s intro.
  bench.platform().close_at = 2.05;
  EXPECT_EQ(bench.Run(), kExitInterrupted);
  EXPECT_EQ(bench.received(), Concat({{"ID?", "ID?"}, kClosing}));
}

TEST(Closing, CloseRequestWhileWaitingForTheTechnician) {
  CheckoutBench bench({.model = "2440", .operator_script = "b5@60"});
  bench.platform().close_at = 10;
  EXPECT_EQ(bench.Run(), kExitInterrupted);
  EXPECT_EQ(bench.received(), Concat({StartUp(), TitleScreen(), Page(1, true), kClosing}));
  EXPECT_NEAR(bench.platform().virtual_clock().Elapsed(), 12.0, 0.05);
}

TEST(Closing, SecondCloseRequestDuringTheClosingSequenceChangesNothing) {
  CheckoutBench bench({.model = "2440", .operator_script = "b5"});
  bench.platform().close_at = 3.0;  // inside the closing notice's two seconds
  // QUIT's own exit status stays.
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(bench.received(),
            Concat({StartUp(), TitleScreen(), Page(1, true), {"EVE?"}, kClosing}));
}

TEST(ResultDisplay, BarGraphWritesAStepASecondInTheCommandBuffer) {
  CheckoutBench bench;
  ASSERT_TRUE(bench.Load());
  TracedForm traced(bench);
  MainForm& form = traced.form();
  form.CmdText = "left over";
  form.BarGraph(0, 12, 16, "PLEASE WAIT ");
  form.BarGraph(-3, 12, 16, "PLEASE WAIT ");
  EXPECT_TRUE(traced.Writes().empty());
  EXPECT_EQ(form.CmdText, "left over");

  const double start = bench.platform().clock().Elapsed();
  form.BarGraph(3, 1, 16, "W ");
  const auto writes = traced.Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].second, "MESS 16:\" W   \\M\"");
  EXPECT_EQ(writes[1].second, "MESS 16:\" W \\M \\M\"");
  EXPECT_EQ(writes[2].second, "MESS 16:\" W \\M\\M\\M\"");
  EXPECT_EQ(form.CmdText, writes[2].second);
  for (std::size_t i = 1; i < writes.size(); ++i) {
    EXPECT_NEAR(writes[i].first - writes[i - 1].first, 1.0, 0.01) << "step " << i;
  }
  // The last step waits its second too.
  EXPECT_NEAR(bench.platform().clock().Elapsed() - start, 3.0, 0.02);
}

// The bezel-event procedures against a device whose answers the test sets.
struct EventRig : Rig {
  ScriptedDevice& scope = Add(1);
  EventRig() {
    scope.defaults["ID?"] = "AB/2440,V1";
    EXPECT_EQ(Run([&] { form.Form_Load(); }), -1);
    scope.received.clear();
    scope.polls = 0;
  }
};

TEST(BezelEvents, WaitDrainsStaleStatusBytesBeforeWaiting) {
  EventRig rig;
  rig.scope.poll_bytes = {65, 66, 0, 65};
  rig.form.SRQWait();
  EXPECT_EQ(rig.scope.polls, 3);

  rig.scope.polls = 0;
  rig.scope.poll_bytes = {16, 65};
  rig.form.SRQWait();
  EXPECT_EQ(rig.scope.polls, 1);
}

TEST(BezelEvents, WaitGivesUpDrainingAStuckRequest) {
  EventRig rig;
  rig.scope.poll_bytes = std::deque<std::uint8_t>(1000, 65);
  rig.form.SRQWait();
  EXPECT_EQ(rig.scope.polls, 64);
  EXPECT_TRUE(rig.platform.boxes.empty());
}

TEST(BezelEvents, EventCodesBecomeButtonNumbers) {
  EventRig rig;
  struct Case {
    const char* reply;
    int result;
  };
  for (const Case& c :
       {Case{"452", 3}, Case{"650", 201}, Case{"449", 0}, Case{"450", 1}, Case{" 454", 5},
        Case{"0", -449}, Case{"450.5", 2}, Case{"451.5", 2}, Case{"abc", -449}, Case{"99999", -449},
        Case{"-40000", -449}, Case{"1E30", -449}}) {
    SCOPED_TRACE(c.reply);
    rig.scope.replies["EVE?"] = {c.reply};
    EXPECT_EQ(rig.form.xEvent(), c.result);
  }
  EXPECT_TRUE(rig.platform.boxes.empty());
}

TEST(BezelEvents, ClearEventsQueriesUntilTheQueueIsEmpty) {
  EventRig rig;
  rig.scope.replies["EVE?"] = {"451", "453", "0", "452"};
  rig.form.ClearEvents();
  EXPECT_EQ(rig.scope.received, (Stream{"EVE?", "EVE?", "EVE?"}));
}

TEST(BezelEvents, ClearEventsStopsOnAnEmptyOrNonNumericReply) {
  EventRig rig;
  rig.scope.replies["EVE?"] = {"451", "x"};
  rig.form.ClearEvents();
  EXPECT_EQ(rig.scope.received.size(), 2u);

  // A time-out: the "I/O Error" box, the empty reply, the loop ends.
  rig.scope.received.clear();
  rig.scope.replies["EVE?"] = {"451"};
  rig.form.ClearEvents();
  EXPECT_EQ(rig.scope.received.size(), 2u);
  ASSERT_EQ(rig.platform.boxes.size(), 1u);
  EXPECT_EQ(rig.platform.boxes[0].title, "I/O Error");
}

TEST(BezelEvents, ClearEventsGivesUpOnAQueueThatNeverEmpties) {
  EventRig rig;
  rig.scope.defaults["EVE?"] = "451";
  rig.form.ClearEvents();
  EXPECT_EQ(rig.scope.received.size(), 100u);
}

}  // namespace
}  // namespace kc
