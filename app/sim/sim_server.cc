#include "app/sim/sim_server.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

#include "platform/clock.h"
#include "platform/headless_platform.h"
#include "platform/terminal_platform.h"
#include "sim/rig.h"
#include "sim/vxi11_gateway.h"

namespace kc {

namespace {

// The longest the server sleeps before it lets the bench catch up.
constexpr double kIdleStep = 0.05;
// With a companion served beside the host, the loop looks at both this often.
constexpr double kCompanionStep = 0.002;
// How long answers may wait for a host that does not read (a pty without a
// reader loses its bytes instead, as a serial line does).
constexpr double kSendSeconds = 2.0;
constexpr double kPtySendSeconds = 0.1;

std::chrono::steady_clock::duration Span(double seconds) {
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(std::max(seconds, 0.0)));
}

bool WouldBlock(const std::error_code& error) {
  return error == asio::error::would_block || error == asio::error::try_again;
}

}  // namespace

std::unique_ptr<SimServer> SimServer::Listen(const std::string& address, int port,
                                             std::string* error) {
  std::string lower = address;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::string host = lower == "localhost" ? "127.0.0.1" : address;
  std::error_code failure;
  asio::ip::address ip = asio::ip::make_address(host, failure);
  if (failure) {
    *error = "\"" + address + "\" is not an IP address";
    return nullptr;
  }
  std::string shown = ip.is_v6() ? "[" + host + "]" : host;
  std::unique_ptr<SimServer> server(new SimServer());
  asio::ip::tcp::endpoint endpoint(ip, static_cast<unsigned short>(port));
  asio::ip::tcp::acceptor& acceptor = server->acceptor_.emplace(server->io_);
  acceptor.open(endpoint.protocol(), failure);
  if (!failure) acceptor.set_option(asio::socket_base::reuse_address(true), failure);
  if (!failure) acceptor.bind(endpoint, failure);
  if (!failure) acceptor.listen(4, failure);
  if (!failure) endpoint = acceptor.local_endpoint(failure);
  if (failure) {
    *error = "cannot listen on " + shown + ":" + std::to_string(port) + ": " + failure.message();
    return nullptr;
  }
  server->loopback_ = ip.is_loopback();
  server->where_ = shown + ":" + std::to_string(endpoint.port());
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
  std::unique_ptr<SimServer> server(new SimServer());
  server->pty_.emplace(server->io_, master);
  server->pty_slave_fd_ = slave;
  server->where_ = path;
  return server;
}

SimServer::~SimServer() {
  if (pty_slave_fd_ >= 0) ::close(pty_slave_fd_);
}

std::string SimServer::Describe() const {
  return where_;
}

std::string SimServer::BusName() const {
  return pty_ ? "prologix:" + where_ : "prologix://" + where_;
}

void SimServer::Serve(AdapterEmulator& emulator, Platform& platform, int key_fd,
                      const std::function<bool()>& stop) {
  emulator_ = &emulator;
  emulator.SetSink([this](std::string_view bytes) { Send(bytes); });
  emulator.NewHost();
  emulator.Note((pty_ ? "serving on " : "listening on ") + where_);
  io_.restart();
  if (acceptor_) Accept();
  if (pty_) {
    std::error_code ignored;
    pty_->non_blocking(true, ignored);
    Read();
  }
  // The terminal's keys: the platform reads them itself once they are there.
  std::optional<asio::posix::stream_descriptor> keys;
  bool key_waiting = false;
  bool key_ready = false;
  if (key_fd >= 0) keys.emplace(io_, key_fd);
  while (!(stop && stop()) && !platform.close_pending()) {
    if (keys && !key_waiting) {
      key_waiting = true;
      keys->async_wait(asio::posix::descriptor_base::wait_read,
                       [&key_waiting, &key_ready](const std::error_code& error) {
                         key_waiting = false;
                         key_ready = !error;
                       });
    }
    emulator.Tick();
    double wait = kIdleStep;
    if (std::optional<double> next = emulator.SecondsToNextEvent())
      wait = std::clamp(*next, 0.0, kIdleStep);
    if (companion_) {
      companion_();
      wait = std::min(wait, kCompanionStep);
    }
    if (io_.stopped()) io_.restart();
    io_.run_one_for(Span(wait));
    // Keys and interrupts: the platform takes them (a bezel key presses the
    // button, Ctrl-C is a close request).
    platform.WaitIdle(key_ready ? 0.001 : 0.0);
    key_ready = false;
  }
  if (!pty_ && client_) Drop("the server stops");
  // What is still under way ends here, its handlers finding nothing to do.
  emulator_ = nullptr;
  ++generation_;
  std::error_code ignored;
  if (acceptor_) acceptor_->cancel(ignored);
  if (pty_) pty_->cancel(ignored);
  if (keys) {
    keys->cancel(ignored);
    keys->release();
  }
  send_timer_.cancel();
  io_.restart();
  io_.poll();
  sending_.clear();
  queued_.clear();
  emulator.SetSink(nullptr);
}

void SimServer::Accept() {
  acceptor_->async_accept([this](const std::error_code& error, asio::ip::tcp::socket socket) {
    if (emulator_ == nullptr || error == asio::error::operation_aborted) return;
    if (!error) {
      std::error_code ignored;
      asio::ip::tcp::endpoint peer = socket.remote_endpoint(ignored);
      std::string who = peer.address().to_string() + ":" + std::to_string(peer.port());
      if (client_) {
        // One host at a time: the newcomer is closed at once, so it knows.
        socket.close(ignored);
        emulator_->Note("turned away " + who + ": " + host_ + " is connected");
      } else {
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        socket.set_option(asio::socket_base::keep_alive(true), ignored);
        socket.non_blocking(true, ignored);
        client_.emplace(std::move(socket));
        host_ = who;
        ++generation_;
        emulator_->NewHost();
        emulator_->Note("host connected from " + who);
        Read();
      }
    }
    Accept();
  });
}

void SimServer::Read() {
  int generation = generation_;
  OnStream([this, generation](auto& stream) {
    stream.async_read_some(
        asio::buffer(input_), [this, generation](const std::error_code& error, std::size_t n) {
          if (emulator_ == nullptr || generation != generation_) return;
          if (n > 0) emulator_->Receive(std::string_view(input_.data(), n));
          if (!error || pty_) {
            // A pty has no end: its reader may come back (or its write was
            // given up, which stops the read as well).
            if (emulator_ != nullptr && generation == generation_) Read();
            return;
          }
          Drop(error == asio::error::eof ? "the host closed the connection" : error.message());
        });
  });
}

void SimServer::Send(std::string_view bytes) {
  if (!connected()) return;
  if (!sending_.empty()) {
    queued_.append(bytes);
    return;
  }
  std::error_code error;
  while (!bytes.empty() && !error) {
    std::size_t sent = 0;
    OnStream([&](auto& stream) { sent = stream.write_some(asio::buffer(bytes), error); });
    bytes.remove_prefix(sent);
  }
  if (bytes.empty()) return;
  if (error && !WouldBlock(error)) {
    if (!pty_) Drop("it does not take its answers");
    return;
  }
  // The host reads slower than answers come: the rest follows as it reads.
  sending_.assign(bytes);
  send_timer_.expires_after(Span(pty_ ? kPtySendSeconds : kSendSeconds));
  send_timer_.async_wait([this](const std::error_code& timer_error) {
    if (!timer_error) SendTimedOut();
  });
  WriteQueued();
}

void SimServer::WriteQueued() {
  int generation = generation_;
  OnStream([this, generation](auto& stream) {
    asio::async_write(stream, asio::buffer(sending_),
                      [this, generation](const std::error_code& error, std::size_t) {
                        if (emulator_ == nullptr || generation != generation_ || error) return;
                        sending_ = std::move(queued_);
                        queued_.clear();
                        if (sending_.empty()) {
                          send_timer_.cancel();
                          return;
                        }
                        send_timer_.expires_after(Span(pty_ ? kPtySendSeconds : kSendSeconds));
                        send_timer_.async_wait([this](const std::error_code& timer_error) {
                          if (!timer_error) SendTimedOut();
                        });
                        WriteQueued();
                      });
  });
}

void SimServer::SendTimedOut() {
  if (emulator_ == nullptr || sending_.empty()) return;
  if (!pty_) {
    Drop("it does not take its answers");
    return;
  }
  // Nobody reads the terminal: its bytes are lost, as on a serial line. The
  // read stopped with the write starts again.
  ++generation_;
  std::error_code ignored;
  pty_->cancel(ignored);
  sending_.clear();
  queued_.clear();
  Read();
}

void SimServer::Drop(const std::string& why) {
  if (pty_ || !client_) return;
  std::error_code ignored;
  client_->close(ignored);
  client_.reset();
  ++generation_;
  send_timer_.cancel();
  sending_.clear();
  queued_.clear();
  if (emulator_ == nullptr) return;
  emulator_->NewHost();
  emulator_->Note("host " + host_ + " disconnected: " + why);
  host_.clear();
}

namespace {

int Serve(const SimServerOptions& options, SimServer& server, Platform& platform, bool terminal,
          std::ostream* log, std::ostream& out) {
  SimRig rig(RigSetupFor(options.bench, terminal), platform);
  AdapterEmulator emulator(rig.bus(), platform, rig.technician(), log);
  // The same bus as a LAN/GPIB gateway's core channel, served in the same loop.
  std::unique_ptr<Vxi11Gateway> gateway;
  std::unique_ptr<Vxi11Server> vxi11;
  if (options.vxi11) {
    gateway = std::make_unique<Vxi11Gateway>(rig.bus(), platform, rig.technician(), log);
    std::string problem;
    vxi11 = Vxi11Server::Listen(*gateway, options.vxi11_address, options.vxi11_port, &problem);
    if (!vxi11) throw ProgramEnd{kExitFatal, problem};
    out << "VXI-11 gateway on " << vxi11->Describe() << "\n"
        << "connect with: kalventa-checkout --bus " << vxi11->BusName() << "\n";
    out.flush();
    server.SetCompanion([&vxi11] { vxi11->Poll(0); });
  }
  server.Serve(emulator, platform, terminal ? STDIN_FILENO : -1);
  server.SetCompanion(nullptr);
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
      code = Serve(options, *server, platform, true, log_stream, out);
    } else {
      HeadlessPlatform platform(clock, out);
      platform.set_echo_screen(options.show_screen);
      code = Serve(options, *server, platform, false, log_stream, out);
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
