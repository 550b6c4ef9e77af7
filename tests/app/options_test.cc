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
  EXPECT_EQ(parsed.options.bus.kind, BusName::Kind::kSim);
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
    EXPECT_EQ(parsed.options.bus.kind, BusName::Kind::kSim) << c.text;
    EXPECT_EQ(parsed.options.bus.model, c.model) << c.text;
    EXPECT_EQ(parsed.options.bus.address, c.address) << c.text;
  }
}

TEST(Options, BadBusNames) {
  ExpectUsageError({"--bus", "gpib0"}, "bad bus \"gpib0\": unknown bus; known forms: sim");
  ExpectUsageError({"--bus", ""}, "the bus name is empty");
  ExpectUsageError({"--bus", "simulator"}, "unknown bus");
  ExpectUsageError({"--bus", "sim@0"}, "the address \"0\" after \"@\" is not a number 1 to 30");
  ExpectUsageError({"--bus", "sim@31"}, "\"31\"");
  ExpectUsageError({"--bus", "sim@-1"}, "\"-1\"");
  ExpectUsageError({"--bus", "sim@"}, "the address \"\"");
  ExpectUsageError({"--bus", "sim:2440@1x"}, "\"1x\"");
  ExpectUsageError({"--bus", "sim:"}, "model after \":\" is missing");
  ExpectUsageError({"--bus", "sim:24 40"}, "blanks");
  ExpectUsageError({"--bus", "sim:2440,V1"}, "comma");
  ExpectUsageError({"--bus", "prologix://"}, "host name is missing");
  ExpectUsageError({"--bus", "prologix://10.0.0.5:0"}, "the port \"0\"");
  ExpectUsageError({"--bus", "prologix:/dev/ttyUSB0:12345"}, "baud rate \"12345\"");
  ExpectUsageError({"--bus", "prologix:ttyUSB0"}, "expected prologix://HOST[:PORT]");
  ExpectUsageError({"--bus", "prologix://h?addr=31"}, "\"31\" in addr=");
  ExpectUsageError({"--bus", "gpib:16"}, "the board \"16\"");
  ExpectUsageError({"--bus", "GPIB0::7::INSTR"}, "name the interface instead");
  ExpectUsageError({"--bus", "TCPIP0::h::1234::SOCKET"}, "ends in ::INTFC");
}

// Every form of a real bus reaches the options as the bus-name parser reads
// it; the simulated-bench options do not go with them.
TEST(Options, RealBusNames) {
  struct Case {
    const char* text;
    BusName::Kind kind;
    const char* where;  // host or device
    int port_or_baud;
    int board;
  };
  const Case cases[] = {
      {"prologix://192.168.1.50", BusName::Kind::kPrologixTcp, "192.168.1.50", 1234, 0},
      {"prologix://127.0.0.1:40123", BusName::Kind::kPrologixTcp, "127.0.0.1", 40123, 0},
      {"prologix://[::1]:1235", BusName::Kind::kPrologixTcp, "::1", 1235, 0},
      {"PRLGX-TCPIP::gpib-lab::1234::INTFC", BusName::Kind::kPrologixTcp, "gpib-lab", 1234, 0},
      {"prologix:/dev/ttyUSB0", BusName::Kind::kPrologixSerial, "/dev/ttyUSB0", 115200, 0},
      {"prologix:/dev/ttyACM1:9600", BusName::Kind::kPrologixSerial, "/dev/ttyACM1", 9600, 0},
      {"PRLGX-ASRL::/dev/ttyUSB0::INTFC", BusName::Kind::kPrologixSerial, "/dev/ttyUSB0", 115200,
       0},
      {"gpib:2", BusName::Kind::kLinuxGpib, "", 0, 2},
      {"GPIB0::INTFC", BusName::Kind::kLinuxGpib, "", 0, 0},
  };
  for (const Case& c : cases) {
    Parsed parsed = Parse({"--bus", c.text, "--answers", "cancel"});
    ASSERT_EQ(parsed.code, -1) << c.text << parsed.err;
    const BusName& bus = parsed.options.bus;
    EXPECT_EQ(bus.kind, c.kind) << c.text;
    EXPECT_EQ(bus.text, c.text);
    if (c.kind == BusName::Kind::kPrologixTcp) {
      EXPECT_EQ(bus.host, c.where) << c.text;
      EXPECT_EQ(bus.port, c.port_or_baud) << c.text;
    } else if (c.kind == BusName::Kind::kPrologixSerial) {
      EXPECT_EQ(bus.device, c.where) << c.text;
      EXPECT_EQ(bus.baud, c.port_or_baud) << c.text;
    } else {
      EXPECT_EQ(bus.board, c.board) << c.text;
    }
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
