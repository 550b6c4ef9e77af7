#include "lib/options.h"

#include <gtest/gtest.h>

#include <initializer_list>
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

Parsed Parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv = {"kalventa-checkout"};
  argv.insert(argv.end(), args.begin(), args.end());
  Parsed parsed;
  std::ostringstream out;
  std::ostringstream err;
  parsed.code = ParseOptions(static_cast<int>(argv.size()), argv.data(), parsed.options, out, err);
  parsed.out = out.str();
  parsed.err = err.str();
  return parsed;
}

// A usage error: status 2, one message naming the problem, nothing on stdout.
void ExpectUsageError(std::initializer_list<const char*> args, const std::string& fragment) {
  Parsed parsed = Parse(args);
  std::string shown;
  for (const char* arg : args) shown += std::string(arg) + " ";
  EXPECT_EQ(parsed.code, kExitUsage) << shown;
  EXPECT_EQ(parsed.out, "") << shown;
  EXPECT_EQ(parsed.err.rfind("kalventa-checkout: ", 0), 0u) << shown << parsed.err;
  EXPECT_NE(parsed.err.find(fragment), std::string::npos) << shown << parsed.err;
}

TEST(Options, DefaultsToTheSimulated2440AtAddressOne) {
  Parsed parsed = Parse({});
  EXPECT_EQ(parsed.code, -1);
  EXPECT_EQ(parsed.options.bus.scheme, "sim");
  EXPECT_EQ(parsed.options.bus.model, "2440");
  EXPECT_EQ(parsed.options.bus.address, 1);
  EXPECT_TRUE(parsed.options.sim_devices.empty());
  EXPECT_FALSE(parsed.options.operator_script.has_value());
  EXPECT_TRUE(parsed.options.answers.empty());
  EXPECT_FALSE(parsed.options.virtual_time);
  EXPECT_EQ(parsed.options.trace_file, "");
}

TEST(Options, SimulatedBusNames) {
  struct Case {
    const char* text;
    const char* model;
    int address;
  };
  for (const Case& c : {Case{"sim", "2440", 1}, Case{"sim:2432A@12", "2432A", 12},
                        Case{"sim@30", "2440", 30}, Case{"sim:2431L", "2431L", 1},
                        Case{"sim:AB99", "AB99", 1}, Case{"sim:2430@07", "2430", 7}}) {
    Parsed parsed = Parse({"--bus", c.text});
    ASSERT_EQ(parsed.code, -1) << c.text << parsed.err;
    EXPECT_EQ(parsed.options.bus.scheme, "sim") << c.text;
    EXPECT_EQ(parsed.options.bus.model, c.model) << c.text;
    EXPECT_EQ(parsed.options.bus.address, c.address) << c.text;
  }
}

TEST(Options, BadBusNames) {
  ExpectUsageError({"--bus", "gpib0"}, "unknown bus \"gpib0\": known buses are sim");
  ExpectUsageError({"--bus", ""}, "unknown bus");
  ExpectUsageError({"--bus", "simulator"}, "unknown bus");
  ExpectUsageError({"--bus", "sim@0"}, "bad GPIB address \"0\"");
  ExpectUsageError({"--bus", "sim@31"}, "bad GPIB address \"31\"");
  ExpectUsageError({"--bus", "sim@-1"}, "bad GPIB address");
  ExpectUsageError({"--bus", "sim@"}, "bad GPIB address \"\"");
  ExpectUsageError({"--bus", "sim:2440@1x"}, "bad GPIB address");
  ExpectUsageError({"--bus", "sim:"}, "model after \":\" is missing");
  ExpectUsageError({"--bus", "sim:24 40"}, "bad model");
  ExpectUsageError({"--bus", "sim:2440,V1"}, "bad model");
}

TEST(Options, ExtraDevicesNeedFreeAddresses) {
  Parsed parsed = Parse({"--bus", "sim@3", "--sim-device", "5=silent", "--sim-device",
                         "9=scope:2430A", "--sim-device", "11=id:AB/2430,V1"});
  ASSERT_EQ(parsed.code, -1) << parsed.err;
  ASSERT_EQ(parsed.options.sim_devices.size(), 3u);
  EXPECT_EQ(parsed.options.sim_devices[0].address, 5);
  EXPECT_EQ(parsed.options.sim_devices[0].kind, "silent");
  EXPECT_EQ(parsed.options.sim_devices[2].address, 11);
  EXPECT_EQ(parsed.options.sim_devices[2].kind, "id:AB/2430,V1");

  ExpectUsageError({"--sim-device", "1=silent"}, "GPIB address 1 is used twice");
  ExpectUsageError({"--sim-device", "4=silent", "--sim-device", "4=silent"},
                   "GPIB address 4 is used twice");
  ExpectUsageError({"--sim-device", "31=silent"}, "bad GPIB address \"31\"");
  ExpectUsageError({"--sim-device", "silent"}, "expected ADDR=KIND");
  ExpectUsageError({"--sim-device", "5="}, "kind after \"=\" is missing");
  ExpectUsageError({"--sim-device", "5=toaster"}, "unknown kind \"toaster\"");
  ExpectUsageError({"--sim-device", "9=scope:9999"}, "unknown model \"9999\"");
  ExpectUsageError({"--bus", "nope@2", "--sim-device", "5=silent"}, "unknown bus");
}

TEST(Options, AnswersList) {
  Parsed parsed = Parse({"--answers", "ok,CANCEL,Ok"});
  ASSERT_EQ(parsed.code, -1) << parsed.err;
  EXPECT_EQ(parsed.options.answers,
            (std::vector<MsgAnswer>{MsgAnswer::kOk, MsgAnswer::kCancel, MsgAnswer::kOk}));
  ExpectUsageError({"--answers", "ok,,cancel"}, "bad answer \"\"");
  ExpectUsageError({"--answers", "yes"}, "bad answer \"yes\"");
  ExpectUsageError({"--answers", "ok,"}, "bad answer");
}

TEST(Options, OperatorTraceAndVirtualTime) {
  Parsed parsed = Parse({"--operator", "b4,b1@2.5,leave", "--virtual-time", "--trace", "t.log"});
  ASSERT_EQ(parsed.code, -1) << parsed.err;
  ASSERT_TRUE(parsed.options.operator_script.has_value());
  EXPECT_EQ(*parsed.options.operator_script, "b4,b1@2.5,leave");
  EXPECT_TRUE(parsed.options.virtual_time);
  EXPECT_EQ(parsed.options.trace_file, "t.log");
  // An empty script is a technician who does nothing.
  parsed = Parse({"--operator", ""});
  ASSERT_EQ(parsed.code, -1) << parsed.err;
  EXPECT_EQ(parsed.options.operator_script, std::string());
}

TEST(Options, BadOperatorScripts) {
  ExpectUsageError({"--operator", "b6"}, "--operator");
  ExpectUsageError({"--operator", "b1,,b2"}, "--operator");
  ExpectUsageError({"--operator", "b2@x"}, "--operator");
}

TEST(Options, MalformedCommandLines) {
  ExpectUsageError({"--frobnicate"}, "frobnicate");
  ExpectUsageError({"extra"}, "extra");
  ExpectUsageError({"--bus"}, "--bus");
  ExpectUsageError({"--trace", ""}, "--trace needs a file name");
  ExpectUsageError({"--virtual-time=maybe"}, "virtual-time");
}

TEST(Options, VersionAndHelp) {
  Parsed version = Parse({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "kalventa-checkout 2.0\n");
  EXPECT_EQ(version.err, "");

  Parsed help = Parse({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* item : {"--bus", "--sim-device", "--operator", "--answers", "--virtual-time",
                           "--trace", "--version", "sim[:MODEL][@ADDR]", "Exit status",
                           "  2  bad command line", "  3  the simulated technician's script"}) {
    EXPECT_NE(help.out.find(item), std::string::npos) << item;
  }
}

}  // namespace
}  // namespace kc
