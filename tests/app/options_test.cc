// kalventa-checkout's own command-line rules; the bus names themselves are
// the registry's (tests/link_real).
#include "app/checkout/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace kc {
namespace {

struct Parsed {
  int code;
  Options options;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "kalventa-checkout");
  Parsed parsed;
  std::ostringstream out;
  std::ostringstream err;
  parsed.code = ParseOptions(static_cast<int>(args.size()), args.data(), parsed.options, out, err);
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

TEST(Options, SimulatedDevicesScriptAnswersTraceAndVirtualTime) {
  Parsed parsed = Parse({"--bus", "sim@3", "--sim-device", "5=silent", "--sim-device",
                         "11=id:AB/2430,V1", "--operator", "b4,b1@2.5,leave", "--answers",
                         "ok,CANCEL", "--virtual-time", "--trace", "t.log"});
  ASSERT_EQ(parsed.code, -1) << parsed.err;
  ASSERT_EQ(parsed.options.sim_devices.size(), 2u);
  EXPECT_EQ(parsed.options.sim_devices[1].address, 11);
  EXPECT_EQ(parsed.options.sim_devices[1].kind, "id:AB/2430,V1");
  EXPECT_EQ(parsed.options.operator_script, "b4,b1@2.5,leave");
  EXPECT_EQ(parsed.options.answers, (std::vector<MsgAnswer>{MsgAnswer::kOk, MsgAnswer::kCancel}));
  EXPECT_TRUE(parsed.options.virtual_time);
  EXPECT_EQ(parsed.options.trace_file, "t.log");
  // An empty script is a technician who does nothing.
  EXPECT_EQ(Parse({"--operator", ""}).options.operator_script, std::string());

  Parsed version = Parse({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "kalventa-checkout 2.0\n");
  Parsed help = Parse({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* item : {"--answers", "--trace", "Exit status", "  2  bad command line"}) {
    EXPECT_NE(help.out.find(item), std::string::npos) << item;
  }
}

// A usage error: status 2, one message naming the problem, nothing on stdout.
TEST(Options, UsageErrorsNameTheProblem) {
  const std::pair<std::vector<const char*>, const char*> cases[] = {
      {{"--bus", "gpib0"}, "bad bus \"gpib0\": unknown bus"},
      {{"--bus", "prologix://10.0.0.5", "--sim-device", "5=silent"},
       "--sim-device needs the simulated bus"},
      // Even an empty script names a technician who cannot stand there.
      {{"--bus", "prologix:/dev/ttyUSB0", "--operator", ""}, "--operator needs the simulated bus"},
      {{"--sim-device", "1=silent"}, "GPIB address 1 is used twice"},
      {{"--sim-device", "4=silent", "--sim-device", "4=silent"}, "GPIB address 4 is used twice"},
      // The oscilloscope's own address counts as taken at any address.
      {{"--bus", "sim:2432@9", "--sim-device", "9=silent"}, "GPIB address 9 is used twice"},
      {{"--sim-device", "5=toaster"}, "unknown kind \"toaster\""},
      {{"--answers", "ok,,cancel"}, "bad answer \"\""},
      {{"--answers", "yes"}, "bad answer \"yes\""},
      {{"--operator", "b2@x"}, "--operator"},
      {{"--frobnicate"}, "frobnicate"},
      {{"extra"}, "extra"},
      {{"--bus"}, "--bus"},
      {{"--trace", ""}, "--trace needs a file name"},
      {{"--virtual-time=maybe"}, "virtual-time"},
      {{"--fault", "ch3-gain=1"}, "bad fault \"ch3-gain=1\": unknown name \"ch3-gain\""},
      {{"--seed", "-3"}, "bad --seed \"-3\""},
      {{"--bus", "gpib:0", "--fault", "ch1-gain=1"}, "need the simulated bus"},
  };
  for (const auto& [args, fragment] : cases) {
    Parsed parsed = Parse(args);
    EXPECT_EQ(parsed.code, kExitUsage) << fragment;
    EXPECT_EQ(parsed.out, "") << fragment;
    EXPECT_EQ(parsed.err.rfind("kalventa-checkout: ", 0), 0u) << parsed.err;
    EXPECT_NE(parsed.err.find(fragment), std::string::npos) << parsed.err;
  }
}

}  // namespace
}  // namespace kc
