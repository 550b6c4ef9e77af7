#include "link/vxi11_driver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <thread>

#include "link/bus_registry.h"
#include "platform/text.h"

namespace kc {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Seconds a call with time-out code TNONE may take at most.
constexpr double kLongestWait = 1000;
// Any number: the gateway only hands it back.
constexpr std::int32_t kClientId = 0x4B43;
constexpr char kUnlisten = 0x3F;
constexpr int kTalkBase = 0x40;
constexpr int kListenBase = 0x20;
// ibdev's end-of-string mode: a read ends at the EOS byte.
constexpr int kReadEos = 0x400;

SteadyClock::time_point After(double seconds) {
  return SteadyClock::now() +
         std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
}

bool ValidHost(std::string_view host) {
  if (host.empty()) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ||
           c == ':' || c == '%';
  });
}

std::string ErrorText(std::int32_t error) {
  switch (error) {
    case vxi11::kSyntaxError:
      return "syntax error";
    case vxi11::kNotAccessible:
      return "device not accessible";
    case vxi11::kInvalidLink:
      return "invalid link";
    case vxi11::kParameterError:
      return "parameter error";
    case vxi11::kNotSupported:
      return "operation not supported";
    case vxi11::kOutOfResources:
      return "out of resources";
    case vxi11::kDeviceLocked:
      return "locked by another client";
    case vxi11::kNoLockHeld:
      return "no lock held";
    case vxi11::kIoTimeout:
      return "I/O time-out";
    case vxi11::kIoError:
      return "I/O error";
    case vxi11::kInvalidAddress:
      return "invalid address";
    default:
      return "error " + std::to_string(error);
  }
}

struct NameParse {
  Vxi11Target target;
  std::string error;
  std::nullopt_t Fail(const std::string& what) {
    if (error.empty()) error = "bad bus \"" + target.text + "\": " + what;
    return std::nullopt;
  }
};

// gpibK or gpibK,N: the interface and, when given, the instrument's address.
bool ParseDevicePart(NameParse& parse, std::string_view part, bool need_address) {
  std::string lower = Lower(part);
  std::size_t comma = lower.find(',');
  std::string_view interface_name = std::string_view(lower).substr(0, comma);
  if (interface_name.size() < 5 || interface_name.substr(0, 4) != "gpib" ||
      !WholeNumber(interface_name.substr(4), 0, 99)) {
    parse.Fail("expected the gateway's GPIB interface, as gpib0 or gpib0,ADDR, not \"" +
               std::string(part) + "\"");
    return false;
  }
  parse.target.interface_name = std::string(interface_name);
  if (comma == std::string::npos) {
    if (need_address) parse.Fail("the instrument's address is missing: gpib0,ADDR");
    return !need_address;
  }
  std::string_view address = std::string_view(lower).substr(comma + 1);
  std::optional<int> pad = WholeNumber(address, 1, 30);
  if (!pad) {
    parse.Fail("the address \"" + std::string(address) + "\" is not a number 1 to 30");
    return false;
  }
  parse.target.listeners = {*pad};
  return true;
}

// HOST or [IPV6], then what follows it: ":PORT/..." in a URL, "::..." in a
// VISA-style name.
bool ParseHost(NameParse& parse, std::string_view& rest, bool visa) {
  std::string_view host;
  if (!rest.empty() && rest[0] == '[') {
    std::size_t close = rest.find(']');
    if (close == std::string_view::npos) {
      parse.Fail("the \"[\" before the IPv6 address is not closed");
      return false;
    }
    host = rest.substr(1, close - 1);
    rest.remove_prefix(close + 1);
  } else {
    std::string_view authority = rest.substr(0, visa ? rest.find("::") : rest.find('/'));
    std::size_t colon = authority.find(':');
    if (colon != std::string_view::npos && visa) {
      parse.Fail("a VISA-style name has no port (vxi11://HOST:PORT has)");
      return false;
    }
    if (colon != std::string_view::npos &&
        authority.find(':', colon + 1) != std::string_view::npos) {
      parse.Fail("an IPv6 address must be written in brackets, as [fd00::5]");
      return false;
    }
    host = authority.substr(0, colon);
    rest.remove_prefix(host.size());
  }
  if (!ValidHost(host)) {
    parse.Fail("the gateway's host name \"" + std::string(host) +
               "\" is empty or has characters a host name cannot have");
    return false;
  }
  parse.target.host = std::string(host);
  return true;
}

}  // namespace

namespace vxi11 {

std::string Word16(std::uint16_t value) {
  return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
}

std::optional<std::uint16_t> ReadWord16(std::string_view data) {
  if (data.size() < 2) return std::nullopt;
  return static_cast<std::uint16_t>((static_cast<unsigned char>(data[0]) << 8) |
                                    static_cast<unsigned char>(data[1]));
}

}  // namespace vxi11

bool ClaimsVxi11Name(std::string_view text) {
  std::string lower = Lower(text);
  if (lower.rfind("vxi11://", 0) == 0) return true;
  if (lower.rfind("tcpip", 0) != 0) return false;
  std::size_t at = 5;
  while (at < lower.size() && std::isdigit(static_cast<unsigned char>(lower[at]))) ++at;
  return lower.compare(at, 2, "::") == 0 && lower.size() >= 7 &&
         lower.compare(lower.size() - 7, 7, "::instr") == 0;
}

std::optional<Vxi11Target> ParseVxi11Name(const std::string& text, std::string* error) {
  NameParse parse;
  parse.target.text = text;
  auto fail = [&](const std::string& what) {
    parse.Fail(what);
    if (error != nullptr) *error = parse.error;
    return std::nullopt;
  };
  auto failed = [&]() -> std::optional<Vxi11Target> {
    if (error != nullptr) *error = parse.error;
    return std::nullopt;
  };
  std::string lower = Lower(text);
  if (lower.rfind("vxi11://", 0) == 0) {
    std::string_view rest = std::string_view(text).substr(8);
    if (!ParseHost(parse, rest, false)) return failed();
    if (!rest.empty() && rest[0] == ':') {
      std::size_t slash = rest.find('/');
      std::string_view port =
          rest.substr(1, slash == std::string_view::npos ? rest.npos : slash - 1);
      std::optional<int> number = WholeNumber(port, 1, 65535);
      if (!number) return fail("the port \"" + std::string(port) + "\" is not a number 1 to 65535");
      parse.target.port = *number;
      rest.remove_prefix(1 + port.size());
    }
    if (!rest.empty() && rest != "/") {
      if (rest[0] != '/') return fail("expected vxi11://HOST[:PORT][/gpib0[,ADDR]]");
      if (!ParseDevicePart(parse, rest.substr(1), false)) return failed();
    }
    return parse.target;
  }
  if (!ClaimsVxi11Name(text))
    return fail("expected vxi11://HOST[:PORT] or TCPIP::HOST::gpib0,ADDR::INSTR");
  std::string_view rest = std::string_view(text).substr(lower.find("::") + 2);
  rest.remove_suffix(7);  // "::INSTR"
  if (!ParseHost(parse, rest, true)) return failed();
  if (rest.substr(0, 2) != "::") return fail("expected TCPIP::HOST::gpib0,ADDR::INSTR");
  rest.remove_prefix(2);
  if (!ParseDevicePart(parse, rest, true)) return failed();
  return parse.target;
}

std::vector<std::string> Vxi11HelpLines() {
  return {
      "vxi11://HOST[:PORT][/gpib0[,ADDR]]     LAN/GPIB gateway (VXI-11; port from the portmapper "
      "unless given), e.g. vxi11://192.168.1.60",
      "TCPIP::HOST::gpib0,ADDR::INSTR         the instrument at ADDR behind a gateway, e.g. "
      "TCPIP::192.168.1.60::gpib0,1::INSTR",
  };
}

// ---------------------------------------------------------------------------
// The driver

Vxi11Driver::Vxi11Driver(Vxi11Target target, Platform& platform, Vxi11Options options)
    : target_(std::move(target)),
      platform_(platform),
      options_(std::move(options)),
      client_(vxi11::kCoreProgram, vxi11::kCoreVersion),
      port_(target_.port) {}

Vxi11Driver::~Vxi11Driver() {
  DestroyLinks();
}

void Vxi11Driver::DestroyLinks() {
  if (!client_.is_open()) return;
  // A gateway that has stopped answering does not hold up the way out.
  SteadyClock::time_point deadline = After(options_.answer_seconds);
  std::vector<std::int32_t> lids;
  if (interface_link_) lids.push_back(interface_link_->lid);
  for (const auto& [address, link] : device_links_) lids.push_back(link.lid);
  for (std::int32_t lid : lids) {
    std::string results;
    if (client_.Call(vxi11::kDestroyLink, rpc::Encode(vxi11::LinkOrError{lid}), deadline, &results))
      break;
  }
  interface_link_.reset();
  device_links_.clear();
  client_.Close();
}

std::string Vxi11Driver::GatewayName() const {
  bool ipv6 = target_.host.find(':') != std::string::npos;
  std::string name = "GPIB gateway at " + (ipv6 ? "[" + target_.host + "]" : target_.host);
  if (port_ != 0) name += ":" + std::to_string(port_);
  return name;
}

void Vxi11Driver::Diagnose(const std::string& line) {
  if (fault_reported_) return;
  fault_reported_ = true;
  if (options_.diagnostic) {
    options_.diagnostic(line);
  } else {
    std::cerr << line << std::endl;
  }
}

void Vxi11Driver::Drop(int fault_error, const std::string& line) {
  client_.Close();
  interface_link_.reset();
  device_links_.clear();
  fault_error_ = fault_error;
  Diagnose(line);
}

int Vxi11Driver::Ok(int status, long count) {
  return Report(status, 0, count);
}

std::uint32_t Vxi11Driver::TimeoutMs(int tmo) const {
  double seconds = gpib::TimeoutSeconds(tmo);
  if (seconds <= 0) seconds = kLongestWait;
  return static_cast<std::uint32_t>(std::max(1L, std::lround(seconds * 1000)));
}

std::string Vxi11Driver::DeviceName(int pad, int sad) const {
  std::string name = target_.interface_name + "," + std::to_string(pad);
  if (sad != 0) name += "," + std::to_string(sad - 0x60);
  return name;
}

bool Vxi11Driver::Begin() {
  if (client_.is_open()) return true;
  interface_link_.reset();
  device_links_.clear();
  SteadyClock::time_point deadline = After(options_.connect_seconds);
  int port = target_.port;
  if (port == 0) {
    std::error_code error = rpc::GetPort(target_.host, vxi11::kCoreProgram, vxi11::kCoreVersion,
                                         deadline, &port, options_.portmapper_port);
    if (error) {
      fault_error_ = gpib::ENEB;
      Diagnose(GatewayName() + ": no VXI-11 core channel from its portmapper (port " +
               std::to_string(options_.portmapper_port) + "): " + error.message());
      return false;
    }
  }
  port_ = port;
  if (std::error_code error = client_.Connect(target_.host, port, deadline)) {
    fault_error_ = gpib::ENEB;
    Diagnose(GatewayName() + ": cannot connect: " + error.message());
    return false;
  }
  return true;
}

bool Vxi11Driver::Call(std::uint32_t procedure, const std::string& args, double seconds,
                       std::string* results, const char* what) {
  std::error_code error = client_.Call(procedure, args, After(seconds), results);
  if (!error) {
    fault_reported_ = false;  // the gateway answers again
    return true;
  }
  if (error == std::errc::timed_out) {
    Drop(gpib::EABO, GatewayName() + " does not answer " + what);
  } else if (error.category() == rpc::RpcCategory()) {
    Drop(gpib::EDVR, GatewayName() + ": " + what + ": " + error.message());
  } else {
    Drop(gpib::EDVR, GatewayName() + ": connection lost: " + error.message());
  }
  return false;
}

template <typename Resp>
bool Vxi11Driver::CallFor(std::uint32_t procedure, const std::string& args, double seconds,
                          Resp* resp, const char* what) {
  std::string results;
  if (!Call(procedure, args, seconds, &results, what)) return false;
  if (rpc::Decode(results, resp)) return true;
  Drop(gpib::EDVR, GatewayName() + ": " + what + ": garbled reply");
  return false;
}

std::optional<Vxi11Driver::Link> Vxi11Driver::CreateLink(const std::string& device) {
  vxi11::CreateLinkParms parms;
  parms.client_id = kClientId;
  parms.device = device;
  vxi11::CreateLinkResp resp;
  if (!CallFor(vxi11::kCreateLink, rpc::Encode(parms), options_.connect_seconds, &resp,
               "create_link"))
    return std::nullopt;
  if (resp.error != vxi11::kNoError) {
    fault_error_ = resp.error == vxi11::kDeviceLocked ? gpib::EABO : gpib::ENEB;
    Diagnose(GatewayName() + ": no link to " + device + ": " + ErrorText(resp.error));
    return std::nullopt;
  }
  return Link{resp.lid, resp.max_recv_size};
}

std::optional<Vxi11Driver::Link> Vxi11Driver::InterfaceLink() {
  if (!interface_link_) interface_link_ = CreateLink(target_.interface_name);
  return interface_link_;
}

std::optional<Vxi11Driver::Link> Vxi11Driver::DeviceLink(const Descriptor& descriptor) {
  auto key = std::make_pair(descriptor.pad, descriptor.sad);
  auto found = device_links_.find(key);
  if (found != device_links_.end()) return found->second;
  std::optional<Link> link = CreateLink(DeviceName(descriptor.pad, descriptor.sad));
  if (link) device_links_[key] = *link;
  return link;
}

int Vxi11Driver::GatewayError(std::int32_t error, const std::string& device, bool writing,
                              long count) {
  if (error == vxi11::kIoTimeout) return Report(gpib::ERR | gpib::TIMO, gpib::EABO, count);
  if (error == vxi11::kIoError && writing) return Report(gpib::ERR, gpib::ENOL, count);
  Diagnose(GatewayName() + ": " + device + ": " + ErrorText(error));
  if (error == vxi11::kDeviceLocked) return Report(gpib::ERR | gpib::TIMO, gpib::EABO, count);
  if (error == vxi11::kInvalidLink) {
    // The gateway has forgotten the links (it restarted): made anew next time.
    interface_link_.reset();
    device_links_.clear();
  }
  return Report(gpib::ERR, error == vxi11::kIoError ? gpib::EABO : gpib::EDVR, count);
}

std::optional<std::string> Vxi11Driver::Docmd(std::int32_t command, const std::string& data,
                                              const char* what) {
  std::optional<Link> link = InterfaceLink();
  if (!link) return std::nullopt;
  vxi11::DocmdParms parms;
  parms.lid = link->lid;
  parms.flags = vxi11::kWaitLock;
  parms.io_timeout = parms.lock_timeout =
      static_cast<std::uint32_t>(std::lround(options_.answer_seconds * 1000));
  parms.cmd = command;
  parms.network_order = true;
  parms.datasize = command == vxi11::kSendCommand ? 1 : static_cast<std::int32_t>(data.size());
  parms.data_in = data;
  vxi11::DocmdResp resp;
  if (!CallFor(vxi11::kDeviceDocmd, rpc::Encode(parms), 2 * options_.answer_seconds, &resp, what))
    return std::nullopt;
  if (resp.error != vxi11::kNoError) {
    fault_error_ = resp.error == vxi11::kIoTimeout || resp.error == vxi11::kDeviceLocked
                       ? gpib::EABO
                       : gpib::EDVR;
    Diagnose(GatewayName() + ": " + what + " on " + target_.interface_name + ": " +
             ErrorText(resp.error));
    return std::nullopt;
  }
  return resp.data_out;
}

std::optional<std::uint16_t> Vxi11Driver::BusStatus(std::uint16_t selector) {
  std::optional<std::string> answer =
      Docmd(vxi11::kBusStatus, vxi11::Word16(selector), "bus status");
  if (!answer) return std::nullopt;
  std::optional<std::uint16_t> value = vxi11::ReadWord16(*answer);
  if (!value) Drop(gpib::EDVR, GatewayName() + ": bus status: garbled reply");
  return value;
}

Vxi11Driver::Descriptor* Vxi11Driver::Find(int ud) {
  if (ud < 1 || ud > static_cast<int>(descriptors_.size())) return nullptr;
  return descriptors_[static_cast<std::size_t>(ud - 1)].get();
}

void Vxi11Driver::SendIFC(int board) {
  if (board != 0) {
    Fail(gpib::ENEB);
    return;
  }
  if (!Begin() || !Docmd(vxi11::kIfcControl, "", "IFC")) {
    FailWithFault();
    return;
  }
  Ok(gpib::CMPL, 0);
}

int Vxi11Driver::ibsre(int board, int v) {
  if (board != 0) return Fail(gpib::ENEB);
  if (!Begin() || !Docmd(vxi11::kRenControl, vxi11::Word16(v != 0 ? 1 : 0), "REN"))
    return FailWithFault();
  return Ok(gpib::CMPL, 0);
}

std::optional<std::vector<int>> Vxi11Driver::SearchListeners(const std::vector<int>& wanted) {
  if (!own_address_) {
    std::optional<std::uint16_t> own = BusStatus(vxi11::kStatusBusAddress);
    if (!own) return std::nullopt;
    own_address_ = std::min<int>(*own, 30);
  }
  std::vector<int> found;
  for (int pad : wanted) {
    if (pad == *own_address_) continue;
    std::string command = {kUnlisten, static_cast<char>(kTalkBase + *own_address_),
                           static_cast<char>(kListenBase + pad)};
    if (!Docmd(vxi11::kSendCommand, command, "the listener search")) return std::nullopt;
    // A listener holds NDAC until it has taken a byte.
    std::optional<std::uint16_t> ndac = BusStatus(vxi11::kStatusNdac);
    if (!ndac) return std::nullopt;
    if (*ndac != 0) found.push_back(pad);
  }
  if (!Docmd(vxi11::kSendCommand, std::string(1, kUnlisten), "the listener search"))
    return std::nullopt;
  return found;
}

void Vxi11Driver::FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) {
  if (!ListenerSearchArguments(board, pads, results, limit)) return;
  const std::optional<std::vector<int>> listed = ListedPrimaries(pads);
  if (!listed) return;
  std::vector<int> wanted;
  for (int pad : *listed)
    if (pad != 0) wanted.push_back(pad);
  if (!Begin()) {
    FailWithFault();
    return;
  }
  std::vector<int> found = target_.listeners;
  if (found.empty()) {
    std::optional<std::vector<int>> searched = SearchListeners(wanted);
    if (!searched) {
      FailWithFault();
      return;
    }
    found = *searched;
  }
  ReportListeners(*listed, found, results, limit);
}

int Vxi11Driver::ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
  if (board != 0) {
    Fail(gpib::ENEB);
    return -1;
  }
  if (pad < 0 || pad > 30 || (sad != 0 && (sad < 0x60 || sad > 0x7E)) || tmo < 0 || tmo > 17) {
    Fail(gpib::EARG);
    return -1;
  }
  descriptors_.push_back(std::make_unique<Descriptor>(Descriptor{pad, sad, tmo, eot != 0, eos}));
  Ok(gpib::CMPL, 0);
  return static_cast<int>(descriptors_.size());
}

int Vxi11Driver::ibpad(int ud, int pad) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (pad < 0 || pad > 30) return Fail(gpib::EARG);
  descriptor->pad = pad;
  return Ok(gpib::CMPL, 0);
}

int Vxi11Driver::ibtmo(int ud, int v) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (v < 0 || v > 17) return Fail(gpib::EARG);
  descriptor->tmo = v;
  return Ok(gpib::CMPL, 0);
}

int Vxi11Driver::ibask(int ud, int option, int* value) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (option != gpib::IbaTMO || value == nullptr) return Fail(gpib::EARG);
  *value = descriptor->tmo;
  return Ok(gpib::CMPL, 0);
}

int Vxi11Driver::ibclr(int ud) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (!Begin()) return FailWithFault();
  std::optional<Link> link = DeviceLink(*descriptor);
  if (!link) return FailWithFault();
  std::uint32_t ms = TimeoutMs(descriptor->tmo);
  vxi11::GenericParms parms{link->lid, vxi11::kWaitLock, ms, ms};
  vxi11::LinkOrError resp;
  if (!CallFor(vxi11::kDeviceClear, rpc::Encode(parms), ms / 1000.0 + options_.answer_seconds,
               &resp, "device_clear"))
    return FailWithFault();
  if (resp.value != vxi11::kNoError)
    return GatewayError(resp.value, DeviceName(descriptor->pad, descriptor->sad), true, 0);
  return Ok(gpib::CMPL, 0);
}

int Vxi11Driver::ibrsp(int ud, char* spr) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (spr == nullptr) return Fail(gpib::EARG);
  if (!Begin()) return FailWithFault();
  std::optional<Link> link = DeviceLink(*descriptor);
  if (!link) return FailWithFault();
  std::uint32_t ms = TimeoutMs(descriptor->tmo);
  vxi11::GenericParms parms{link->lid, vxi11::kWaitLock, ms, ms};
  vxi11::ReadStbResp resp;
  if (!CallFor(vxi11::kDeviceReadStb, rpc::Encode(parms), ms / 1000.0 + options_.answer_seconds,
               &resp, "device_readstb"))
    return FailWithFault();
  if (resp.error != vxi11::kNoError)
    return GatewayError(resp.error, DeviceName(descriptor->pad, descriptor->sad), false, 0);
  *spr = static_cast<char>(resp.stb & 0xFF);
  return Ok(gpib::CMPL, 1);
}

int Vxi11Driver::ibwrt(int ud, const void* buf, long count) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (count < 0 || (buf == nullptr && count > 0)) return Fail(gpib::EARG);
  if (!Begin()) return FailWithFault();
  std::optional<Link> link = DeviceLink(*descriptor);
  if (!link) return FailWithFault();
  const char* data = static_cast<const char*>(buf);
  // A write longer than the gateway takes at once goes in pieces; only the
  // last carries END.
  long piece = link->max_recv_size == 0 || link->max_recv_size > vxi11::kMaxData
                   ? static_cast<long>(vxi11::kMaxData)
                   : static_cast<long>(link->max_recv_size);
  std::uint32_t ms = TimeoutMs(descriptor->tmo);
  long sent = 0;
  while (sent < count) {
    long size = std::min(piece, count - sent);
    bool last = sent + size == count;
    vxi11::WriteParms parms;
    parms.lid = link->lid;
    parms.io_timeout = parms.lock_timeout = ms;
    parms.flags = vxi11::kWaitLock | (last && descriptor->eoi ? vxi11::kEndFlag : 0);
    parms.data.assign(data + sent, static_cast<std::size_t>(size));
    vxi11::WriteResp resp;
    if (!CallFor(vxi11::kDeviceWrite, rpc::Encode(std::move(parms)),
                 ms / 1000.0 + options_.answer_seconds, &resp, "device_write"))
      return FailWithFault();
    long taken = std::min(static_cast<long>(resp.size), size);
    if (resp.error != vxi11::kNoError)
      return GatewayError(resp.error, DeviceName(descriptor->pad, descriptor->sad), true,
                          sent + taken);
    // A gateway that takes nothing would keep us here for ever.
    if (taken == 0) return Report(gpib::ERR | gpib::TIMO, gpib::EABO, sent);
    sent += taken;
  }
  return Ok(gpib::CMPL, count);
}

int Vxi11Driver::ibrd(int ud, void* buf, long count) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (buf == nullptr || count <= 0) return Fail(gpib::EARG);
  if (!Begin()) return FailWithFault();
  std::optional<Link> link = DeviceLink(*descriptor);
  if (!link) return FailWithFault();
  std::uint32_t ms = TimeoutMs(descriptor->tmo);
  vxi11::ReadParms parms;
  parms.lid = link->lid;
  parms.request_size =
      static_cast<std::uint32_t>(std::min(count, static_cast<long>(vxi11::kMaxData)));
  parms.io_timeout = parms.lock_timeout = ms;
  parms.flags = vxi11::kWaitLock;
  if ((descriptor->eos & kReadEos) != 0) {
    parms.flags |= vxi11::kTermCharSet;
    parms.term_char = static_cast<std::uint32_t>(descriptor->eos & 0xFF);
  }
  vxi11::ReadResp resp;
  if (!CallFor(vxi11::kDeviceRead, rpc::Encode(parms), ms / 1000.0 + options_.answer_seconds, &resp,
               "device_read"))
    return FailWithFault();
  if (resp.data.size() > parms.request_size) {
    Drop(gpib::EDVR, GatewayName() + ": device_read: more data than asked for");
    return FailWithFault();
  }
  std::memcpy(buf, resp.data.data(), resp.data.size());
  long received = static_cast<long>(resp.data.size());
  if (resp.error != vxi11::kNoError)
    return GatewayError(resp.error, DeviceName(descriptor->pad, descriptor->sad), false, received);
  bool ended = (resp.reason & (vxi11::kReasonEnd | vxi11::kReasonTermChar)) != 0;
  return Ok(ended ? gpib::CMPL | gpib::END : gpib::CMPL, received);
}

int Vxi11Driver::WaitForServiceRequest(const Descriptor& descriptor, bool timed) {
  if (!Begin()) return FailWithFault();
  double wait = gpib::TimeoutSeconds(descriptor.tmo);
  SteadyClock::time_point end =
      timed ? After(wait > 0 ? wait : kLongestWait) : SteadyClock::time_point::max();
  auto interval = std::chrono::duration_cast<SteadyClock::duration>(
      std::chrono::duration<double>(options_.srq_poll_seconds));
  SteadyClock::time_point next = SteadyClock::now();
  while (true) {
    std::optional<std::uint16_t> srq = BusStatus(vxi11::kStatusSrq);
    if (!srq) return FailWithFault();
    if (*srq != 0) return Ok(gpib::RQS | gpib::CMPL, 0);
    SteadyClock::time_point now = SteadyClock::now();
    if (now >= end) return Ok(gpib::TIMO | gpib::CMPL, 0);
    next = std::max(next + interval, now);
    // A close request ends the wait without a service request.
    if (platform_.WaitIdle(std::chrono::duration<double>(next - now).count()))
      return Ok(gpib::CMPL, 0);
    std::this_thread::sleep_until(next);
  }
}

int Vxi11Driver::ibwait(int ud, int mask) {
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if ((mask & (gpib::RQS | gpib::SRQI)) != 0)
    return WaitForServiceRequest(*descriptor, (mask & gpib::TIMO) != 0);
  if (mask == gpib::TIMO) {
    // Only the time-out (or a close request) can end this wait.
    double wait = gpib::TimeoutSeconds(descriptor->tmo);
    SteadyClock::time_point end = After(wait > 0 ? wait : kLongestWait);
    for (SteadyClock::time_point now = SteadyClock::now(); now < end; now = SteadyClock::now()) {
      SteadyClock::time_point next = std::min(end, now + std::chrono::milliseconds(50));
      if (platform_.WaitIdle(std::chrono::duration<double>(next - now).count()))
        return Ok(gpib::CMPL, 0);
      std::this_thread::sleep_until(next);
    }
    return Ok(gpib::TIMO | gpib::CMPL, 0);
  }
  // Every call has completed when it returns: nothing runs in the background.
  return Ok(gpib::CMPL, 0);
}

std::unique_ptr<GpibDriver> MakeVxi11Driver(const Vxi11Target& target, Platform& platform,
                                            std::function<void(const std::string&)> diagnostic) {
  Vxi11Options options;
  options.diagnostic = std::move(diagnostic);
  return std::make_unique<Vxi11Driver>(target, platform, std::move(options));
}

void RegisterVxi11Bus(BusRegistry& registry) {
  registry.Add(
      {"vxi11",
       {"vxi11:"},
       {"TCPIP"},
       {"vxi11://HOST[/gpib0]", "vxi11://HOST:PORT[/gpib0]", "TCPIP[b]::HOST::gpib0,N::INSTR"},
       {"vxi11://HOST[:PORT][/gpib0[,N]]  a LAN/GPIB gateway (VXI-11): the core channel's",
        "                       port from the portmapper (port 111) unless given; with ,N",
        "                       the instrument's address instead of a listener search;",
        "                       e.g. vxi11://192.168.1.60, vxi11://127.0.0.1:1024/gpib0,1",
        "TCPIP::HOST::gpib0,N::INSTR      the instrument at address N behind a gateway;",
        "                       e.g. TCPIP::192.168.1.60::gpib0,1::INSTR"},
       [](const std::string& text, std::string* error) -> std::optional<BusName> {
         std::optional<Vxi11Target> target = ParseVxi11Name(text, error);
         if (!target) {
           // The registry names the bus itself.
           const std::string named = "bad bus \"" + text + "\": ";
           if (error->rfind(named, 0) == 0) error->erase(0, named.size());
           return std::nullopt;
         }
         BusName bus;
         bus.listeners = target->listeners;
         bus.target = *target;
         return bus;
       },
       [](const BusName& bus, const BusEnv& env) -> std::unique_ptr<GpibDriver> {
         return MakeVxi11Driver(*bus.As<Vxi11Target>(), env.platform, env.diagnostic);
       }});
}

}  // namespace kc
