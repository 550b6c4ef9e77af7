// Bus names: how the user names the GPIB bus with the oscilloscope on it.
//
//   sim[:MODEL][@ADDR]                      the simulated bus (default 2440 at 1)
//   prologix://HOST[:PORT][?addr=A,B,...]   Prologix GPIB-ETHERNET or AR488 over TCP
//                                           (port 1234; HOST may be [IPv6])
//   prologix:DEVICE[:BAUD][?addr=A,B,...]   Prologix GPIB-USB or AR488 on a serial
//                                           port (DEVICE starts with "/", 115200 baud)
//   gpib:N                                  linux-gpib board N
//   PRLGX-TCPIP[b]::HOST[::PORT]::INTFC     the same TCP adapter, VISA style
//   PRLGX-ASRL[b]::DEVICE::INTFC            the same serial adapter, VISA style
//   GPIB[N]::INTFC                          linux-gpib board N, VISA style (N = 0)
//
// `?addr=` names the instruments' primary addresses (1 to 30) so that the
// listener search takes them instead of searching: a plain Prologix has no
// search of its own. The VISA-style words are matched without regard to case.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kc {

struct BusName {
  enum class Kind { kSim, kPrologixTcp, kPrologixSerial, kLinuxGpib };

  Kind kind = Kind::kSim;
  // kSim: the simulated oscilloscope's model text and primary address.
  std::string model = "2440";
  int address = 1;
  // kPrologixTcp: the adapter's host name or address (IPv6 without brackets).
  std::string host;
  int port = 1234;
  // kPrologixSerial: the serial device and its speed.
  std::string device;
  int baud = 115200;
  // Prologix kinds: listeners named by "?addr=", in the order given.
  std::vector<int> listeners;
  // kLinuxGpib: the board number (0 to 15).
  int board = 0;
  // The text the bus was named by.
  std::string text;
};

// Parses a bus name. On a malformed name returns nullopt and, when `error` is
// given, stores a message that quotes the name and says what is wrong with it.
std::optional<BusName> ParseBusName(const std::string& text, std::string* error);

// One line per accepted form, for --help.
std::vector<std::string> BusNameForms();

}  // namespace kc
