#include "link/bus_name.h"

#include <gtest/gtest.h>

namespace kc {
namespace {

BusName Parsed(const std::string& text) {
  std::string error;
  std::optional<BusName> bus = ParseBusName(text, &error);
  EXPECT_TRUE(bus.has_value()) << text << ": " << error;
  return bus.value_or(BusName{});
}

std::string ErrorOf(const std::string& text) {
  std::string error;
  EXPECT_FALSE(ParseBusName(text, &error).has_value()) << text;
  return error;
}

TEST(BusNameTest, SimulatedBusDefaultsAndParts) {
  BusName plain = Parsed("sim");
  EXPECT_EQ(plain.kind, BusName::Kind::kSim);
  EXPECT_EQ(plain.model, "2440");
  EXPECT_EQ(plain.address, 1);

  BusName full = Parsed("sim:2432A@17");
  EXPECT_EQ(full.model, "2432A");
  EXPECT_EQ(full.address, 17);
  EXPECT_EQ(full.text, "sim:2432A@17");

  EXPECT_EQ(Parsed("sim@30").address, 30);
  EXPECT_EQ(Parsed("sim@30").model, "2440");
  EXPECT_EQ(Parsed("sim:2431L").address, 1);
}

TEST(BusNameTest, PrologixOverTcp) {
  BusName bus = Parsed("prologix://192.168.1.5");
  EXPECT_EQ(bus.kind, BusName::Kind::kPrologixTcp);
  EXPECT_EQ(bus.host, "192.168.1.5");
  EXPECT_EQ(bus.port, 1234);
  EXPECT_TRUE(bus.listeners.empty());

  BusName named = Parsed("prologix://gpib-lab.local:5025?addr=7,1");
  EXPECT_EQ(named.host, "gpib-lab.local");
  EXPECT_EQ(named.port, 5025);
  EXPECT_EQ(named.listeners, (std::vector<int>{7, 1}));

  BusName v6 = Parsed("prologix://[::1]:4000");
  EXPECT_EQ(v6.host, "::1");
  EXPECT_EQ(v6.port, 4000);
}

TEST(BusNameTest, PrologixOnSerialPort) {
  BusName bus = Parsed("prologix:/dev/ttyUSB0");
  EXPECT_EQ(bus.kind, BusName::Kind::kPrologixSerial);
  EXPECT_EQ(bus.device, "/dev/ttyUSB0");
  EXPECT_EQ(bus.baud, 115200);

  BusName slow = Parsed("prologix:/dev/ttyACM1:9600?addr=3");
  EXPECT_EQ(slow.device, "/dev/ttyACM1");
  EXPECT_EQ(slow.baud, 9600);
  EXPECT_EQ(slow.listeners, std::vector<int>{3});

  // Colons inside a by-path name belong to the device.
  BusName by_path = Parsed("prologix:/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
  EXPECT_EQ(by_path.device, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
  EXPECT_EQ(by_path.baud, 115200);
}

TEST(BusNameTest, LinuxGpibBoards) {
  BusName bus = Parsed("gpib:2");
  EXPECT_EQ(bus.kind, BusName::Kind::kLinuxGpib);
  EXPECT_EQ(bus.board, 2);
  EXPECT_EQ(Parsed("GPIB0::INTFC").board, 0);
  EXPECT_EQ(Parsed("GPIB::INTFC").board, 0);
  EXPECT_EQ(Parsed("gpib3::intfc").board, 3);
}

TEST(BusNameTest, VisaStylePrologixNames) {
  BusName tcp = Parsed("PRLGX-TCPIP::10.0.0.9::1234::INTFC");
  EXPECT_EQ(tcp.kind, BusName::Kind::kPrologixTcp);
  EXPECT_EQ(tcp.host, "10.0.0.9");
  EXPECT_EQ(tcp.port, 1234);
  EXPECT_EQ(Parsed("PRLGX-TCPIP0::scope-bench::INTFC").host, "scope-bench");
  EXPECT_EQ(Parsed("prlgx-tcpip::h::99::intfc").port, 99);

  BusName serial = Parsed("PRLGX-ASRL::/dev/ttyUSB1::INTFC");
  EXPECT_EQ(serial.kind, BusName::Kind::kPrologixSerial);
  EXPECT_EQ(serial.device, "/dev/ttyUSB1");
  EXPECT_EQ(serial.baud, 115200);
}

TEST(BusNameTest, MalformedNamesSayWhatIsWrong) {
  struct Case {
    const char* text;
    const char* says;
  };
  const Case cases[] = {
      {"", "empty"},
      {"usb:3", "unknown bus"},
      {"sim@0", "1 to 30"},
      {"sim@31", "1 to 30"},
      {"sim:", "model"},
      {"sim:24 40", "blanks"},
      {"sim:2440,V1", "comma"},
      {"sim:24\"40", "quote"},
      {"simx", "unknown bus"},
      {"prologix://", "host name is missing"},
      {"prologix://host:0", "port \"0\""},
      {"prologix://host:99999", "port"},
      {"prologix://host:12ab", "port"},
      {"prologix://::1:1234", "brackets"},
      {"prologix://[::1", "not closed"},
      {"prologix://bad host", "host name"},
      {"prologix://h?addr=", "at least one"},
      {"prologix://h?addr=0", "\"0\""},
      {"prologix://h?addr=5,5", "twice"},
      {"prologix://h?speed=1", "unknown option"},
      {"prologix:ttyUSB0", "prologix:/dev/DEVICE"},
      {"prologix:/dev/ttyUSB0:12345", "baud rate \"12345\""},
      {"gpib:", "board"},
      {"gpib:16", "0 to 15"},
      {"gpib:x", "board \"x\""},
      {"GPIB0::7::INSTR", "names one instrument"},
      {"PRLGX-TCPIP::host::1234", "ends in ::INTFC"},
      {"PRLGX-ASRL::ttyUSB0::INTFC", "PRLGX-ASRL::/dev/DEVICE::INTFC"},
      {"VXI0::INTFC", "unknown interface \"VXI0\""},
  };
  for (const Case& c : cases) {
    std::string error = ErrorOf(c.text);
    EXPECT_NE(error.find(c.says), std::string::npos) << c.text << " gave: " << error;
    EXPECT_NE(error.find("\"" + std::string(c.text) + "\""), std::string::npos) << error;
  }
  // Without a place for the message the answer is still no.
  EXPECT_FALSE(ParseBusName("gpib:99", nullptr).has_value());
}

}  // namespace
}  // namespace kc
