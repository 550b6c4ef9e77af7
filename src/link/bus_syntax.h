// The pieces bus names are made of, read the same way by every back end:
// host and port, the "?addr=" list, VISA-style parts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kc {

// A network endpoint: a host name, an IPv4 address or an IPv6 address
// (without its brackets), and a port.
struct HostPort {
  std::string host;
  int port = 0;
};

// Reads "HOST[:PORT]" or "[IPV6][:PORT]"; `default_port` when no port is
// given, and a given port from `lowest_port` to 65535. nullopt and a message
// in `error` when malformed.
std::optional<HostPort> ParseHostPort(std::string_view text, int default_port, std::string* error,
                                      int lowest_port = 1);

// Splits "rest?addr=A,B" into the rest and the addresses (1 to 30, each
// once). The rest is `text` itself when there is no "?". nullopt and a
// message in `error` when the query is malformed.
std::optional<std::string_view> TakeAddressQuery(std::string_view text, std::vector<int>& listeners,
                                                 std::string* error);

// The parts of a VISA-style interface name ("WORD::...::INTFC") cut at "::",
// the closing INTFC left out; nullopt and a message in `error` when the name
// does not end in ::INTFC.
std::optional<std::vector<std::string_view>> VisaInterfaceParts(std::string_view text,
                                                                std::string* error);
// The board number after `word` in a VISA name's first part ("GPIB3" -> 3,
// "GPIB" -> 0); nullopt when the rest is not a number.
std::optional<int> VisaBoard(std::string_view first, std::string_view word);

}  // namespace kc
