// The checkout shell on the simulated bus: start-up and identification, the
// bezel menu, the bar graph and the bezel-event procedures. Expected command
// streams are written out from the instrument dialogue, command by command.
#include "shell/main_form.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/scripted_device.h"
#include "sim/sim_bus.h"
#include "support/check_harness.h"
#include "support/test_platform.h"

namespace kc {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// What the oscilloscope hears until the program ends with `code`: the
// identification during the search (asked twice when its identity holds "243"
// but not "244": once in the search for "244", once in the search for "243"),
// the identity query, the menu's preparation and its emptied event queue, the
// title screen, then the pages drawn in turn, each followed by its wait.
Stream MenuStream(const std::string& model, const std::vector<int>& pages, int code) {
  Stream stream = {"ID?", "ID?", "INIT GPI;PATH OFF;USE;BELL", "EVE?"};
  if (model.find("244") == std::string::npos) stream.insert(stream.begin(), "ID?");
  const Stream title = TitleScreen();
  stream.insert(stream.end(), title.begin(), title.end());
  for (int page : pages) {
    for (const std::string& line : MenuPage(page, model != "2430" && model != "2430A"))
      stream.push_back(line);
    stream.push_back("EVE?");
  }
  // A script that runs out ends the run at the wait of its last page.
  if (code == kExitOperatorDone) stream.pop_back();
  if (code == kExitClosed) stream.insert(stream.end(), kClosing.begin(), kClosing.end());
  return stream;
}

struct StartCase {
  const char* model;
  int address;
  int index;
  std::vector<std::string> extra_devices;
};

class StartUpTest : public ::testing::TestWithParam<StartCase> {};

TEST_P(StartUpTest, CaptionIntroHintModelAndMenuFollowTheIdentity) {
  const StartCase& c = GetParam();
  CheckoutBench bench({.model = c.model,
                       .address = c.address,
                       .operator_script = "b5",
                       .extra_devices = c.extra_devices});
  EXPECT_EQ(bench.Run(), kExitClosed);
  EXPECT_EQ(bench.form().ModelText, c.model);
  EXPECT_EQ(bench.form().ModelIndex, c.index);
  EXPECT_EQ(bench.platform().hint, std::string("Use the Bezel Buttons of the ") + c.model +
                                       " on GPIB address " + std::to_string(c.address));
  EXPECT_THAT(bench.received(), ElementsAreArray(MenuStream(c.model, {1}, kExitClosed)));
  EXPECT_THAT(bench.scope().errors(), IsEmpty());
  const TestPlatform& platform = bench.platform();
  EXPECT_EQ(platform.caption.rfind("Kalventa Checkout, v2.0", 0), 0u) << platform.caption;
  EXPECT_EQ(platform.intro_text,
            "Kalventa Checkout, v2.0 / 1994-2026 - guided performance checkout over GPIB");
  EXPECT_NEAR(platform.intro_closed_at - platform.intro_opened_at, 2.0, 0.01);
  EXPECT_TRUE(platform.boxes.empty());
}

// The 2440 is preferred when a 2430 answers too.
INSTANTIATE_TEST_SUITE_P(
    Models, StartUpTest,
    ::testing::Values(StartCase{"2430", 3, 1, {}}, StartCase{"2430A", 7, 2, {}},
                      StartCase{"2431L", 12, 3, {}}, StartCase{"2432", 1, 4, {}},
                      StartCase{"2432A", 30, 5, {}}, StartCase{"2439L", 2, 6, {}},
                      StartCase{"2440", 9, 7, {"3=scope:2430"}}),
    [](const ::testing::TestParamInfo<StartCase>& case_info) {
      return std::string("m") + case_info.param.model;
    });

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
  int Load() {
    try {
      form.Form_Load();
    } catch (const ProgramEnd& end) {
      return end.code;
    }
    return -1;
  }
  // The one box shown, which must be critical.
  std::string Box() {
    if (platform.boxes.size() != 1) return "boxes: " + std::to_string(platform.boxes.size());
    EXPECT_EQ(platform.boxes[0].icon, MsgIcon::kCritical);
    return platform.boxes[0].title + ": " + platform.boxes[0].prompt;
  }
};

TEST(StartUp, NoListenerOrTooManyEndTheProgram) {
  Rig none;
  EXPECT_EQ(none.Load(), kExitFatal);
  EXPECT_EQ(none.Box(),
            "Initialization Error 14: No listeners found.\n\nCorrect problem and restart.");

  Rig many;
  std::vector<ScriptedDevice*> devices;
  for (int pad = 1; pad <= 15; ++pad) devices.push_back(&many.Add(pad));
  EXPECT_EQ(many.Load(), kExitFatal);
  EXPECT_EQ(many.Box(),
            "Initialization Error 20: Too many listeners found.\nMax 14 listeners allowed.\n\n"
            "Correct problem and restart.");
  for (ScriptedDevice* device : devices) EXPECT_TRUE(device->received.empty());
}

TEST(StartUp, NoMatchingIdentityShowsTheRepliesAndEnds) {
  Rig rig;
  ScriptedDevice& other = rig.Add(4);
  other.defaults["ID?"] = "XY/1234,V1";
  EXPECT_EQ(rig.Load(), kExitFatal);
  // The search for "244" is silent; the one for "243" reports.
  EXPECT_EQ(rig.Box(), "Expected Id-response from device not found" + std::string(40, ' ') +
                           ": ID Query: ID?\n\nExpected Response: 243\n\nReceived Response(s):\n"
                           "XY/1234,V1\n\nCorrect the problem and restart. Program will end.");
  EXPECT_EQ(other.received, (Stream{"ID?", "ID?"}));
  // One descriptor served both searches: cleared once per search.
  EXPECT_EQ(other.clears, 2);
}

TEST(StartUp, IdentityFields) {
  Rig bare;
  bare.Add(1).defaults["ID?"] = "2440";
  EXPECT_EQ(bare.Load(), kExitFatal);
  EXPECT_NE(bare.Box().find("Received Response: 2440"), std::string::npos);

  // Without a slash the whole first field is the model.
  Rig other;
  other.Add(2).defaults["ID?"] = "SCOPE 2440,V1";
  EXPECT_EQ(other.Load(), -1);
  EXPECT_EQ(other.form.ModelText, "SCOPE 2440");
  EXPECT_EQ(other.form.ModelIndex, 0);
  EXPECT_EQ(other.platform.hint, "Use the Bezel Buttons of the SCOPE 2440 on GPIB address 2");
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

struct MenuCase {
  const char* name;
  const char* model;
  const char* script;
  Stream event_replies;
  std::vector<int> pages;  // drawn in turn, each followed by its wait
  int code;
  Integer last_button;
};

class MenuTest : public ::testing::TestWithParam<MenuCase> {};

TEST_P(MenuTest, PagesWithoutTitleScreens) {
  const MenuCase& c = GetParam();
  CheckoutBench bench({.model = c.model, .operator_script = c.script});
  if (!c.event_replies.empty()) bench.scope().SetReplies("EVE?", c.event_replies);
  EXPECT_EQ(bench.Run(), c.code);
  EXPECT_THAT(bench.received(), ElementsAreArray(MenuStream(c.model, c.pages, c.code)));
  EXPECT_EQ(bench.form().LastButton, c.last_button);
  EXPECT_THAT(bench.scope().errors(), IsEmpty());
}

// The first EVE? reply is the menu's emptied queue; 449 is button 0, which
// only draws the page again, and so does a garbled reply.
INSTANTIATE_TEST_SUITE_P(
    Scripts, MenuTest,
    ::testing::Values(
        MenuCase{"page_two_and_back", "2430A", "b4,b5,b5", {}, {1, 2, 1}, kExitClosed, 5},
        MenuCase{"all_four_pages",
                 "2432",
                 "b4,b4,b4,b5,b5,b5,b5",
                 {},
                 {1, 2, 3, 4, 3, 2, 1},
                 kExitClosed,
                 5},
        MenuCase{"leave_from_page_three", "2440", "b4,b4,leave", {}, {1, 2, 3}, kExitClosed, 201},
        MenuCase{"button_zero", "2440", "b1,b5", {"0", "449"}, {1, 1}, kExitClosed, 5},
        MenuCase{"garbled_event", "2440", "b1,b5", {"0", "#?x"}, {1, 1}, kExitClosed, 5},
        MenuCase{"script_runs_out", "2440", "b4", {}, {1, 2}, kExitOperatorDone, 4}),
    [](const ::testing::TestParamInfo<MenuCase>& case_info) {
      return std::string(case_info.param.name);
    });

TEST(Menu, ResultTableColumnsOneAndTwoAreClearedBeforeEveryDrawing) {
  CheckoutBench bench({.operator_script = "b5"});
  MainForm& form = bench.form();
  for (int row = 0; row <= 12; ++row) {
    for (int col = 0; col <= 2; ++col)
      form.ResultTable[row][col] = static_cast<Single>(row + col + 1);
  }
  EXPECT_EQ(bench.Run(), kExitClosed);
  for (int row = 0; row <= 12; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(form.ResultTable[row][0], static_cast<Single>(row + 1));
    EXPECT_EQ(form.ResultTable[row][1], row == 0 ? 2.0f : 0.0f);
    EXPECT_EQ(form.ResultTable[row][2], row == 0 ? 3.0f : 0.0f);
  }
}

TEST(ResultDisplay, BarGraphWritesAStepASecondInTheCommandBuffer) {
  CheckoutBench bench;
  ASSERT_TRUE(bench.Load());
  bench.ClearReceived();
  MainForm& form = bench.form();
  form.CmdText = "left over";
  form.BarGraph(0, 12, 16, "PLEASE WAIT ");
  form.BarGraph(-3, 12, 16, "PLEASE WAIT ");
  EXPECT_TRUE(bench.received().empty());
  EXPECT_EQ(form.CmdText, "left over");

  // The last step waits its second too (the gaps between steps: the
  // transcripts' bars).
  const double start = bench.platform().clock().Elapsed();
  form.BarGraph(3, 1, 16, "W ");
  EXPECT_EQ(bench.received(), Bar(3, 1, "W "));
  EXPECT_EQ(form.CmdText, Bar(3, 1, "W ").back());
  EXPECT_NEAR(bench.platform().clock().Elapsed() - start, 3.0, 0.02);
}

// The bezel-event procedures against a device whose answers the test sets.
struct EventRig : Rig {
  ScriptedDevice& scope = Add(1);
  EventRig() {
    scope.defaults["ID?"] = "AB/2440,V1";
    EXPECT_EQ(Load(), -1);
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

  // A request that never goes away is given up after 64 polls.
  rig.scope.polls = 0;
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
  struct Case {
    Stream replies;
    std::size_t queries;
  };
  // Until 0, a reply without digits, or the hundredth query.
  for (const Case& c : {Case{{"451", "453", "0", "452"}, 3}, Case{{"451", "x"}, 2},
                        Case{Stream(200, "451"), 100}}) {
    EventRig rig;
    rig.scope.replies["EVE?"] = {c.replies.begin(), c.replies.end()};
    rig.form.ClearEvents();
    EXPECT_EQ(rig.scope.received, Stream(c.queries, "EVE?"));
    EXPECT_TRUE(rig.platform.boxes.empty());
  }
}

}  // namespace
}  // namespace kc
