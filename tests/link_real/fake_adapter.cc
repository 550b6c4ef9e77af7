#include "link_real/fake_adapter.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "support/program_run.h"

namespace kc::testing {
namespace {

constexpr char kEsc = 27;

bool Readable(int fd, int ms) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, ms) > 0;
}

void SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// The n-th character of the long reply: readable and easy to check.
char LongReplyChar(std::size_t n) {
  return static_cast<char>('A' + n % 26);
}

}  // namespace

FakeAdapter::FakeAdapter(Kind kind) : kind_(kind) {
  switch (kind) {
    case Kind::kAr488:
      version_ = "AR488 GPIB controller, ver. 0.53.04, 13/04/2025";
      break;
    case Kind::kAr488Esp32:
      version_ = "AR488-ESP32 GPIB controller, ver. 0.51.29";
      break;
    case Kind::kPrologix:
      version_ = "Prologix GPIB-ETHERNET version 1.6.6.0";
      break;
  }
  listen_fd_ = harness::ListenLoopback(&port_);
  if (listen_fd_ < 0) throw std::runtime_error("fake adapter: no loopback port");
  thread_ = std::thread([this] { Serve(); });
}

FakeAdapter::~FakeAdapter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

void FakeAdapter::AddInstrument(int pad, const std::string& id, int status_byte, bool silent) {
  std::lock_guard<std::mutex> lock(mutex_);
  Instrument& instrument = instruments_[pad];
  instrument.id = id;
  instrument.status_byte = status_byte;
  instrument.silent = silent;
}

void FakeAdapter::RaiseSrqOnPoll(int n) {
  std::lock_guard<std::mutex> lock(mutex_);
  srq_on_poll_ = n;
}

void FakeAdapter::InjectBefore(const std::string& command, const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  inject_[command] = text;
}

void FakeAdapter::DropOn(const std::string& command, bool refuse_after) {
  std::lock_guard<std::mutex> lock(mutex_);
  drop_on_ = command;
  refuse_after_drop_ = refuse_after;
}

void FakeAdapter::SilentFrom(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  silent_from_ = command;
}

std::string FakeAdapter::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::string FakeAdapter::WaitReceived(std::size_t size) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(30), [&] { return received_.size() >= size; });
  return received_;
}

std::vector<std::string> FakeAdapter::Messages(int pad) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = instruments_.find(pad);
  return found == instruments_.end() ? std::vector<std::string>{} : found->second.messages;
}

int FakeAdapter::srq_polls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return srq_polls_;
}

int FakeAdapter::connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

bool FakeAdapter::Sleep(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void FakeAdapter::Serve() {
  while (!stop_) {
    if (listen_fd_ < 0) {
      Sleep(10);
      continue;
    }
    if (!Readable(listen_fd_, 10)) continue;
    int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++connections_;
      silent_ = false;
    }
    ServeConnection(fd);
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (refusing_ && listen_fd_ >= 0) {
      ::close(listen_fd_);
      listen_fd_ = -1;
    }
  }
}

void FakeAdapter::ServeConnection(int fd) {
  std::string line;
  bool escaped = false;
  bool head_escaped = false;  // one of the first two characters came escaped
  char buffer[512];
  while (!stop_) {
    if (!Readable(fd, 10)) continue;
    ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    if (n <= 0) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.append(buffer, static_cast<std::size_t>(n));
    }
    changed_.notify_all();
    for (ssize_t i = 0; i < n; ++i) {
      char c = buffer[i];
      if (escaped) {
        if (line.size() < 2) head_escaped = true;
        line += c;
        escaped = false;
        continue;
      }
      if (c == kEsc) {
        escaped = true;
        continue;
      }
      if (c != '\n' && c != '\r') {
        line += c;
        continue;
      }
      if (line.empty()) continue;
      bool command = !head_escaped && line.rfind("++", 0) == 0;
      bool drop = false;
      std::vector<Step> steps;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        steps = Handle(line, command, drop);
      }
      line.clear();
      head_escaped = false;
      if (drop) return;
      for (const Step& step : steps) {
        if (!Sleep(step.wait_ms)) return;
        if (!step.trickle) {
          SendAll(fd, step.bytes);
          continue;
        }
        for (char byte : step.bytes) {
          SendAll(fd, std::string(1, byte));
          if (!Sleep(30)) return;
        }
      }
    }
  }
}

std::vector<FakeAdapter::Step> FakeAdapter::Handle(const std::string& line, bool command,
                                                   bool& drop) {
  if (command && line == drop_on_) {
    drop = true;
    refusing_ = refuse_after_drop_;
    return {};
  }
  if (command && line == silent_from_) silent_ = true;
  if (!command) {
    Data(line);
    return {};
  }
  std::vector<Step> steps = Command(line);
  if (silent_) return {};
  auto injected = inject_.find(line);
  if (injected != inject_.end()) steps.insert(steps.begin(), Step{0, injected->second, false});
  return steps;
}

void FakeAdapter::Data(const std::string& data) {
  auto found = instruments_.find(addr_);
  if (found == instruments_.end()) return;
  Instrument& instrument = found->second;
  instrument.messages.push_back(data);
  instrument.trickle = false;
  if (data == "ID?") {
    instrument.reply = instrument.id + "\n";
  } else if (data == "LONG?") {
    instrument.reply.clear();
    for (std::size_t n = 0; n < 700; ++n) instrument.reply += LongReplyChar(n);
    instrument.reply += "\n";
  } else if (data == "TRICKLE?") {
    instrument.reply = "0123456789";
    instrument.trickle = true;
  }
}

std::vector<FakeAdapter::Step> FakeAdapter::Command(const std::string& command) {
  std::string name = command.substr(0, command.find(' '));
  std::string argument =
      command.find(' ') == std::string::npos ? "" : command.substr(command.find(' ') + 1);
  auto number = [&argument]() { return argument.empty() ? -1 : std::stoi(argument); };
  const std::string kUnrecognized = "Unrecognized command\r\n";
  bool ar488 = kind_ != Kind::kPrologix;

  if (name == "++ver") return {{0, version_ + "\r\n", false}};
  if (name == "++mode" || name == "++auto" || name == "++eoi" || name == "++eos" ||
      name == "++clr" || name == "++ifc" || name == "++loc")
    return {};
  if (name == "++ren")
    return ar488 ? std::vector<Step>{} : std::vector<Step>{{0, kUnrecognized, false}};
  if (name == "++addr") {
    if (argument.empty()) return {{0, std::to_string(addr_) + "\r\n", false}};
    addr_ = number();
    return {};
  }
  if (name == "++eot_enable") {
    eot_enable_ = number() == 1;
    return {};
  }
  if (name == "++eot_char") {
    eot_char_ = number();
    return {};
  }
  if (name == "++read_tmo_ms") {
    if (argument.empty()) return {{0, "Missing parameter\r\n", false}};
    int most = ar488 ? 32000 : 3000;
    if (number() < 1 || number() > most) return {{0, "Invalid parameter\r\n", false}};
    read_tmo_ms_ = number();
    return {};
  }
  if (name == "++read") {
    auto found = instruments_.find(addr_);
    if (found == instruments_.end() || found->second.reply.empty())
      return {{read_tmo_ms_, "", false}};
    Instrument& instrument = found->second;
    Step step{0, instrument.reply, instrument.trickle};
    if (!instrument.trickle && eot_enable_) step.bytes += static_cast<char>(eot_char_);
    instrument.reply.clear();
    instrument.trickle = false;
    return {step};
  }
  if (name == "++spoll") {
    auto found = instruments_.find(addr_);
    if (found != instruments_.end() && !found->second.silent)
      return {{0, std::to_string(found->second.status_byte) + "\r\n", false}};
    return {{read_tmo_ms_, kind_ == Kind::kAr488Esp32 ? "\r\n" : "", false}};
  }
  if (name == "++srq") {
    ++srq_polls_;
    bool raised = srq_on_poll_ > 0 && srq_polls_ >= srq_on_poll_;
    return {{0, raised ? "1\r\n" : "0\r\n", false}};
  }
  if (name == "++fndl" && kind_ == Kind::kAr488) {
    std::string list;
    for (const auto& [pad, instrument] : instruments_)
      list += (list.empty() ? "" : ",") + std::to_string(pad);
    return {{0, list + "\r\n", false}};
  }
  if (name == "++findlstn" && kind_ == Kind::kAr488Esp32) {
    std::string list;
    for (const auto& [pad, instrument] : instruments_) list += std::to_string(pad) + " ";
    return {{0, list + "\r\n", false}};
  }
  return {{0, kUnrecognized, false}};
}

}  // namespace kc::testing
