#include "link/bus_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
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
// wrong with it (tests/transcripts/link/bus-names.txt).
TEST(BusRegistryTest, EveryFormReadsAsItsTargetAndMalformedNamesSayWhatIsWrong) {
  std::ifstream file(std::string(KC_SOURCE_DIR) + "/tests/transcripts/link/bus-names.txt");
  int names = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t reads = line.find(" => ");
    const std::size_t end = std::min(reads, line.find(" !! "));
    ASSERT_NE(end, std::string::npos) << line;
    const std::string text = line.substr(0, end);
    const std::string expected = line.substr(end + 4);
    std::string error;
    const std::optional<BusName> bus = ParseBusName(text, &error);
    ++names;
    if (end == reads) {
      ASSERT_TRUE(bus.has_value()) << text << ": " << error;
      EXPECT_EQ(Described(*bus), expected) << text;
      EXPECT_EQ(bus->text, text);
    } else {
      EXPECT_FALSE(bus.has_value()) << text;
      EXPECT_NE(error.find(expected), std::string::npos) << text << " gave: " << error;
      EXPECT_EQ(error.rfind("bad bus \"" + text + "\": ", 0), 0u) << error;
    }
  }
  EXPECT_EQ(names, 62);  // the whole file was read
  std::string error;
  EXPECT_FALSE(ParseBusName("", &error).has_value());
  EXPECT_EQ(error.rfind("bad bus \"\": ", 0), 0u) << error;
  EXPECT_NE(error.find("empty"), std::string::npos) << error;
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
