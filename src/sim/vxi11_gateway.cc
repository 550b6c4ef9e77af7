#include "sim/vxi11_gateway.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <cctype>
#include <cmath>
#include <deque>
#include <list>

#include "link/tracing_driver.h"
#include "platform/text.h"

namespace kc {
namespace {

constexpr int kMaxAddress = 30;
constexpr int kInterface = -1;
// The longest message a client may write in pieces.
constexpr std::size_t kMaxMessage = 1 << 16;
// Bound on the technician's due actions done in one go.
constexpr int kMaxDueActions = 1000;

// "gpibK" is the interface (kInterface), "gpibK,N[,S]" the device at N.
std::optional<int> DeviceAddress(const std::string& name) {
  std::string lower = Lower(name);
  if (lower.rfind("gpib", 0) != 0) return std::nullopt;
  std::size_t at = 4;
  auto number = [&](int most) -> std::optional<int> {
    std::size_t start = at;
    int value = 0;
    while (at < lower.size() && std::isdigit(static_cast<unsigned char>(lower[at])) &&
           at - start < 3)
      value = value * 10 + (lower[at++] - '0');
    if (at == start || value > most) return std::nullopt;
    return value;
  };
  if (number(0) != 0) return std::nullopt;  // gpib0 is the only interface
  if (at == lower.size()) return kInterface;
  if (lower[at++] != ',') return std::nullopt;
  std::optional<int> pad = number(kMaxAddress);
  if (!pad) return std::nullopt;
  if (at < lower.size() && (lower[at++] != ',' || !number(30))) return std::nullopt;
  if (at != lower.size()) return std::nullopt;
  return pad;
}

}  // namespace

Vxi11Gateway::Vxi11Gateway(SimBus& bus, Platform& platform, SimTechnician* technician,
                           std::ostream* log)
    : bus_(bus), platform_(platform), technician_(technician), log_(log) {}

Vxi11Gateway::~Vxi11Gateway() = default;

void Vxi11Gateway::Log(const std::string& line) {
  if (log_ == nullptr) return;
  *log_ << line << '\n';
  log_->flush();
}

void Vxi11Gateway::Note(const std::string& text) {
  Log("# " + text);
}

void Vxi11Gateway::Tick() {
  double now = platform_.clock().Elapsed();
  for (int pad = 1; pad <= kMaxAddress; ++pad)
    if (SimDevice* device = bus_.device(pad)) device->Tick(now);
  if (technician_ == nullptr) return;
  for (int actions = 0; actions < kMaxDueActions && technician_->ActIfDue(now); ++actions) {
  }
}

std::optional<double> Vxi11Gateway::SecondsToNextEvent() {
  std::optional<double> next;
  auto consider = [&next](std::optional<double> at) {
    if (at && (!next || *at < *next)) next = at;
  };
  for (int pad = 1; pad <= kMaxAddress; ++pad)
    if (SimDevice* device = bus_.device(pad)) consider(device->NextEventTime());
  if (technician_ != nullptr) consider(technician_->NextTimedAction());
  if (!next) return std::nullopt;
  return std::max(0.0, *next - platform_.clock().Elapsed());
}

int Vxi11Gateway::Connect(const std::string& who) {
  int id = next_connection_++;
  connections_[id].who = who;
  Note("client connected from " + who);
  return id;
}

void Vxi11Gateway::Disconnect(int connection, const std::string& why) {
  auto found = connections_.find(connection);
  if (found == connections_.end()) return;
  std::vector<std::int32_t> lids;
  for (const auto& [lid, link] : links_)
    if (link.connection == connection) lids.push_back(lid);
  for (std::int32_t lid : lids) DestroyLink(lid);
  Note("client " + found->second.who + " disconnected: " + why);
  connections_.erase(found);
}

bool Vxi11Gateway::Receive(int connection, std::string_view bytes, std::string* out) {
  auto found = connections_.find(connection);
  if (found == connections_.end()) return false;
  // The bus reports into the gateway's cells while it serves the calls, and
  // into nobody's after: another server on the same bus registers its own
  // cells for its calls in the same way.
  struct Cells {
    explicit Cells(Vxi11Gateway& gateway) : bus(gateway.bus_) {
      bus.RegisterGpibGlobalsForThread(&gateway.status_, &gateway.error_, &gateway.count_,
                                       &gateway.count_long_);
    }
    ~Cells() { bus.UnregisterGpibGlobalsForThread(); }
    SimBus& bus;
  } cells(*this);
  rpc::RecordReader& records = found->second.records;
  records.Feed(bytes);
  while (true) {
    std::string record;
    rpc::RecordReader::State state = records.Next(&record);
    if (state == rpc::RecordReader::State::kIncomplete) return true;
    if (state == rpc::RecordReader::State::kTooLarge) {
      Note("a record beyond " + std::to_string(kMaxRecord) + " bytes");
      return false;
    }
    rpc::CallHeader call;
    std::string_view args;
    if (!rpc::DecodeCall(record, &call, &args)) {
      Note("a message that is no RPC call");
      return false;
    }
    Tick();
    std::string reply;
    if (call.program != vxi11::kCoreProgram) {
      reply = rpc::EncodeReply(call.xid, rpc::AcceptStat::kProgramUnavailable, {});
    } else if (call.version != vxi11::kCoreVersion) {
      reply = rpc::EncodeReply(call.xid, rpc::AcceptStat::kProgramMismatch, {}, vxi11::kCoreVersion,
                               vxi11::kCoreVersion);
    } else {
      rpc::AcceptStat stat = rpc::AcceptStat::kSuccess;
      std::string results = Dispatch(connection, call.procedure, args, &stat);
      reply = rpc::EncodeReply(call.xid, stat, results);
    }
    out->append(rpc::MarkRecord(reply));
  }
}

std::string Vxi11Gateway::Dispatch(int connection, std::uint32_t procedure, std::string_view args,
                                   rpc::AcceptStat* stat) {
  auto decode = [&](auto* parms) {
    if (rpc::Decode(args, parms)) return true;
    *stat = rpc::AcceptStat::kGarbageArgs;
    return false;
  };
  auto error_only = [](std::int32_t error) { return rpc::Encode(vxi11::LinkOrError{error}); };
  std::int32_t error = vxi11::kNoError;
  switch (procedure) {
    case vxi11::kCreateLink: {
      vxi11::CreateLinkParms parms;
      return decode(&parms) ? CreateLink(connection, parms) : std::string();
    }
    case vxi11::kDeviceWrite: {
      vxi11::WriteParms parms;
      if (!decode(&parms)) return {};
      Link* link = Use(connection, parms.lid, true, &error);
      return rpc::Encode(link != nullptr ? Write(*link, parms) : vxi11::WriteResp{error, 0});
    }
    case vxi11::kDeviceRead: {
      vxi11::ReadParms parms;
      if (!decode(&parms)) return {};
      Link* link = Use(connection, parms.lid, true, &error);
      return rpc::Encode(link != nullptr ? Read(*link, parms) : vxi11::ReadResp{error, 0, {}});
    }
    case vxi11::kDeviceReadStb:
    case vxi11::kDeviceClear:
    case vxi11::kDeviceTrigger:
    case vxi11::kDeviceRemote:
    case vxi11::kDeviceLocal: {
      vxi11::GenericParms parms;
      if (!decode(&parms)) return {};
      Link* link = Use(connection, parms.lid, true, &error);
      if (link == nullptr) {
        return procedure == vxi11::kDeviceReadStb ? rpc::Encode(vxi11::ReadStbResp{error, 0})
                                                  : error_only(error);
      }
      int ud = Descriptor(link->pad, parms.io_timeout);
      std::string where = std::to_string(link->pad);
      if (procedure == vxi11::kDeviceReadStb) {
        char byte = 0;
        int status = bus_.ibrsp(ud, &byte);
        if ((status & gpib::ERR) != 0) {
          Log("spoll " + where + " timed out");
          return rpc::Encode(vxi11::ReadStbResp{ErrorOf(status), 0});
        }
        auto stb = static_cast<unsigned char>(byte);
        Log("spoll " + where + " " + std::to_string(stb));
        return rpc::Encode(vxi11::ReadStbResp{vxi11::kNoError, stb});
      }
      if (procedure == vxi11::kDeviceClear) {
        int status = bus_.ibclr(ud);
        Log("clear " + where + ((status & gpib::ERR) != 0 ? " no listener" : ""));
        if ((status & gpib::ERR) != 0) return error_only(ErrorOf(status));
      }
      return error_only(vxi11::kNoError);
    }
    case vxi11::kDeviceLock: {
      vxi11::LockParms parms;
      if (!decode(&parms)) return {};
      Link* link = Use(connection, parms.lid, false, &error);
      return error_only(link != nullptr ? Lock(parms.lid, true) : error);
    }
    case vxi11::kDeviceUnlock:
    case vxi11::kDestroyLink: {
      vxi11::LinkOrError lid;
      if (!decode(&lid)) return {};
      auto found = links_.find(lid.value);
      if (found == links_.end() || found->second.connection != connection)
        return error_only(vxi11::kInvalidLink);
      if (procedure == vxi11::kDeviceUnlock) return error_only(Lock(lid.value, false));
      DestroyLink(lid.value);
      Note("link " + std::to_string(lid.value) + " destroyed");
      return error_only(vxi11::kNoError);
    }
    case vxi11::kDeviceEnableSrq:
      return error_only(vxi11::kNoError);
    case vxi11::kCreateIntrChan:
    case vxi11::kDestroyIntrChan:
      return error_only(vxi11::kNotSupported);
    case vxi11::kDeviceDocmd: {
      vxi11::DocmdParms parms;
      if (!decode(&parms)) return {};
      Link* link = Use(connection, parms.lid, false, &error);
      if (link == nullptr) return rpc::Encode(vxi11::DocmdResp{error, {}});
      if (link->pad != kInterface) return rpc::Encode(vxi11::DocmdResp{vxi11::kNotSupported, {}});
      return rpc::Encode(Docmd(parms));
    }
    default:
      *stat = rpc::AcceptStat::kProcedureUnavailable;
      return {};
  }
}

std::string Vxi11Gateway::CreateLink(int connection, const vxi11::CreateLinkParms& parms) {
  vxi11::CreateLinkResp resp;
  std::optional<int> pad = DeviceAddress(parms.device);
  if (!pad) {
    Note("no device \"" + parms.device + "\"");
    resp.error = vxi11::kNotAccessible;
    return rpc::Encode(resp);
  }
  std::int32_t lid = next_lid_++;
  links_[lid] = Link{connection, *pad, parms.device, {}};
  if (parms.lock_device && (resp.error = Lock(lid, true)) != vxi11::kNoError) {
    links_.erase(lid);
    return rpc::Encode(resp);
  }
  Note("link " + std::to_string(lid) + " to " + parms.device + " for " +
       connections_[connection].who);
  resp.lid = lid;
  resp.max_recv_size = kMaxRecvSize;
  return rpc::Encode(resp);
}

Vxi11Gateway::Link* Vxi11Gateway::Use(int connection, std::int32_t lid, bool device,
                                      std::int32_t* error) {
  auto found = links_.find(lid);
  if (found == links_.end() || found->second.connection != connection) {
    *error = vxi11::kInvalidLink;
    return nullptr;
  }
  Link& link = found->second;
  if (device && link.pad == kInterface) {
    *error = vxi11::kNotSupported;
    return nullptr;
  }
  auto lock = locks_.find(link.pad);
  if (lock != locks_.end() && lock->second != lid) {
    *error = vxi11::kDeviceLocked;
    return nullptr;
  }
  return &link;
}

std::int32_t Vxi11Gateway::Lock(std::int32_t lid, bool take) {
  int pad = links_[lid].pad;
  auto lock = locks_.find(pad);
  if (!take) {
    if (lock == locks_.end() || lock->second != lid) return vxi11::kNoLockHeld;
    locks_.erase(lock);
    return vxi11::kNoError;
  }
  // Nothing else runs while a call is served: a lock held now is held for
  // as long as the caller could wait.
  if (lock != locks_.end()) return vxi11::kDeviceLocked;
  locks_[pad] = lid;
  return vxi11::kNoError;
}

void Vxi11Gateway::DestroyLink(std::int32_t lid) {
  for (auto lock = locks_.begin(); lock != locks_.end();)
    lock = lock->second == lid ? locks_.erase(lock) : std::next(lock);
  links_.erase(lid);
}

int Vxi11Gateway::Descriptor(int pad, std::uint32_t ms) {
  int code = gpib::TimeoutCodeNear(ms);
  auto found = descriptors_.find(pad);
  if (found == descriptors_.end()) {
    int ud = bus_.ibdev(0, pad, 0, code, 1, 0);
    descriptors_[pad] = {ud, code};
    return ud;
  }
  auto& [ud, current] = found->second;
  if (current != code) {
    bus_.ibtmo(ud, code);
    current = code;
  }
  return ud;
}

std::int32_t Vxi11Gateway::ErrorOf(int status) const {
  if ((status & gpib::TIMO) != 0) return vxi11::kIoTimeout;
  if (error_ == gpib::EARG) return vxi11::kParameterError;
  return vxi11::kIoError;
}

vxi11::WriteResp Vxi11Gateway::Write(Link& link, const vxi11::WriteParms& parms) {
  if (link.message.size() + parms.data.size() > kMaxMessage) {
    link.message.clear();
    return {vxi11::kParameterError, 0};
  }
  link.message += parms.data;
  auto size = static_cast<std::uint32_t>(parms.data.size());
  if ((parms.flags & vxi11::kEndFlag) == 0) return {vxi11::kNoError, size};
  std::string message = std::move(link.message);
  link.message.clear();
  int status = bus_.ibwrt(Descriptor(link.pad, parms.io_timeout), message.data(),
                          static_cast<long>(message.size()));
  std::string where = "write " + std::to_string(link.pad) + " ";
  if ((status & gpib::ERR) != 0) {
    Log(where + (error_ == gpib::ENOL ? "no listener " : "failed ") +
        TracingDriver::Quoted(message));
    return {ErrorOf(status), 0};
  }
  Log(where + TracingDriver::Quoted(message));
  return {vxi11::kNoError, size};
}

vxi11::ReadResp Vxi11Gateway::Read(Link& link, const vxi11::ReadParms& parms) {
  vxi11::ReadResp resp;
  long wanted = static_cast<long>(
      std::min<std::uint32_t>(parms.request_size, static_cast<std::uint32_t>(vxi11::kMaxData)));
  if (wanted <= 0) return {vxi11::kParameterError, 0, {}};
  std::string buffer(static_cast<std::size_t>(wanted), '\0');
  int status = bus_.ibrd(Descriptor(link.pad, parms.io_timeout), buffer.data(), wanted);
  std::string where = "read " + std::to_string(link.pad) + " ";
  if ((status & gpib::ERR) != 0) {
    Log(where + "timed out");
    resp.error = ErrorOf(status);
    return resp;
  }
  buffer.resize(static_cast<std::size_t>(std::clamp<long>(count_long_, 0, wanted)));
  Log(where + TracingDriver::Quoted(buffer));
  resp.reason = (status & gpib::END) != 0 ? vxi11::kReasonEnd : vxi11::kReasonRequestCount;
  resp.data = std::move(buffer);
  return resp;
}

vxi11::DocmdResp Vxi11Gateway::Docmd(const vxi11::DocmdParms& parms) {
  std::optional<std::uint16_t> word = vxi11::ReadWord16(parms.data_in);
  switch (parms.cmd) {
    case vxi11::kSendCommand:
      for (char byte : parms.data_in) {
        int code = static_cast<unsigned char>(byte) & 0x7F;
        if (code == 0x3F) {
          listeners_.clear();  // unlisten
        } else if (code >= 0x20 && code < 0x3F) {
          listeners_.push_back(code - 0x20);
        }
      }
      return {};
    case vxi11::kBusStatus: {
      if (!word) return {vxi11::kParameterError, {}};
      std::uint16_t value = 0;
      if (*word == vxi11::kStatusRen) value = ren_ ? 1 : 0;
      if (*word == vxi11::kStatusSrq) value = ServiceRequested() ? 1 : 0;
      if (*word == vxi11::kStatusNdac) value = Listening() ? 1 : 0;
      if (*word == 4 || *word == 5) value = 1;  // system controller, in charge
      return {vxi11::kNoError, vxi11::Word16(value)};
    }
    case vxi11::kRenControl:
      ren_ = std::any_of(parms.data_in.begin(), parms.data_in.end(), [](char c) { return c != 0; });
      bus_.ibsre(0, ren_ ? 1 : 0);
      Log(std::string("ren ") + (ren_ ? "1" : "0"));
      return {};
    case vxi11::kIfcControl:
      bus_.SendIFC(0);
      listeners_.clear();
      Log("ifc");
      return {};
    case vxi11::kAtnControl:
      return {};
    default:
      return {vxi11::kNotSupported, {}};
  }
}

bool Vxi11Gateway::Listening() {
  // The bus's own search tells whether an addressed device takes part.
  for (int pad : listeners_) {
    if (pad < 1 || pad > kMaxAddress) continue;
    Addr4882_t pads[] = {static_cast<Addr4882_t>(pad), gpib::NOADDR};
    Addr4882_t found[2] = {};
    bus_.FindLstn(0, pads, found, 2);
    bool answered = (status_ & gpib::ERR) == 0;
    Log("listen " + std::to_string(pad) + (answered ? "" : " nobody"));
    if (answered) return true;
  }
  return false;
}

bool Vxi11Gateway::ServiceRequested() {
  auto line = [this] {
    for (int pad = 1; pad <= kMaxAddress; ++pad) {
      SimDevice* device = bus_.device(pad);
      if (device != nullptr && device->RequestingService()) return true;
    }
    return false;
  };
  Tick();
  if (line()) return true;
  // What is under way on its own comes first; on a virtual clock its time
  // passes now.
  if (std::optional<double> next = SecondsToNextEvent()) {
    if (!platform_.clock().is_virtual()) return false;
    platform_.clock().Pass(*next);
    Tick();
    return line();
  }
  if (technician_ == nullptr) return false;
  if (!technician_->ActOnWait(platform_.clock().Elapsed())) {
    if (!script_done_noted_) Note("the technician's script has run out");
    script_done_noted_ = true;
    return false;
  }
  return line();
}

// ---------------------------------------------------------------------------
// Vxi11Server

using asio::ip::tcp;

struct Vxi11Server::Impl {
  struct Session {
    tcp::socket socket;
    int id = 0;
    std::array<char, 4096> chunk{};
    std::string outbox;   // replies not yet handed to the socket
    std::string sending;  // the write under way
    explicit Session(asio::io_context& io) : socket(io) {}
  };

  Impl(Vxi11Gateway& gateway_ref) : gateway(gateway_ref), acceptor(io) {}

  void Accept() {
    auto session = std::make_shared<Session>(io);
    acceptor.async_accept(session->socket, [this, session](const std::error_code& error) {
      if (error) {
        if (error != asio::error::operation_aborted) Accept();
        return;
      }
      std::error_code ignored;
      session->socket.set_option(tcp::no_delay(true), ignored);
      auto peer = session->socket.remote_endpoint(ignored);
      session->id = gateway.Connect(peer.address().to_string() + ":" + std::to_string(peer.port()));
      sessions.push_back(session);
      Read(session);
      Accept();
    });
  }

  void Read(const std::shared_ptr<Session>& session) {
    session->socket.async_read_some(
        asio::buffer(session->chunk), [this, session](const std::error_code& error, std::size_t n) {
          if (error) {
            End(session,
                error == asio::error::eof ? "the client closed the connection" : error.message());
            return;
          }
          std::string out;
          bool go_on =
              gateway.Receive(session->id, std::string_view(session->chunk.data(), n), &out);
          session->outbox += out;
          Flush(session);
          if (!go_on) {
            End(session, "the stream cannot be read on");
            return;
          }
          Read(session);
        });
  }

  void Flush(const std::shared_ptr<Session>& session) {
    if (!session->sending.empty() || session->outbox.empty() || !session->socket.is_open()) return;
    session->sending = std::move(session->outbox);
    session->outbox.clear();
    asio::async_write(session->socket, asio::buffer(session->sending),
                      [this, session](const std::error_code& error, std::size_t) {
                        session->sending.clear();
                        if (error) return;
                        Flush(session);
                      });
  }

  void End(const std::shared_ptr<Session>& session, const std::string& why) {
    if (!session->socket.is_open()) return;
    std::error_code ignored;
    session->socket.close(ignored);
    gateway.Disconnect(session->id, why);
    sessions.remove(session);
  }

  Vxi11Gateway& gateway;
  asio::io_context io;
  tcp::acceptor acceptor;
  std::list<std::shared_ptr<Session>> sessions;
  std::string where;
  int port = 0;
};

Vxi11Server::Vxi11Server(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Vxi11Server::~Vxi11Server() {
  // Taking the connections down may fail; the server goes all the same.
  try {
    DropClients();
    std::error_code ignored;
    impl_->acceptor.close(ignored);
    impl_->io.restart();
    impl_->io.poll();
  } catch (...) {  // NOLINT(bugprone-empty-catch)
  }
}

std::unique_ptr<Vxi11Server> Vxi11Server::Listen(Vxi11Gateway& gateway, const std::string& address,
                                                 int port, std::string* error) {
  std::string host = address == "localhost" ? "127.0.0.1" : address;
  auto impl = std::make_unique<Impl>(gateway);
  std::error_code failure;
  asio::ip::address ip = asio::ip::make_address(host, failure);
  if (failure) {
    *error = "\"" + address + "\" is not an IP address";
    return nullptr;
  }
  tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
  bool ipv6 = ip.is_v6();
  std::string shown = ipv6 ? "[" + host + "]" : host;
  impl->acceptor.open(endpoint.protocol(), failure);
  if (!failure) impl->acceptor.set_option(tcp::acceptor::reuse_address(true), failure);
  if (!failure) impl->acceptor.bind(endpoint, failure);
  if (!failure) impl->acceptor.listen(asio::socket_base::max_listen_connections, failure);
  if (failure) {
    *error = "cannot listen on " + shown + ":" + std::to_string(port) + ": " + failure.message();
    return nullptr;
  }
  impl->port = impl->acceptor.local_endpoint(failure).port();
  impl->where = shown + ":" + std::to_string(impl->port);
  impl->Accept();
  return std::unique_ptr<Vxi11Server>(new Vxi11Server(std::move(impl)));
}

std::string Vxi11Server::Describe() const {
  return impl_->where;
}

std::string Vxi11Server::BusName() const {
  return "vxi11://" + impl_->where;
}

int Vxi11Server::port() const {
  return impl_->port;
}

void Vxi11Server::Poll(double seconds) {
  impl_->io.restart();
  if (seconds <= 0) {
    impl_->io.poll();
    return;
  }
  impl_->io.run_for(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds)));
}

std::vector<int> Vxi11Server::Handles() const {
  std::vector<int> handles;
  if (impl_->acceptor.is_open()) handles.push_back(impl_->acceptor.native_handle());
  for (const auto& session : impl_->sessions)
    if (session->socket.is_open()) handles.push_back(session->socket.native_handle());
  return handles;
}

void Vxi11Server::Serve(Platform& platform, const std::function<bool()>& stop) {
  constexpr double kIdleStep = 0.05;
  while (!(stop && stop()) && !platform.close_pending()) {
    impl_->gateway.Tick();
    double wait = kIdleStep;
    if (std::optional<double> next = impl_->gateway.SecondsToNextEvent())
      wait = std::clamp(*next, 0.001, kIdleStep);
    // As a server loop built on poll() does it.
    std::vector<pollfd> fds;
    for (int handle : Handles()) fds.push_back({handle, POLLIN, 0});
    ::poll(fds.data(), fds.size(), static_cast<int>(std::ceil(wait * 1000)));
    Poll(0);
  }
}

void Vxi11Server::DropClients() {
  auto sessions = impl_->sessions;
  for (const auto& session : sessions) impl_->End(session, "the gateway drops its clients");
}

}  // namespace kc
