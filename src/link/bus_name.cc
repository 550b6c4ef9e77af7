#include "link/bus_name.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace kc {
namespace {

constexpr int kMaxBoard = 15;
// Speeds a serial port can be set to.
constexpr std::array<int, 17> kBaudRates = {300,    600,    1200,   2400,    4800,   9600,
                                            19200,  38400,  57600,  115200,  230400, 460800,
                                            500000, 576000, 921600, 1000000, 2000000};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == prefix;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// A decimal number from lo to hi, digits only.
std::optional<int> Number(std::string_view text, int lo, int hi) {
  if (!AllDigits(text) || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
}

// Collects the error of one parse; the first message wins.
class Parse {
 public:
  explicit Parse(const std::string& text) { bus.text = text; }

  std::nullopt_t Fail(const std::string& what) {
    if (error.empty()) error = "bad bus \"" + bus.text + "\": " + what;
    return std::nullopt;
  }

  BusName bus;
  std::string error;
};

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

std::optional<BusName> ParsePort(Parse& parse, std::string_view port) {
  std::optional<int> value = Number(port, 1, 65535);
  if (!value)
    return parse.Fail("the port \"" + std::string(port) + "\" is not a number 1 to 65535");
  parse.bus.port = *value;
  return parse.bus;
}

std::optional<BusName> ParseBaud(Parse& parse, std::string_view baud) {
  std::optional<int> value = Number(baud, 1, 100000000);
  if (!value || std::find(kBaudRates.begin(), kBaudRates.end(), *value) == kBaudRates.end())
    return parse.Fail("the baud rate \"" + std::string(baud) +
                      "\" is not a speed a serial port takes (such as 9600 or 115200)");
  parse.bus.baud = *value;
  return parse.bus;
}

// "addr=1,7": the listeners to take instead of a search.
std::optional<BusName> ParseQuery(Parse& parse, std::string_view query) {
  constexpr std::string_view kKey = "addr=";
  if (query.substr(0, kKey.size()) != kKey)
    return parse.Fail("unknown option \"" + std::string(query) +
                      "\" (the one option is addr=A,B,...)");
  std::string_view list = query.substr(kKey.size());
  if (list.empty()) return parse.Fail("addr= needs at least one address");
  for (std::string_view item : Split(list, ",")) {
    std::optional<int> pad = Number(item, 1, 30);
    if (!pad)
      return parse.Fail("the address \"" + std::string(item) +
                        "\" in addr= is not a number 1 to 30");
    if (std::find(parse.bus.listeners.begin(), parse.bus.listeners.end(), *pad) !=
        parse.bus.listeners.end())
      return parse.Fail("the address " + std::to_string(*pad) + " appears twice in addr=");
    parse.bus.listeners.push_back(*pad);
  }
  return parse.bus;
}

// Splits "rest?query" and parses the query; returns the rest.
std::optional<std::string_view> TakeQuery(Parse& parse, std::string_view& rest) {
  std::size_t mark = rest.find('?');
  if (mark == std::string_view::npos) return rest;
  std::string_view query = rest.substr(mark + 1);
  rest = rest.substr(0, mark);
  if (!ParseQuery(parse, query)) return std::nullopt;
  return rest;
}

std::optional<BusName> ParseSim(Parse& parse, std::string_view rest) {
  parse.bus.kind = BusName::Kind::kSim;
  std::size_t at = rest.find('@');
  std::string_view model_part = rest.substr(0, at);
  if (!model_part.empty()) {
    if (model_part[0] != ':') return parse.Fail("expected sim[:MODEL][@ADDR]");
    std::string_view model = model_part.substr(1);
    if (model.empty()) return parse.Fail("the model after \":\" is missing");
    bool printable = std::all_of(model.begin(), model.end(), [](char c) {
      return std::isgraph(static_cast<unsigned char>(c)) != 0 && c != ':';
    });
    if (!printable)
      return parse.Fail("the model \"" + std::string(model) +
                        "\" has blanks or control characters");
    // The model becomes part of the identity reply, whose fields are
    // separated by commas and whose replies by semicolons.
    if (model.find_first_of(",;\"") != std::string_view::npos)
      return parse.Fail("the model \"" + std::string(model) +
                        "\" has a comma, semicolon or quote (use letters and digits, such as "
                        "2432A)");
    parse.bus.model = std::string(model);
  }
  if (at != std::string_view::npos) {
    std::string_view address = rest.substr(at + 1);
    std::optional<int> pad = Number(address, 1, 30);
    if (!pad)
      return parse.Fail("the address \"" + std::string(address) +
                        "\" after \"@\" is not a number 1 to 30");
    parse.bus.address = *pad;
  }
  return parse.bus;
}

// HOST[:PORT] or [IPV6][:PORT]
std::optional<BusName> ParseHostPort(Parse& parse, std::string_view authority) {
  if (!authority.empty() && authority.back() == '/') authority.remove_suffix(1);
  if (authority.empty()) return parse.Fail("the adapter's host name is missing");
  std::string_view host;
  std::string_view port;
  bool has_port = false;
  if (authority[0] == '[') {
    std::size_t close = authority.find(']');
    if (close == std::string_view::npos)
      return parse.Fail("the \"[\" before the IPv6 address is not closed");
    host = authority.substr(1, close - 1);
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return parse.Fail("expected \":PORT\" after the IPv6 address");
      port = after.substr(1);
      has_port = true;
    }
    if (!ValidIpv6(host)) return parse.Fail("\"" + std::string(host) + "\" is not an IPv6 address");
  } else {
    std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos && authority.find(':', colon + 1) != std::string_view::npos)
      return parse.Fail("an IPv6 address must be written in brackets, as [::1]:1234");
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
      port = authority.substr(colon + 1);
      has_port = true;
    }
    if (!ValidHostName(host))
      return parse.Fail("the host name \"" + std::string(host) +
                        "\" is empty or has characters a host name cannot have");
  }
  parse.bus.host = std::string(host);
  if (has_port) return ParsePort(parse, port);
  return parse.bus;
}

std::optional<BusName> ParsePrologix(Parse& parse, std::string_view rest) {
  if (rest.substr(0, 2) == "//") {
    parse.bus.kind = BusName::Kind::kPrologixTcp;
    rest.remove_prefix(2);
    if (!TakeQuery(parse, rest)) return std::nullopt;
    return ParseHostPort(parse, rest);
  }
  if (rest.empty() || rest[0] != '/')
    return parse.Fail("expected prologix://HOST[:PORT] or prologix:/dev/DEVICE[:BAUD]");
  parse.bus.kind = BusName::Kind::kPrologixSerial;
  if (!TakeQuery(parse, rest)) return std::nullopt;
  // A device path may hold colons itself (by-path names): only digits after
  // the last colon are a speed.
  std::size_t colon = rest.rfind(':');
  if (colon != std::string_view::npos && AllDigits(rest.substr(colon + 1))) {
    parse.bus.device = std::string(rest.substr(0, colon));
    if (!ParseBaud(parse, rest.substr(colon + 1))) return std::nullopt;
  } else {
    parse.bus.device = std::string(rest);
  }
  if (parse.bus.device.size() < 2) return parse.Fail("the serial device is missing");
  return parse.bus;
}

std::optional<BusName> ParseBoard(Parse& parse, std::string_view board) {
  parse.bus.kind = BusName::Kind::kLinuxGpib;
  std::optional<int> value = Number(board, 0, kMaxBoard);
  if (!value)
    return parse.Fail("the board \"" + std::string(board) + "\" is not a number 0 to " +
                      std::to_string(kMaxBoard));
  parse.bus.board = *value;
  return parse.bus;
}

// PRLGX-TCPIP[b]::HOST[::PORT]::INTFC, PRLGX-ASRL[b]::DEVICE::INTFC, GPIB[N]::INTFC
std::optional<BusName> ParseVisa(Parse& parse) {
  std::vector<std::string_view> parts = Split(parse.bus.text, "::");
  std::string head = Lower(parts[0]);
  std::string tail = Lower(parts.back());
  auto board_suffix = [](std::string_view word, std::string_view prefix) {
    std::string_view number = word.substr(prefix.size());
    return number.empty() || AllDigits(number);
  };
  if (tail == "instr")
    return parse.Fail("names one instrument; name the interface instead (ending in ::INTFC)");
  if (tail != "intfc") return parse.Fail("a VISA-style bus name ends in ::INTFC");
  if (StartsWithNoCase(head, "prlgx-tcpip") && board_suffix(head, "prlgx-tcpip")) {
    parse.bus.kind = BusName::Kind::kPrologixTcp;
    if (parts.size() != 3 && parts.size() != 4)
      return parse.Fail("expected PRLGX-TCPIP::HOST[::PORT]::INTFC");
    if (!ValidHostName(parts[1]))
      return parse.Fail("the host name \"" + std::string(parts[1]) +
                        "\" is empty or has characters a host name cannot have");
    parse.bus.host = std::string(parts[1]);
    if (parts.size() == 4) return ParsePort(parse, parts[2]);
    return parse.bus;
  }
  if (StartsWithNoCase(head, "prlgx-asrl") && board_suffix(head, "prlgx-asrl")) {
    parse.bus.kind = BusName::Kind::kPrologixSerial;
    if (parts.size() != 3 || parts[1].size() < 2 || parts[1][0] != '/')
      return parse.Fail("expected PRLGX-ASRL::/dev/DEVICE::INTFC");
    parse.bus.device = std::string(parts[1]);
    return parse.bus;
  }
  if (StartsWithNoCase(head, "gpib") && board_suffix(head, "gpib")) {
    if (parts.size() != 2) return parse.Fail("expected GPIB[BOARD]::INTFC");
    std::string_view number = std::string_view(head).substr(4);
    return ParseBoard(parse, number.empty() ? "0" : number);
  }
  return parse.Fail("unknown interface \"" + std::string(parts[0]) +
                    "\" (known: PRLGX-TCPIP, PRLGX-ASRL, GPIB)");
}

}  // namespace

std::optional<BusName> ParseBusName(const std::string& text, std::string* error) {
  Parse parse(text);
  std::optional<BusName> result;
  std::string_view view(text);
  if (text.empty()) {
    parse.Fail("the bus name is empty");
  } else if (StartsWithNoCase(view, "prologix:")) {
    result = ParsePrologix(parse, view.substr(9));
  } else if (StartsWithNoCase(view, "sim") &&
             (view.size() == 3 || view[3] == ':' || view[3] == '@')) {
    result = ParseSim(parse, view.substr(3));
  } else if (text.find("::") != std::string::npos) {
    result = ParseVisa(parse);
  } else if (StartsWithNoCase(view, "gpib:")) {
    result = ParseBoard(parse, view.substr(5));
  } else {
    parse.Fail(
        "unknown bus; known forms: sim[:MODEL][@ADDR], prologix://HOST[:PORT], "
        "prologix:/dev/DEVICE[:BAUD], gpib:N, PRLGX-TCPIP::HOST::PORT::INTFC, "
        "PRLGX-ASRL::/dev/DEVICE::INTFC, GPIB0::INTFC");
  }
  if (!result && error != nullptr) *error = parse.error;
  return result;
}

std::vector<std::string> BusNameForms() {
  return {
      "sim[:MODEL][@ADDR]                     simulated bus (default sim:2440@1)",
      "prologix://HOST[:PORT][?addr=A,B]      Prologix or AR488 adapter over TCP (port 1234)",
      "prologix:/dev/DEVICE[:BAUD][?addr=A,B] Prologix or AR488 adapter on a serial port (115200)",
      "gpib:N                                 linux-gpib board N",
      "PRLGX-TCPIP::HOST::PORT::INTFC, PRLGX-ASRL::/dev/DEVICE::INTFC, GPIB0::INTFC",
  };
}

}  // namespace kc
