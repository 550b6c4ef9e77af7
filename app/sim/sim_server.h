// kalventa-sim's server: the adapter emulator (sim/adapter_emulator.h) served
// on a loopback TCP port (another address only when named) or on a
// pseudo-terminal, one host at a time; a host may go and another come. In a
// terminal the simulated screen is shown and the keys 1-5 and M press the
// instrument's buttons.
#pragma once

#include <array>
#include <asio.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "app/sim/options.h"
#include "platform/platform.h"
#include "sim/adapter_emulator.h"

namespace kc {

// Where hosts reach the adapter.
class SimServer {
 public:
  // A TCP port on `address` (an IPv4 or bracketless IPv6 address; "localhost"
  // is 127.0.0.1); port 0 picks a free one. nullptr and `*error` on failure.
  static std::unique_ptr<SimServer> Listen(const std::string& address, int port,
                                           std::string* error);
  // A new pseudo-terminal in raw mode; its device path is Describe().
  static std::unique_ptr<SimServer> OpenPty(std::string* error);

  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // "127.0.0.1:40123", "[::1]:1234" or "/dev/pts/7".
  std::string Describe() const;
  // The bus name a host gives kalventa-checkout to reach it.
  std::string BusName() const;
  bool is_pty() const { return pty_.has_value(); }
  bool loopback() const { return loopback_; }

  // Serves `emulator` until `stop` says so (looked at least every 50 ms) or
  // the platform has a close request. `key_fd` (or -1) is the terminal whose
  // keys the platform reads: input there lets the platform take it.
  // Something else this server's loop serves as well (a VXI-11 gateway):
  // called every pass, a few milliseconds apart.
  void SetCompanion(std::function<void()> poll) { companion_ = std::move(poll); }
  void Serve(AdapterEmulator& emulator, Platform& platform, int key_fd,
             const std::function<bool()>& stop = {});

 private:
  SimServer() = default;
  void Accept();
  void Read();
  // Sends to the host; what it does not take at once follows as it reads.
  void Send(std::string_view bytes);
  void WriteQueued();
  // A host that has taken nothing for a while: a connection is closed, a
  // pseudo-terminal loses the bytes, as a serial line does.
  void SendTimedOut();
  // Closes the host's connection (a pty stays as it is).
  void Drop(const std::string& why);
  bool connected() const { return pty_ || client_; }
  // Runs `f` on the host's stream: the connection or the pty.
  template <typename F>
  void OnStream(F f) {
    if (pty_) {
      f(*pty_);
    } else if (client_) {
      f(*client_);
    }
  }

  asio::io_context io_;
  std::optional<asio::ip::tcp::acceptor> acceptor_;
  std::optional<asio::ip::tcp::socket> client_;        // the connected host
  std::optional<asio::posix::stream_descriptor> pty_;  // the pty's master side
  int pty_slave_fd_ = -1;
  asio::steady_timer send_timer_{io_};
  bool loopback_ = true;
  std::string where_;
  std::string host_;  // the connected host, for the log
  std::function<void()> companion_;
  // Counts connections: a handler of an earlier one does nothing.
  int generation_ = 0;
  AdapterEmulator* emulator_ = nullptr;  // while serving
  std::array<char, 4096> input_{};
  std::string sending_;  // being written
  std::string queued_;   // to be written after it
};

// Runs the server until Ctrl-C (or the end of the terminal); the exit status.
// The first line on `out` says where it listens.
int RunSimServer(const SimServerOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kc
