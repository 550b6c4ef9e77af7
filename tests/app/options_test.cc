#include "app/checkout/options.h"

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
  ASSERT_NE(parsed.options.bus.As<SimTarget>(), nullptr);
  EXPECT_EQ(parsed.options.bus.As<SimTarget>()->model, "2440");
  EXPECT_EQ(parsed.options.bus.As<SimTarget>()->address, 1);
  EXPECT_TRUE(parsed.options.sim_devices.empty());
  EXPECT_FALSE(parsed.options.operator_script.has_value());
  EXPECT_TRUE(parsed.options.answers.empty());
  EXPECT_FALSE(parsed.options.virtual_time);
  EXPECT_EQ(parsed.options.trace_file, "");
}

// The bus names themselves are the registry's (tests/link_real); here only
// that a bad one is a usage error.
TEST(Options, BadBusNames) {
  ExpectUsageError({"--bus", "gpib0"}, "bad bus \"gpib0\": unknown bus; known forms: sim");
  ExpectUsageError({"--bus", "sim@0"}, "the address \"0\" after \"@\" is not a number 1 to 30");
}

// Every form of a real bus reaches the options as the bus-name parser reads
// it; the simulated-bench options do not go with them.
TEST(Options, RealBusNames) {
  for (const char* text :
       {"prologix://192.168.1.50", "PRLGX-ASRL::/dev/ttyUSB0::INTFC", "gpib:2"}) {
    Parsed parsed = Parse({"--bus", text, "--answers", "cancel"});
    ASSERT_EQ(parsed.code, -1) << text << parsed.err;
    EXPECT_FALSE(parsed.options.bus.simulated()) << text;
    EXPECT_EQ(parsed.options.bus.text, text);
  }
  Parsed listed = Parse({"--bus", "prologix://10.0.0.5?addr=7,1"});
  ASSERT_EQ(listed.code, -1) << listed.err;
  EXPECT_EQ(listed.options.bus.listeners, (std::vector<int>{7, 1}));

  ExpectUsageError({"--bus", "prologix://10.0.0.5", "--sim-device", "5=silent"},
                   "--sim-device needs the simulated bus");
  ExpectUsageError({"--bus", "gpib:0", "--operator", "b1"}, "--operator needs the simulated bus");
  // Even an empty script: it names a technician who cannot stand there.
  ExpectUsageError({"--bus", "prologix:/dev/ttyUSB0", "--operator", ""},
                   "--operator needs the simulated bus");
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
  // The oscilloscope's own address counts as taken at any address.
  ExpectUsageError({"--bus", "sim:2432@9", "--sim-device", "9=silent"},
                   "GPIB address 9 is used twice");
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
  for (const char* item : {"--bus",
                           "--sim-device",
                           "--operator",
                           "--answers",
                           "--virtual-time",
                           "--trace",
                           "--version",
                           "sim[:MODEL][@ADDR]",
                           "e.g. sim:2432A@7",
                           "prologix://HOST[:PORT]",
                           "e.g. prologix://192.168.1.50",
                           "prologix:DEVICE[:BAUD]",
                           "e.g. prologix:/dev/ttyUSB0",
                           "?addr=",
                           "gpib:N",
                           "e.g. gpib:0",
                           "e.g. PRLGX-TCPIP::192.168.1.50::1234::INTFC",
                           "e.g. PRLGX-ASRL::/dev/ttyUSB0::INTFC",
                           "e.g. GPIB0::INTFC",
                           "Exit status",
                           "  2  bad command line",
                           "  3  the simulated technician's script"}) {
    EXPECT_NE(help.out.find(item), std::string::npos) << item;
  }
}

}  // namespace
}  // namespace kc
