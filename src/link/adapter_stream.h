// A byte stream to a GPIB adapter (a TCP connection or a serial port), with a
// deadline on every operation: nothing here blocks past the deadline it is
// given. Reading is buffered: whole lines (ended by LF or CR LF) or bytes up
// to a chosen end character.
//
// Errors are std::error_code values: std::errc::timed_out when the deadline
// passed, asio's eof when the other side closed the connection, and the
// operating system's error otherwise.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace kc {

class AdapterStream {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  virtual ~AdapterStream() = default;

  // Connects (or opens the port); a stream already open is closed first.
  virtual std::error_code Open(Deadline deadline) = 0;
  virtual void Close() = 0;
  virtual bool is_open() const = 0;
  // Names the adapter's end in messages: "192.168.1.5:1234", "/dev/ttyUSB0".
  virtual std::string Describe() const = 0;
  // True for serial ports (an adapter there may still be starting up after the
  // port was opened).
  virtual bool is_serial() const { return false; }

  // Sends all of `data`.
  std::error_code WriteAll(std::string_view data, Deadline deadline);
  // Reads up to and including `end`; `*out` gets the bytes before it. Bytes
  // after it stay buffered for the next read.
  std::error_code ReadUntil(char end, Deadline deadline, std::string* out);
  // Reads one line ended by LF or CR LF; `*line` gets it without the line end.
  std::error_code ReadLine(Deadline deadline, std::string* line);
  // Throws away everything received so far, buffered or waiting, without
  // waiting for more. Fails only when the connection failed.
  std::error_code Drain();
  // What is buffered but not yet read.
  const std::string& pending() const { return buffer_; }

  static bool IsTimeout(const std::error_code& error);
  static std::error_code TimedOut() { return std::make_error_code(std::errc::timed_out); }

  // The most a read keeps buffered while looking for its end.
  static constexpr std::size_t kMaxBuffered = 1 << 20;

 protected:
  // Sends some of `data` (at least one byte unless it fails); `*sent` gets how
  // many.
  virtual std::error_code WriteSome(std::string_view data, Deadline deadline,
                                    std::size_t* sent) = 0;
  // Appends to `*out` what arrives, at least one byte, before `deadline`. A
  // deadline already past takes only what has arrived and times out when
  // nothing has.
  virtual std::error_code ReadSome(Deadline deadline, std::string* out) = 0;
  // Drops the buffered bytes (after a reconnection).
  void ClearBuffer() { buffer_.clear(); }

 private:
  std::string buffer_;
};

// A TCP connection to `host`:`port`, not yet open. Open() resolves the host
// and connects within its deadline.
std::unique_ptr<AdapterStream> MakeTcpStream(const std::string& host, int port);
// A serial port at `baud`, 8 data bits, no parity, one stop bit, no flow
// control; not yet open.
std::unique_ptr<AdapterStream> MakeSerialStream(const std::string& device, int baud);

}  // namespace kc
