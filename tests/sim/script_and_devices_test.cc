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
#include "support/checkout_bench.h"

namespace kc {
namespace {

// What the tokens do: the bus suite's service waits (buttons, delays, leave)
// and the fault lines (trim). Here: blanks around tokens are allowed, and an
// empty script is a technician with nothing to do.
TEST(ScriptParse, BlanksAroundTokensAndAnEmptyScript) {
  std::string error;
  auto steps = ScriptTechnician::Parse(" b1 ,b2@3.5, leave , trim,leave@.25", &error);
  ASSERT_TRUE(steps.has_value()) << error;
  EXPECT_EQ(steps->size(), 5u);
  EXPECT_EQ((*steps)[1].delay, 3.5);
  EXPECT_EQ(ScriptTechnician::Check(""), "");
}

TEST(ScriptParse, BadTokensAreNamed) {
  const std::string tokens =
      ": expected b1 to b5 (a bezel button), leave (MENU OFF twice) or trim (the common-mode VAR "
      "adjustment); b1 to b5 and leave may take a delay in seconds after @, as in b2@3.5";
  const std::string delay = ": the delay after \"@\" must be a number of seconds, 0 or more";
  const std::pair<std::string, std::string> cases[] = {
      {"b7", "script token \"b7\"" + tokens},
      {"b1,x", "script token \"x\"" + tokens},
      {"b0", "script token \"b0\"" + tokens},
      {"b1@-2", "script token \"b1@-2\"" + delay},
      {"leave@", "script token \"leave@\"" + delay},
      {"b1@1e999", "script token \"b1@1e999\"" + delay},
      {"trim@2", "script token \"trim@2\": trim takes no delay"},
      {"b1,,b2", "the script has an empty token"},
      {"b1,", "the script has an empty token"},
  };
  for (const auto& [script, message] : cases) {
    EXPECT_EQ(ScriptTechnician::Check(script), message) << script;
  }
  VirtualClock clock;
  SimScope scope("2440", clock);
  EXPECT_THROW(ScriptTechnician(scope, clock, "b9"), std::invalid_argument);
}

BenchOptions Script(const std::string& script) {
  BenchOptions options;
  options.operator_script = script;
  return options;
}

TEST(ScriptTechnician, AProgramThatOnlyPollsEndsTheRunInsteadOfPollingForEver) {
  // The attenuator adjustment polls the event register without waiting for a
  // button: an undelayed step is never done there.
  CheckoutBench waiting(Script("b1,b1,b1"));
  EXPECT_EQ(waiting.Run(), kExitOperatorDone);
  EXPECT_NE(waiting.end_message().find("next step (b1)"), std::string::npos)
      << waiting.end_message();
  EXPECT_NE(waiting.end_message().find("b1@3"), std::string::npos);
  EXPECT_GT(waiting.platform().virtual_clock().Elapsed(), 600);
  // Delayed steps end both adjustment loops; QUIT follows.
  EXPECT_EQ(CheckoutBench(Script("b1,b1,b1@3,b1,b1@3,b5")).Run(), kExitClosed);
}

// Silent listeners and further oscilloscopes are made on the bus of the
// start-up and gateway suites; here the identity, which keeps its comma.
TEST(DeviceSpec, AnIdentityDeviceAnswersIdOnly) {
  std::string error;
  VirtualClock clock;
  auto id = ParseDeviceSpec("11=id:AB/2430,V1", &error);
  ASSERT_TRUE(id.has_value()) << error;
  EXPECT_EQ(id->address, 11);
  auto device = MakeDevice(*id, clock);
  device->Write("ID?");
  EXPECT_EQ(device->Talk(), "AB/2430,V1\n");
  device->Write("EVE?");
  EXPECT_EQ(device->Talk(), std::nullopt);
}

TEST(DeviceSpec, BadDescriptionsAreExplained) {
  const std::string address = "the address must be a whole number from 1 to 30";
  const std::string models = " (one of 2430, 2430A, 2431L, 2432, 2432A, 2439L, 2440)";
  const std::pair<std::string, std::string> cases[] = {
      {"silent", "expected ADDRESS=KIND, for example 5=silent, 9=scope:2430A or 11=id:AB/2430,V1"},
      {"0=silent", address},
      {"31=silent", address},
      {"x=silent", address},
      {"=silent", address},
      {"99999999999=silent", address},
      {"5=silent:x", "a silent listener takes no argument"},
      {"5=scope:2450", "unknown model \"2450\"" + models},
      {"5=scope", "unknown model \"\"" + models},
      {"5=id:", "the identity after \"id:\" is empty"},
      {"5=loud", "unknown kind \"loud\" (silent, scope:MODEL or id:TEXT)"},
  };
  for (const auto& [text, why] : cases) {
    std::string error;
    EXPECT_FALSE(ParseDeviceSpec(text, &error).has_value()) << text;
    EXPECT_EQ(error, "device \"" + text + "\": " + why);
  }
}

}  // namespace
}  // namespace kc
