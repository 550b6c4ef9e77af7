// Scripts of the simulated technician and the device descriptions of the
// command line.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/script_technician.h"
#include "sim/sim_devices.h"
#include "sim/sim_scope.h"

namespace kc {
namespace {

TEST(ScriptParse, ReadsButtonsLeaveAndDelays) {
  std::string error;
  auto steps = ScriptTechnician::Parse(" b1 ,b2@3.5, leave , b5@0,leave@.25", &error);
  ASSERT_TRUE(steps.has_value()) << error;
  ASSERT_EQ(steps->size(), 5u);
  using Action = ScriptTechnician::Step::Action;
  EXPECT_EQ((*steps)[0].action, Action::kBezel);
  EXPECT_EQ((*steps)[0].button, 1);
  EXPECT_FALSE((*steps)[0].delay.has_value());
  EXPECT_EQ((*steps)[1].button, 2);
  EXPECT_EQ((*steps)[1].delay, 3.5);
  EXPECT_EQ((*steps)[2].action, Action::kLeave);
  EXPECT_EQ((*steps)[3].delay, 0.0);
  EXPECT_EQ((*steps)[4].action, Action::kLeave);
  EXPECT_EQ((*steps)[4].delay, 0.25);
  // An empty script is a technician with nothing to do.
  EXPECT_EQ(ScriptTechnician::Check(""), "");
}

TEST(ScriptParse, BadTokensAreNamed) {
  const std::string kValidTokens =
      "expected b1 to b5 (a bezel button), leave (MENU OFF twice) or trim (the common-mode VAR "
      "adjustment); b1 to b5 and leave may take a delay in seconds after @, as in b2@3.5";
  struct Case {
    std::string script;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"b7", "script token \"b7\": " + kValidTokens},
      {"b1,x", "script token \"x\": " + kValidTokens},
      {"b0", "script token \"b0\": " + kValidTokens},
      {"b1@-2",
       "script token \"b1@-2\": the delay after \"@\" must be a number of seconds, 0 or "
       "more"},
      {"b1@abc",
       "script token \"b1@abc\": the delay after \"@\" must be a number of seconds, 0 "
       "or more"},
      {"leave@",
       "script token \"leave@\": the delay after \"@\" must be a number of seconds, 0 "
       "or more"},
      {"b1@1e999",
       "script token \"b1@1e999\": the delay after \"@\" must be a number of "
       "seconds, 0 or more"},
      {"b1,,b2", "the script has an empty token"},
      {"b1,", "the script has an empty token"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScriptTechnician::Check(c.script), c.error) << c.script;
  }
  VirtualClock clock;
  SimScope scope("2440", clock);
  EXPECT_THROW(ScriptTechnician(scope, clock, "b9"), std::invalid_argument);
}

TEST(ScriptTechnician, TimedTokensFallDueAfterThePreviousAction) {
  VirtualClock clock(0);
  SimScope scope("2440", clock);
  clock.Pass(10);
  ScriptTechnician technician(scope, clock, "b1@2,b2,leave@1");
  EXPECT_EQ(technician.NextTimedAction(), 12.0);
  EXPECT_FALSE(technician.ActIfDue(11.9));
  EXPECT_TRUE(technician.ActIfDue(12.5));
  EXPECT_EQ(scope.event(), 450);
  // An untimed token waits for a service-request wait.
  EXPECT_EQ(technician.NextTimedAction(), std::nullopt);
  EXPECT_FALSE(technician.ActIfDue(100));
  EXPECT_TRUE(technician.ActOnWait(13));
  EXPECT_EQ(scope.event(), 451);
  EXPECT_EQ(technician.NextTimedAction(), 14.0);
  EXPECT_TRUE(technician.ActIfDue(14));
  EXPECT_EQ(scope.event(), 650);
  EXPECT_FALSE(technician.ActOnWait(20));
  ASSERT_EQ(technician.done().size(), 3u);
  EXPECT_EQ(technician.done()[2].token, "leave@1");

  // A new script counts its delays from the time it was set.
  clock.Pass(50);
  technician.SetScript("b3@1");
  EXPECT_EQ(technician.NextTimedAction(), 61.0);
}

TEST(DeviceSpec, ReadsTheThreeKinds) {
  std::string error;
  auto silent = ParseDeviceSpec("5=silent", &error);
  ASSERT_TRUE(silent.has_value()) << error;
  EXPECT_EQ(silent->address, 5);
  EXPECT_EQ(silent->kind, DeviceSpec::Kind::kSilent);

  auto scope = ParseDeviceSpec("9=scope:2430A", &error);
  ASSERT_TRUE(scope.has_value()) << error;
  EXPECT_EQ(scope->address, 9);
  EXPECT_EQ(scope->kind, DeviceSpec::Kind::kScope);
  EXPECT_EQ(scope->argument, "2430A");

  // The identity keeps its comma.
  auto id = ParseDeviceSpec("11=id:AB/2430,V1", &error);
  ASSERT_TRUE(id.has_value()) << error;
  EXPECT_EQ(id->address, 11);
  EXPECT_EQ(id->kind, DeviceSpec::Kind::kId);
  EXPECT_EQ(id->argument, "AB/2430,V1");

  VirtualClock clock;
  auto device = MakeDevice(*id, clock);
  device->Write("ID?");
  EXPECT_EQ(device->Talk(), "AB/2430,V1\n");
  device->Write("EVE?");
  EXPECT_EQ(device->Talk(), std::nullopt);
  auto made_scope = MakeDevice(*scope, clock);
  ASSERT_NE(dynamic_cast<SimScope*>(made_scope.get()), nullptr);
  EXPECT_EQ(dynamic_cast<SimScope*>(made_scope.get())->model(), "2430A");
  EXPECT_NE(dynamic_cast<SilentListener*>(MakeDevice(*silent, clock).get()), nullptr);
}

TEST(DeviceSpec, BadDescriptionsAreExplained) {
  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"silent",
       "device \"silent\": expected ADDRESS=KIND, for example 5=silent, "
       "9=scope:2430A or 11=id:AB/2430,V1"},
      {"0=silent", "device \"0=silent\": the address must be a whole number from 1 to 30"},
      {"31=silent", "device \"31=silent\": the address must be a whole number from 1 to 30"},
      {"x=silent", "device \"x=silent\": the address must be a whole number from 1 to 30"},
      {"=silent", "device \"=silent\": the address must be a whole number from 1 to 30"},
      {"99999999999=silent",
       "device \"99999999999=silent\": the address must be a whole number from 1 to 30"},
      {"5=silent:x", "device \"5=silent:x\": a silent listener takes no argument"},
      {"5=scope:2450",
       "device \"5=scope:2450\": unknown model \"2450\" (one of 2430, 2430A, "
       "2431L, 2432, 2432A, 2439L, 2440)"},
      {"5=scope",
       "device \"5=scope\": unknown model \"\" (one of 2430, 2430A, 2431L, 2432, "
       "2432A, 2439L, 2440)"},
      {"5=id:", "device \"5=id:\": the identity after \"id:\" is empty"},
      {"5=loud", "device \"5=loud\": unknown kind \"loud\" (silent, scope:MODEL or id:TEXT)"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseDeviceSpec(c.text, &error).has_value()) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
}  // namespace kc
