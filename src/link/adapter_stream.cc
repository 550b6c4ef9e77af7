#include "link/adapter_stream.h"

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "link/net_io.h"

namespace kc {

bool AdapterStream::IsTimeout(const std::error_code& error) {
  return error == std::errc::timed_out;
}

std::error_code AdapterStream::WriteAll(std::string_view data, Deadline deadline) {
  while (!data.empty()) {
    std::size_t sent = 0;
    if (std::error_code error = WriteSome(data, deadline, &sent)) return error;
    data.remove_prefix(std::min(sent, data.size()));
  }
  return {};
}

std::error_code AdapterStream::ReadUntil(char end, Deadline deadline, std::string* out) {
  std::size_t searched = 0;
  while (true) {
    std::size_t at = buffer_.find(end, searched);
    if (at != std::string::npos) {
      out->assign(buffer_, 0, at);
      buffer_.erase(0, at + 1);
      return {};
    }
    searched = buffer_.size();
    if (buffer_.size() > kMaxBuffered) {
      buffer_.clear();
      return std::make_error_code(std::errc::message_size);
    }
    if (std::error_code error = ReadSome(deadline, &buffer_)) return error;
  }
}

std::error_code AdapterStream::ReadLine(Deadline deadline, std::string* line) {
  std::error_code error = ReadUntil('\n', deadline, line);
  if (!error && !line->empty() && line->back() == '\r') line->pop_back();
  return error;
}

std::error_code AdapterStream::Drain() {
  buffer_.clear();
  // Bounded: an adapter that floods the line must not keep us here.
  for (int round = 0; round < 256; ++round) {
    std::string scratch;
    std::error_code error = ReadSome(std::chrono::steady_clock::now(), &scratch);
    if (IsTimeout(error)) return {};
    if (error) return error;
  }
  return {};
}

namespace {

using asio::ip::tcp;

// The asio part shared by the TCP and serial streams: each operation runs on
// the stream's own io_context until it completes or its deadline passes, and
// is then cancelled.
template <typename Handle>
class AsioStream : public AdapterStream {
 public:
  AsioStream() : handle_(io_) {}

  void Close() override {
    std::error_code ignored;
    handle_.close(ignored);
    ClearBuffer();
  }
  bool is_open() const override { return handle_.is_open(); }

 protected:
  // Starts an operation with `start(handler)`; the handler takes an error and
  // a byte count. Returns the operation's outcome; `cancel` stops it when the
  // deadline passes, which makes the outcome a time-out.
  template <typename Start, typename Cancel>
  std::error_code Run(Deadline deadline, Start start, Cancel cancel, std::size_t* bytes) {
    std::error_code result;
    std::size_t count = 0;
    RunUntil(io_, deadline, start, cancel, &result, &count);
    if (bytes != nullptr) *bytes = count;
    if (count > 0) return {};
    if (result == asio::error::operation_aborted) return TimedOut();
    return result;
  }

  std::error_code WriteSome(std::string_view data, Deadline deadline, std::size_t* sent) override {
    if (!handle_.is_open()) return asio::error::not_connected;
    return Run(
        deadline,
        [&](auto handler) {
          handle_.async_write_some(asio::buffer(data.data(), data.size()), handler);
        },
        [&] {
          std::error_code ignored;
          handle_.cancel(ignored);
        },
        sent);
  }

  std::error_code ReadSome(Deadline deadline, std::string* out) override {
    if (!handle_.is_open()) return asio::error::not_connected;
    std::size_t received = 0;
    std::error_code error = Run(
        deadline, [&](auto handler) { handle_.async_read_some(asio::buffer(chunk_), handler); },
        [&] {
          std::error_code ignored;
          handle_.cancel(ignored);
        },
        &received);
    out->append(chunk_.data(), received);
    return error;
  }

  asio::io_context io_;
  Handle handle_;

 private:
  std::array<char, 4096> chunk_{};
};

class TcpStream : public AsioStream<tcp::socket> {
 public:
  TcpStream(std::string host, int port) : host_(std::move(host)), port_(port) {}

  std::error_code Open(Deadline deadline) override {
    Close();
    std::vector<tcp::endpoint> endpoints;
    if (std::error_code error = ResolveTcp(host_, port_, deadline, &endpoints)) return error;
    std::error_code error = Run(
        deadline,
        [&](auto handler) {
          asio::async_connect(handle_, endpoints,
                              [handler](const std::error_code& connect_error,
                                        const tcp::endpoint&) { handler(connect_error, 0); });
        },
        [&] {
          std::error_code ignored;
          handle_.close(ignored);
        },
        nullptr);
    if (error) {
      Close();
      return error;
    }
    std::error_code ignored;
    handle_.set_option(tcp::no_delay(true), ignored);
    return {};
  }

  std::string Describe() const override {
    bool ipv6 = host_.find(':') != std::string::npos;
    return (ipv6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
  }

 private:
  std::string host_;
  int port_;
};

class SerialStream : public AsioStream<asio::serial_port> {
 public:
  SerialStream(std::string device, int baud) : device_(std::move(device)), baud_(baud) {}

  std::error_code Open(Deadline) override {
    Close();
    std::error_code error;
    handle_.open(device_, error);
    if (error) return error;
    using asio::serial_port_base;
    handle_.set_option(serial_port_base::baud_rate(static_cast<unsigned>(baud_)), error);
    if (!error) handle_.set_option(serial_port_base::character_size(8), error);
    if (!error) handle_.set_option(serial_port_base::parity(serial_port_base::parity::none), error);
    if (!error)
      handle_.set_option(serial_port_base::stop_bits(serial_port_base::stop_bits::one), error);
    if (!error)
      handle_.set_option(serial_port_base::flow_control(serial_port_base::flow_control::none),
                         error);
    if (error) Close();
    return error;
  }

  std::string Describe() const override { return device_; }
  bool is_serial() const override { return true; }

 private:
  std::string device_;
  int baud_;
};

}  // namespace

std::unique_ptr<AdapterStream> MakeTcpStream(const std::string& host, int port) {
  return std::make_unique<TcpStream>(host, port);
}

std::unique_ptr<AdapterStream> MakeSerialStream(const std::string& device, int baud) {
  return std::make_unique<SerialStream>(device, baud);
}

}  // namespace kc
