#include "link/bus_syntax.h"

#include <algorithm>
#include <cctype>

#include "platform/text.h"

namespace kc {

namespace {

bool ValidHostName(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
  });
}

bool ValidIpv6(std::string_view host) {
  return host.find(':') != std::string_view::npos &&
         std::all_of(host.begin(), host.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
         });
}

std::nullopt_t Fail(std::string* error, const std::string& what) {
  if (error != nullptr) *error = what;
  return std::nullopt;
}

}  // namespace

std::optional<HostPort> ParseHostPort(std::string_view text, int default_port, std::string* error,
                                      int lowest_port) {
  if (text.empty()) return Fail(error, "the host name is missing");
  HostPort result;
  result.port = default_port;
  std::string_view host;
  std::optional<std::string_view> port;
  if (text[0] == '[') {
    std::size_t close = text.find(']');
    if (close == std::string_view::npos)
      return Fail(error, "the \"[\" before the IPv6 address is not closed");
    host = text.substr(1, close - 1);
    std::string_view after = text.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return Fail(error, "expected \":PORT\" after the IPv6 address");
      port = after.substr(1);
    }
    if (!ValidIpv6(host))
      return Fail(error, "\"" + std::string(host) + "\" is not an IPv6 address");
  } else {
    std::size_t colon = text.find(':');
    if (colon != std::string_view::npos && text.find(':', colon + 1) != std::string_view::npos)
      return Fail(error, "an IPv6 address must be written in brackets, as [::1]:1234");
    host = text.substr(0, colon);
    if (colon != std::string_view::npos) port = text.substr(colon + 1);
    if (!ValidHostName(host))
      return Fail(error, "the host name \"" + std::string(host) +
                             "\" is empty or has characters a host name cannot have");
  }
  result.host = std::string(host);
  if (port) {
    std::optional<int> value = WholeNumber(*port, lowest_port, 65535);
    if (!value)
      return Fail(error, "the port \"" + std::string(*port) + "\" is not a number " +
                             std::to_string(lowest_port) + " to 65535");
    result.port = *value;
  }
  return result;
}

std::optional<std::string_view> TakeAddressQuery(std::string_view text, std::vector<int>& listeners,
                                                 std::string* error) {
  std::size_t mark = text.find('?');
  if (mark == std::string_view::npos) return text;
  std::string_view query = text.substr(mark + 1);
  constexpr std::string_view kKey = "addr=";
  if (query.substr(0, kKey.size()) != kKey)
    return Fail(error,
                "unknown option \"" + std::string(query) + "\" (the one option is addr=A,B,...)");
  std::string_view list = query.substr(kKey.size());
  if (list.empty()) return Fail(error, "addr= needs at least one address");
  for (std::string_view item : Split(list, ",")) {
    std::optional<int> pad = WholeNumber(item, 1, 30);
    if (!pad)
      return Fail(error,
                  "the address \"" + std::string(item) + "\" in addr= is not a number 1 to 30");
    if (std::find(listeners.begin(), listeners.end(), *pad) != listeners.end())
      return Fail(error, "the address " + std::to_string(*pad) + " appears twice in addr=");
    listeners.push_back(*pad);
  }
  return text.substr(0, mark);
}

std::optional<std::vector<std::string_view>> VisaInterfaceParts(std::string_view text,
                                                                std::string* error) {
  std::vector<std::string_view> parts = Split(text, "::");
  std::string tail = Lower(parts.back());
  if (tail == "instr")
    return Fail(error, "names one instrument; name the interface instead (ending in ::INTFC)");
  if (tail != "intfc") return Fail(error, "a VISA-style bus name ends in ::INTFC");
  parts.pop_back();
  return parts;
}

std::optional<int> VisaBoard(std::string_view first, std::string_view word) {
  if (!StartsWithNoCase(first, word)) return std::nullopt;
  std::string_view number = first.substr(word.size());
  if (number.empty()) return 0;
  return WholeNumber(number, 0, 999);
}

}  // namespace kc
