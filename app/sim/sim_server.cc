#include "app/sim/sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/checkout/runner.h"
#include "link/tracing_driver.h"
#include "platform/clock.h"
#include "platform/headless_platform.h"
#include "platform/terminal_platform.h"

namespace kc {

namespace {

constexpr char kEsc = 27;
constexpr int kMaxAddress = 30;
constexpr int kLowestSecondary = 96;
constexpr int kHighestSecondary = 126;
constexpr int kLongestReadMs = 32000;
// A host line longer than this is not a command or a message: it is dropped.
constexpr std::size_t kMaxLine = 1 << 16;
// The most a read takes from a device, and in how many driver calls.
constexpr long kReadChunk = 4096;
constexpr int kMaxReadChunks = 256;
// Bound on the technician's due actions done in one go.
constexpr int kMaxDueActions = 1000;
// The longest the server sleeps before it lets the bench catch up.
constexpr double kIdleStep = 0.05;
// How long an answer may wait for a host that does not read (a pty without a
// reader loses its bytes instead, as a serial line does).
constexpr double kSendSeconds = 2.0;
constexpr double kPtySendSeconds = 0.1;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A whole number lo..hi written as plain digits.
std::optional<int> Number(const std::string& text, int lo, int hi) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

// The bus's time-out code nearest (on a log scale) to `ms`.
int TimeoutCode(int ms) {
  double wanted = std::log(std::max(ms, 1) / 1000.0);
  int best = gpib::T1s;
  double best_distance = 1e9;
  for (int code = 1; code <= 17; ++code) {
    double distance = std::fabs(std::log(gpib::TimeoutSeconds(code)) - wanted);
    if (distance < best_distance) {
      best = code;
      best_distance = distance;
    }
  }
  return best;
}

std::string Quoted(const std::string& data) {
  return "\"" + TracingDriver::EscapeData(data.data(), static_cast<long>(data.size())) + "\"";
}

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

// ---------------------------------------------------------------------------
// AdapterEmulator

AdapterEmulator::AdapterEmulator(SimBus& bus, Platform& platform, SimTechnician* technician,
                                 std::ostream* log)
    : bus_(bus), platform_(platform), technician_(technician), log_(log) {
  bus_.RegisterGpibGlobalsForThread(&status_, &error_, &count_, &count_long_);
}

AdapterEmulator::~AdapterEmulator() {
  bus_.UnregisterGpibGlobalsForThread();
}

double AdapterEmulator::Now() {
  return platform_.clock().Elapsed();
}

void AdapterEmulator::Log(const std::string& line) {
  if (log_ == nullptr) return;
  *log_ << line << '\n';
  log_->flush();  // a server that is killed leaves a whole log
}

void AdapterEmulator::Note(const std::string& text) {
  Log("# " + text);
}

void AdapterEmulator::Answer(const std::string& line) {
  if (sink_) sink_(line + "\r\n");
}

void AdapterEmulator::NewHost() {
  line_.clear();
  escaped_ = false;
  head_escaped_ = false;
}

void AdapterEmulator::Tick() {
  double now = Now();
  for (int pad = 1; pad <= kMaxAddress; ++pad) {
    if (SimDevice* device = bus_.device(pad)) device->Tick(now);
  }
  if (technician_ == nullptr) return;
  for (int actions = 0; actions < kMaxDueActions && technician_->ActIfDue(now); ++actions) {
  }
}

std::optional<double> AdapterEmulator::SecondsToNextEvent() {
  std::optional<double> next;
  auto consider = [&next](std::optional<double> at) {
    if (at && (!next || *at < *next)) next = at;
  };
  for (int pad = 1; pad <= kMaxAddress; ++pad) {
    if (SimDevice* device = bus_.device(pad)) consider(device->NextEventTime());
  }
  if (technician_ != nullptr) consider(technician_->NextTimedAction());
  if (!next) return std::nullopt;
  return std::max(0.0, *next - Now());
}

void AdapterEmulator::Receive(std::string_view bytes) {
  for (char c : bytes) {
    if (escaped_) {
      if (line_.size() < 2) head_escaped_ = true;
      line_ += c;
      escaped_ = false;
    } else if (c == kEsc) {
      escaped_ = true;
    } else if (c == '\r' || c == '\n') {
      if (line_.empty()) continue;
      std::string line = std::move(line_);
      bool command = !head_escaped_ && line.rfind("++", 0) == 0;
      NewHost();
      Line(line, command);
    } else {
      line_ += c;
    }
    if (line_.size() > kMaxLine) {
      Note("dropped a line of more than " + std::to_string(kMaxLine) + " bytes");
      NewHost();
    }
  }
}

void AdapterEmulator::Line(const std::string& line, bool command) {
  Tick();
  if (command) {
    Command(line);
  } else {
    Data(line);
  }
}

int AdapterEmulator::Descriptor(int pad) {
  int code = TimeoutCode(settings_.read_tmo_ms);
  auto found = descriptors_.find(pad);
  if (found == descriptors_.end()) {
    int ud = bus_.ibdev(0, pad, 0, code, 1, 0);
    descriptors_[pad] = ud;
    descriptor_tmo_[ud] = code;
    return ud;
  }
  int ud = found->second;
  if (descriptor_tmo_[ud] != code) {
    bus_.ibtmo(ud, code);
    descriptor_tmo_[ud] = code;
  }
  return ud;
}

void AdapterEmulator::Data(const std::string& data) {
  static constexpr const char* kTerminators[] = {"\r\n", "\r", "\n", ""};
  std::string message = data + kTerminators[settings_.eos];
  int pad = settings_.pad;
  int ud = Descriptor(pad);
  int status = bus_.ibwrt(ud, message.data(), static_cast<long>(message.size()));
  std::string where = "write " + std::to_string(pad) + " ";
  if ((status & gpib::ERR) != 0) {
    Log(where + (error_ == gpib::ENOL ? "no listener" : "failed, error " + std::to_string(error_)) +
        " " + Quoted(message));
    return;
  }
  Log(where + Quoted(message));
  bool query = data.find('?') != std::string::npos;
  if (settings_.auto_read == 1 || settings_.auto_read == 3 || (settings_.auto_read == 2 && query))
    Read(pad);
}

void AdapterEmulator::Read(int pad) {
  int ud = Descriptor(pad);
  std::string reply;
  bool ended = false;
  for (int chunk = 0; chunk < kMaxReadChunks && !ended; ++chunk) {
    char buffer[kReadChunk];
    int status = bus_.ibrd(ud, buffer, kReadChunk);
    if ((status & gpib::ERR) != 0) break;
    reply.append(buffer, static_cast<std::size_t>(std::max(count_long_, 0)));
    ended = (status & gpib::END) != 0;
  }
  if (reply.empty() && !ended) {
    Log("read " + std::to_string(pad) + " timed out");
    return;
  }
  Log("read " + std::to_string(pad) + " " + Quoted(reply));
  if (ended && settings_.eot_enable != 0) reply += static_cast<char>(settings_.eot_char);
  if (sink_) sink_(reply);
}

void AdapterEmulator::SerialPoll(int pad) {
  int ud = Descriptor(pad);
  char byte = 0;
  int status = bus_.ibrsp(ud, &byte);
  if ((status & gpib::ERR) != 0) {
    // As the AR488 main line: nothing at all for a poll nobody answered.
    Log("spoll " + std::to_string(pad) + " timed out");
    return;
  }
  std::string value = std::to_string(static_cast<unsigned char>(byte));
  Log("spoll " + std::to_string(pad) + " " + value);
  Answer(value);
}

bool AdapterEmulator::ServiceRequested() {
  Tick();
  auto line = [this] {
    for (int pad = 1; pad <= kMaxAddress; ++pad) {
      SimDevice* device = bus_.device(pad);
      if (device != nullptr && device->RequestingService()) return true;
    }
    return false;
  };
  if (line()) return true;
  // The host waits for a service request. As in a wait on the bus itself,
  // what is under way on its own comes first; otherwise whoever stands at the
  // instrument does the next step.
  if (technician_ == nullptr || SecondsToNextEvent()) return false;
  if (!technician_->ActOnWait(Now())) {
    if (!script_done_noted_) Note("the technician's script has run out");
    script_done_noted_ = true;
    return false;
  }
  return line();
}

std::string AdapterEmulator::Listeners(const std::vector<int>& wanted, const std::string& separator,
                                       bool trailing) {
  std::vector<Addr4882_t> pads;
  for (int pad : wanted) pads.push_back(static_cast<Addr4882_t>(pad));
  pads.push_back(gpib::NOADDR);
  std::vector<Addr4882_t> found(pads.size(), 0);
  bus_.FindLstn(0, pads.data(), found.data(), static_cast<int>(found.size()));
  std::string list;
  if ((status_ & gpib::ERR) == 0) {
    for (int i = 0; i < count_long_; ++i) {
      list += std::to_string(found[static_cast<std::size_t>(i)]);
      if (trailing || i + 1 < count_long_) list += separator;
    }
  }
  Log("find " + Quoted(list));
  return list;
}

void AdapterEmulator::Command(const std::string& line) {
  std::istringstream words(line.substr(2));
  std::string name;
  words >> name;
  name = Lower(name);
  std::vector<std::string> args;
  for (std::string word; words >> word;) args.push_back(word);

  // A setting: printed without a value, else set when the value is good.
  auto setting = [&](int& value, int lo, int hi) {
    if (args.empty()) {
      Answer(std::to_string(value));
      return true;
    }
    std::optional<int> number = Number(args[0], lo, hi);
    if (!number) {
      Answer(kInvalid);
      return false;
    }
    value = *number;
    return true;
  };
  // An address and optional secondary address from args[first].
  auto address = [&](std::size_t first, int& pad, int& sad) {
    std::optional<int> primary = Number(args[first], 0, kMaxAddress);
    std::optional<int> secondary = 0;
    if (args.size() > first + 1)
      secondary = Number(args[first + 1], kLowestSecondary, kHighestSecondary);
    if (!primary || !secondary) {
      Answer(kInvalid);
      return false;
    }
    pad = *primary;
    sad = *secondary;
    return true;
  };
  auto pad_list = [&](std::size_t first, std::vector<int>& pads) {
    for (std::size_t i = first; i < args.size(); ++i) {
      std::optional<int> pad = Number(args[i], 1, kMaxAddress);
      if (!pad) {
        Answer(kInvalid);
        return false;
      }
      pads.push_back(*pad);
    }
    return true;
  };
  auto all_pads = [] {
    std::vector<int> pads;
    for (int pad = 1; pad <= kMaxAddress; ++pad) pads.push_back(pad);
    return pads;
  };

  if (name == "ver") {
    Answer(kVersion);
  } else if (name == "mode") {
    int mode = 1;
    setting(mode, 1, 1);  // controller mode only
  } else if (name == "addr") {
    if (args.empty()) {
      Answer(std::to_string(settings_.pad) +
             (settings_.sad != 0 ? " " + std::to_string(settings_.sad) : ""));
    } else {
      address(0, settings_.pad, settings_.sad);
    }
  } else if (name == "auto") {
    setting(settings_.auto_read, 0, 3);
  } else if (name == "eoi") {
    setting(settings_.eoi, 0, 1);
  } else if (name == "eos") {
    setting(settings_.eos, 0, 3);
  } else if (name == "eot_enable") {
    setting(settings_.eot_enable, 0, 1);
  } else if (name == "eot_char") {
    setting(settings_.eot_char, 0, 255);
  } else if (name == "read_tmo_ms") {
    setting(settings_.read_tmo_ms, 1, kLongestReadMs);
  } else if (name == "read") {
    if (!args.empty() && Lower(args[0]) != "eoi" && !Number(args[0], 0, 255)) {
      Answer(kInvalid);
    } else {
      // The simulated devices end every reply with EOI: a read to an end
      // character takes the same message.
      Read(settings_.pad);
    }
  } else if (name == "clr") {
    bool cleared = (bus_.ibclr(Descriptor(settings_.pad)) & gpib::ERR) == 0;
    Log("clear " + std::to_string(settings_.pad) + (cleared ? "" : " no listener"));
  } else if (name == "dcl") {
    for (int pad = 1; pad <= kMaxAddress; ++pad) {
      if (bus_.device(pad) != nullptr) bus_.ibclr(Descriptor(pad));
    }
    Log("clear all");
  } else if (name == "ifc") {
    bus_.SendIFC(0);
    Log("ifc");
  } else if (name == "spoll") {
    int pad = settings_.pad;
    int sad = settings_.sad;
    if (args.empty() || address(0, pad, sad)) SerialPoll(pad);
  } else if (name == "srq") {
    Answer(ServiceRequested() ? "1" : "0");
  } else if (name == "ren") {
    if (setting(settings_.ren, 0, 1) && !args.empty()) {
      bus_.ibsre(0, settings_.ren);
      Log("ren " + std::to_string(settings_.ren));
    }
  } else if (name == "fndl") {
    std::vector<int> pads;
    if (args.empty()) {
      Answer(kMissing);
    } else if (Lower(args[0]) == "all") {
      Answer(Listeners(all_pads(), ",", false));
    } else if (pad_list(0, pads)) {
      Answer(Listeners(pads, ",", false));
    }
  } else if (name == "findlstn") {
    std::vector<int> pads;
    if (args.empty()) {
      Answer(Listeners(all_pads(), " ", true));
    } else if (pad_list(0, pads)) {
      Answer(Listeners(pads, " ", true));
    }
  } else if (name == "rst") {
    settings_ = Settings{};
    Note("adapter reset");
  } else if (name == "loc" || name == "llo" || name == "trg" || name == "savecfg") {
    // Accepted; the simulated instruments have no local state or trigger,
    // and nothing is saved.
  } else {
    Answer(kUnrecognized);
  }
}

// ---------------------------------------------------------------------------
// SimServer

std::unique_ptr<SimServer> SimServer::Listen(const std::string& address, int port,
                                             std::string* error) {
  std::string host = Lower(address) == "localhost" ? "127.0.0.1" : address;
  sockaddr_storage storage{};
  socklen_t length = 0;
  bool ipv6 = host.find(':') != std::string::npos;
  bool loopback = false;
  if (ipv6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET6, host.c_str(), &in6->sin6_addr) != 1) {
      *error = "\"" + address + "\" is not an IP address";
      return nullptr;
    }
    loopback = IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr);
    length = sizeof(sockaddr_in6);
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &in4->sin_addr) != 1) {
      *error = "\"" + address + "\" is not an IP address";
      return nullptr;
    }
    loopback = (ntohl(in4->sin_addr.s_addr) >> 24) == 127;
    length = sizeof(sockaddr_in);
  }
  int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("no socket: ") + std::strerror(errno);
    return nullptr;
  }
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    *error = "cannot listen on " + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port) +
             ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  int bound = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port)
                   : ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  std::unique_ptr<SimServer> server(new SimServer());
  server->listen_fd_ = fd;
  server->loopback_ = loopback;
  server->where_ = (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(bound);
  return server;
}

std::unique_ptr<SimServer> SimServer::OpenPty(std::string* error) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char path[128] = {};
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, path, sizeof path) != 0) {
    *error = std::string("no pseudo-terminal: ") + std::strerror(errno);
    if (master >= 0) ::close(master);
    return nullptr;
  }
  // The server keeps the terminal side open itself, so that hosts may come
  // and go as on a serial port, and puts it in raw mode: no echo, no line
  // editing, no translation of line ends.
  int slave = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings{};
  if (slave < 0 || ::tcgetattr(slave, &settings) != 0) {
    *error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    ::close(master);
    if (slave >= 0) ::close(slave);
    return nullptr;
  }
  ::cfmakeraw(&settings);
  ::tcsetattr(slave, TCSANOW, &settings);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  std::unique_ptr<SimServer> server(new SimServer());
  server->pty_ = true;
  server->client_fd_ = master;
  server->pty_slave_fd_ = slave;
  server->where_ = path;
  return server;
}

SimServer::~SimServer() {
  for (int fd : {listen_fd_, client_fd_, pty_slave_fd_}) {
    if (fd >= 0) ::close(fd);
  }
}

std::string SimServer::Describe() const {
  return where_;
}

std::string SimServer::BusName() const {
  return pty_ ? "prologix:" + where_ : "prologix://" + where_;
}

void SimServer::Serve(AdapterEmulator& emulator, Platform& platform, int key_fd,
                      const std::function<bool()>& stop) {
  emulator.SetSink([this, &emulator](std::string_view bytes) {
    if (!Send(bytes)) Drop(emulator, "it does not take its answers");
  });
  emulator.NewHost();
  emulator.Note((pty_ ? "serving on " : "listening on ") + where_);
  while (!(stop && stop()) && !platform.close_pending()) {
    emulator.Tick();
    double wait = kIdleStep;
    if (std::optional<double> next = emulator.SecondsToNextEvent())
      wait = std::clamp(*next, 0.0, kIdleStep);
    Step(emulator, platform, key_fd, wait);
  }
  if (!pty_ && client_fd_ >= 0) Drop(emulator, "the server stops");
  emulator.SetSink(nullptr);
}

void SimServer::Step(AdapterEmulator& emulator, Platform& platform, int key_fd, double seconds) {
  pollfd fds[3];
  nfds_t count = 0;
  int listen_at = -1;
  int client_at = -1;
  int key_at = -1;
  if (listen_fd_ >= 0) {
    listen_at = static_cast<int>(count);
    fds[count++] = {listen_fd_, POLLIN, 0};
  }
  if (client_fd_ >= 0) {
    client_at = static_cast<int>(count);
    fds[count++] = {client_fd_, POLLIN, 0};
  }
  if (key_fd >= 0) {
    key_at = static_cast<int>(count);
    fds[count++] = {key_fd, POLLIN, 0};
  }
  int ms = static_cast<int>(std::ceil(std::max(seconds, 0.0) * 1000.0));
  int ready = ::poll(fds, count, ms);
  auto readable = [&](int at) {
    return ready > 0 && at >= 0 && (fds[at].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  };
  // Keys and interrupts: the platform takes them (a bezel key presses the
  // button, Ctrl-C is a close request).
  platform.WaitIdle(readable(key_at) ? 0.001 : 0.0);
  if (readable(listen_at)) Accept(emulator);
  if (readable(client_at)) {
    char buffer[4096];
    ssize_t n = ::read(client_fd_, buffer, sizeof buffer);
    if (n > 0) {
      emulator.Receive(std::string_view(buffer, static_cast<std::size_t>(n)));
    } else if (!pty_ && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
      Drop(emulator, n == 0 ? "the host closed the connection" : std::strerror(errno));
    }
  }
}

void SimServer::Accept(AdapterEmulator& emulator) {
  sockaddr_storage peer{};
  socklen_t length = sizeof(peer);
  int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length,
                     SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;
  char text[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (peer.ss_family == AF_INET6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&peer);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    port = ntohs(in6->sin6_port);
  } else {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&peer);
    ::inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text);
    port = ntohs(in4->sin_port);
  }
  std::string who = std::string(text) + ":" + std::to_string(port);
  if (client_fd_ >= 0) {
    // One host at a time: the newcomer is closed at once, so it knows.
    ::close(fd);
    emulator.Note("turned away " + who + ": " + host_ + " is connected");
    return;
  }
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on));
  client_fd_ = fd;
  host_ = who;
  emulator.NewHost();
  emulator.Note("host connected from " + who);
}

void SimServer::Drop(AdapterEmulator& emulator, const std::string& why) {
  if (pty_ || client_fd_ < 0) return;
  ::close(client_fd_);
  client_fd_ = -1;
  emulator.NewHost();
  emulator.Note("host " + host_ + " disconnected: " + why);
  host_.clear();
}

bool SimServer::Send(std::string_view bytes) {
  if (client_fd_ < 0) return true;
  double deadline = Seconds() + (pty_ ? kPtySendSeconds : kSendSeconds);
  while (!bytes.empty()) {
    ssize_t n = pty_ ? ::write(client_fd_, bytes.data(), bytes.size())
                     : ::send(client_fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      double left = deadline - Seconds();
      pollfd entry{client_fd_, POLLOUT, 0};
      if (left > 0 && ::poll(&entry, 1, static_cast<int>(std::ceil(left * 1000))) > 0) continue;
      // Nobody reads the terminal: its bytes are lost, as on a serial line.
      return pty_;
    }
    return pty_;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The command line and the run

namespace {

// [ADDR:]PORT, [IPV6]:PORT
std::string ParseListen(const std::string& text, std::string& address, int& port) {
  std::string port_text = text;
  std::string host;
  if (!text.empty() && text[0] == '[') {
    std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return "expected [IPV6]:PORT";
    host = text.substr(1, close - 1);
    port_text = text.substr(close + 2);
  } else if (std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    port_text = text.substr(colon + 1);
    if (host.find(':') != std::string::npos) return "an IPv6 address goes in brackets: [::1]:1234";
  }
  std::optional<int> number = Number(port_text, 0, 65535);
  if (!number) return "the port \"" + port_text + "\" is not a number 0 to 65535";
  if (!host.empty()) {
    in6_addr scratch{};
    bool good = Lower(host) == "localhost" ||
                inet_pton(host.find(':') != std::string::npos ? AF_INET6 : AF_INET, host.c_str(),
                          &scratch) == 1;
    if (!good) return "\"" + host + "\" is not an IP address (such as 127.0.0.1 or ::1)";
    address = host;
  }
  port = *number;
  return {};
}

std::string SimHelpFooter() {
  return "Serves the simulated bus as a Prologix/AR488-compatible GPIB adapter:\n"
         "  --listen [ADDR:]PORT   a TCP port, on 127.0.0.1 unless ADDR names another\n"
         "                         address (0.0.0.0 serves the network); port 0 picks a\n"
         "                         free one. Default: 127.0.0.1:1234\n"
         "  --pty                  a pseudo-terminal instead, like a USB adapter's serial\n"
         "                         port; its path is printed\n"
         "The first line printed says where it is; the second how to connect, e.g.\n"
         "  kalventa-checkout --bus prologix://127.0.0.1:1234\n"
         "  kalventa-checkout --bus prologix:/dev/pts/7\n"
         "One host at a time; a host may disconnect and another connect.\n"
         "\n"
         "The bus (--bus sim[:MODEL][@ADDR], --sim-device), the technician\n"
         "(--operator), the faults and the seed are those of kalventa-checkout. A\n"
         "scripted technician does its next step when the host looks at the SRQ\n"
         "line (++srq) while nothing is pending. In a terminal the instrument's\n"
         "screen is shown and the keys 1-5 press its bezel buttons, M twice is MENU\n"
         "OFF twice; Ctrl-C ends.\n"
         "\n"
         "Exit status: 0 after Ctrl-C, 1 when the port cannot be opened, 2 for a bad\n"
         "command line.\n";
}

}  // namespace

int ParseSimServerOptions(int argc, const char* const* argv, SimServerOptions& options,
                          std::ostream& out, std::ostream& err) {
  CLI::App app{"kalventa-sim: the simulated 2430-family oscilloscope behind a GPIB adapter",
               kSimProgramName};
  BenchOptionTexts bench;
  AddBenchOptions(app, bench);
  std::string listen_text;
  app.add_option("--listen", listen_text, "Serve on a TCP port, [ADDR:]PORT");
  app.add_flag("--pty", options.pty, "Serve on a new pseudo-terminal");
  app.add_option("--log", options.log_file, "Write every bus operation to FILE");
  app.add_flag("--show-screen", options.show_screen,
               "Without a terminal: print the instrument screen after every change");
  app.set_version_flag("--version", std::string(kSimProgramName) + " " + kProgramVersion,
                       "Print the version and exit");
  app.footer(SimHelpFooter() + "\n" + FaultOptionHelp());

  auto usage_error = [&](const std::string& message) {
    return UsageError(kSimProgramName, message, err);
  };
  if (int status = ParseCommandLine(app, argc, argv, kSimProgramName, out, err); status >= 0) {
    return status;
  }

  std::string problem = TakeBenchOptions(app, bench, options.bench);
  if (!problem.empty()) return usage_error(problem);
  if (!options.bench.bus.simulated())
    return usage_error("kalventa-sim serves the simulated bus: --bus sim[:MODEL][@ADDR], not \"" +
                       bench.bus + "\"");
  if (app.count("--listen") > 0 && options.pty)
    return usage_error("--listen and --pty: one or the other");
  if (app.count("--listen") > 0) {
    problem = ParseListen(listen_text, options.listen_address, options.listen_port);
    if (!problem.empty()) return usage_error("bad --listen \"" + listen_text + "\": " + problem);
  }
  if (app.count("--log") > 0 && options.log_file.empty())
    return usage_error("--log needs a file name");
  return -1;
}

namespace {

int Serve(const SimServerOptions& options, SimServer& server, Platform& platform, bool terminal,
          std::ostream* log) {
  SimBench bench;
  BuildSimBench(options.bench, platform, terminal, bench);
  AdapterEmulator emulator(*bench.bus, platform, bench.technician.get(), log);
  server.Serve(emulator, platform, terminal ? STDIN_FILENO : -1);
  return kExitClosed;
}

}  // namespace

int RunSimServer(const SimServerOptions& options, std::ostream& out, std::ostream& err) {
  std::ofstream log;
  if (!options.log_file.empty()) {
    log.open(options.log_file, std::ios::out | std::ios::trunc);
    if (!log) {
      err << kSimProgramName << ": cannot write the log file \"" << options.log_file
          << "\": " << std::strerror(errno) << "\n";
      return kExitUsage;
    }
  }
  std::string problem;
  std::unique_ptr<SimServer> server =
      options.pty ? SimServer::OpenPty(&problem)
                  : SimServer::Listen(options.listen_address, options.listen_port, &problem);
  if (!server) {
    err << kSimProgramName << ": " << problem << "\n";
    return kExitFatal;
  }
  out << (server->is_pty() ? "serving on " : "listening on ") << server->Describe() << "\n"
      << "connect with: kalventa-checkout --bus " << server->BusName() << "\n";
  if (!server->loopback() && !server->is_pty())
    out << "note: this address can be reached from other machines\n";
  out.flush();

  int code = kExitClosed;
  std::string message;
  try {
    RealClock clock;
    bool terminal = isatty(STDIN_FILENO) != 0 && isatty(STDOUT_FILENO) != 0;
    std::ostream* log_stream = log.is_open() ? &log : nullptr;
    if (terminal) {
      TerminalPlatform platform(clock);
      code = Serve(options, *server, platform, true, log_stream);
    } else {
      HeadlessPlatform platform(clock, out);
      platform.set_echo_screen(options.show_screen);
      code = Serve(options, *server, platform, false, log_stream);
      if (!options.show_screen) platform.PrintScreen();
    }
  } catch (const ProgramEnd& end) {
    code = end.code;
    message = end.message;
  } catch (const std::exception& error) {
    code = kExitFatal;
    message = std::string("error: ") + error.what();
  }
  out.flush();
  if (!message.empty()) err << kSimProgramName << ": " << message << "\n";
  return code;
}

}  // namespace kc
