#include "link/bus_registry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "link/linux_gpib_driver.h"
#include "link/prologix_driver.h"
#include "link/vxi11_driver.h"

namespace kc {
namespace {

// What a parsed name names, in one line: "scheme target [listeners]".
std::string Described(const BusName& bus) {
  std::ostringstream out;
  out << bus.scheme << " ";
  if (const auto* sim = bus.As<SimTarget>()) out << sim->model << "@" << sim->address;
  if (const auto* adapter = bus.As<PrologixTarget>()) {
    if (adapter->serial)
      out << adapter->device << " " << adapter->baud;
    else
      out << adapter->host << " " << adapter->port;
  }
  if (const auto* board = bus.As<LinuxGpibTarget>()) out << "board " << board->board;
  if (const auto* gateway = bus.As<Vxi11Target>())
    out << gateway->host << ":" << gateway->port << " " << gateway->interface_name;
  for (int pad : bus.listeners) out << " " << pad;
  return out.str();
}

// Every form reads as its scheme and target; a malformed name says what is
// wrong with it.
TEST(BusRegistryTest, EveryFormReadsAsItsTargetAndMalformedNamesSayWhatIsWrong) {
  const std::pair<const char*, const char*> forms[] = {
      {"sim", "sim 2440@1"},
      {"sim:2432A@17", "sim 2432A@17"},
      {"sim@30", "sim 2440@30"},
      {"sim:2430@07", "sim 2430@7"},
      {"prologix://192.168.1.5", "prologix 192.168.1.5 1234"},
      {"prologix://gpib-lab.local:5025?addr=7,1", "prologix gpib-lab.local 5025 7 1"},
      {"prologix://[::1]:4000", "prologix ::1 4000"},
      {"prologix://host/", "prologix host 1234"},
      {"prologix:/dev/ttyUSB0", "prologix /dev/ttyUSB0 115200"},
      {"prologix:/dev/ttyACM1:9600?addr=3", "prologix /dev/ttyACM1 9600 3"},
      // Colons inside a by-path name belong to the device.
      {"prologix:/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",
       "prologix /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0 115200"},
      {"PRLGX-TCPIP::10.0.0.9::1234::INTFC", "prologix 10.0.0.9 1234"},
      {"PRLGX-TCPIP0::scope-bench::INTFC", "prologix scope-bench 1234"},
      {"prlgx-tcpip::h::99::intfc", "prologix h 99"},
      {"PRLGX-ASRL::/dev/ttyUSB1::INTFC", "prologix /dev/ttyUSB1 115200"},
      {"gpib:2", "gpib board 2"},
      {"GPIB0::INTFC", "gpib board 0"},
      {"GPIB::INTFC", "gpib board 0"},
      {"gpib3::intfc", "gpib board 3"},
      {"vxi11://192.168.1.60", "vxi11 192.168.1.60:0 gpib0"},
      {"vxi11://127.0.0.1:1024/gpib0,3", "vxi11 127.0.0.1:1024 gpib0 3"},
      {"TCPIP::10.0.0.7::gpib0,5::INSTR", "vxi11 10.0.0.7:0 gpib0 5"},
      {"VXI11://gw-3.lab:1024/gpib0", "vxi11 gw-3.lab:1024 gpib0"},
      {"vxi11://[fd00::5]:1024/gpib0,7", "vxi11 fd00::5:1024 gpib0 7"},
      {"tcpip0::10.0.0.7::GPIB0,30::instr", "vxi11 10.0.0.7:0 gpib0 30"},
      {"TCPIP::[fd00::5]::gpib0,2::INSTR", "vxi11 fd00::5:0 gpib0 2"},
      // The shortest serial device.
      {"PRLGX-ASRL::/d::INTFC", "prologix /d 115200"},
  };
  for (const auto& [text, described] : forms) {
    std::string error;
    std::optional<BusName> bus = ParseBusName(text, &error);
    ASSERT_TRUE(bus.has_value()) << text << ": " << error;
    EXPECT_EQ(Described(*bus), described) << text;
    EXPECT_EQ(bus->text, text);
  }
  const std::pair<const char*, const char*> malformed[] = {
      {"", "empty"},
      {"usb:3", "unknown bus; known forms: sim[:MODEL][@ADDR], prologix://HOST[:PORT]"},
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
      {"VXI0::INTFC", "unknown interface \"VXI0\" (known: PRLGX-TCPIP, PRLGX-ASRL, GPIB, TCPIP)"},
      {"vxi11://", "host name \"\" is empty"},
      {"vxi11://fd00::5", "must be written in brackets"},
      {"vxi11://host:70000", "the port \"70000\" is not a number 1 to 65535"},
      {"vxi11://host/inst0", "as gpib0 or gpib0,ADDR, not \"inst0\""},
      {"vxi11://host/gpib0,31", "the address \"31\" is not a number 1 to 30"},
      {"TCPIP::10.0.0.7::gpib0::INSTR", "the instrument's address is missing"},
      {"TCPIP::10.0.0.7:1024::gpib0,1::INSTR", "has no port"},
  };
  for (const auto& [text, says] : malformed) {
    std::string error;
    EXPECT_FALSE(ParseBusName(text, &error).has_value()) << text;
    EXPECT_NE(error.find(says), std::string::npos) << text << " gave: " << error;
    EXPECT_EQ(error.rfind("bad bus \"" + std::string(text) + "\": ", 0), 0u) << error;
  }
  // Without a place for the message the answer is still no.
  EXPECT_FALSE(ParseBusName("gpib:99", nullptr).has_value());
}

// The README's table of buses names every form a scheme registers, so that a
// new back end cannot land without its line there; only the simulated bus
// comes without a factory (the program builds its bench itself).
TEST(BusRegistryTest, TheReadmeListsEveryRegisteredForm) {
  std::ifstream file(std::string(KC_SOURCE_DIR) + "/README.md");
  std::stringstream readme;
  readme << file.rdbuf();
  ASSERT_FALSE(readme.str().empty());
  for (const BusScheme& scheme : BusRegistry::Builtin().schemes()) {
    for (const std::string& form : scheme.forms)
      EXPECT_NE(readme.str().find("`" + form), std::string::npos) << scheme.name << ": " << form;
    EXPECT_EQ(static_cast<bool>(scheme.make), scheme.name != kSimScheme) << scheme.name;
  }
}

}  // namespace
}  // namespace kc
