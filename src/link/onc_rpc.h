// ONC RPC version 2 over TCP, as LAN/GPIB gateways speak it: XDR encoding
// (big-endian 32-bit units; opaque data with its length and zero padding to
// a multiple of four), record marking (fragments behind a 4-byte header whose
// top bit marks the last one), call and reply messages with null
// authentication, a client connection with a deadline on every call, and the
// portmapper's GETPORT.
//
// Everything that comes from the wire is bounded before it is stored: a
// record longer than its reader's limit, an opaque length beyond the bytes
// left or beyond the field's limit, is an error and allocates nothing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace kc::rpc {

using Deadline = std::chrono::steady_clock::time_point;

// Protocol errors, as std::error_code values of their own category.
enum class Error {
  kGarbledReply = 1,      // not a well-formed reply message
  kRecordTooLarge,        // a record beyond the reader's limit
  kProgramUnavailable,    // PROG_UNAVAIL
  kVersionMismatch,       // PROG_MISMATCH
  kProcedureUnavailable,  // PROC_UNAVAIL
  kGarbageArguments,      // GARBAGE_ARGS
  kSystemError,           // SYSTEM_ERR
  kDenied,                // MSG_DENIED (RPC version or authentication)
  kNotRegistered,         // the portmapper knows no port for the program
};
std::error_code make_error_code(Error error);
const std::error_category& RpcCategory();

class XdrWriter {
 public:
  bool operator()(std::uint32_t value);
  bool operator()(std::int32_t value) { return (*this)(static_cast<std::uint32_t>(value)); }
  bool operator()(bool value) { return (*this)(static_cast<std::uint32_t>(value ? 1 : 0)); }
  // Variable-length opaque data or a string; `max` only matters when reading.
  bool operator()(const std::string& data, std::size_t max);
  const std::string& bytes() const { return bytes_; }
  std::string Take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

class XdrReader {
 public:
  explicit XdrReader(std::string_view bytes) : bytes_(bytes) {}
  // Each returns false, and leaves the reader failed, when the data end too
  // soon or the value is out of bounds (a bool other than 0 or 1, an opaque
  // field longer than `max` or than the bytes left).
  bool operator()(std::uint32_t& value);
  bool operator()(std::int32_t& value);
  bool operator()(bool& value);
  bool operator()(std::string& data, std::size_t max);
  bool Skip(std::size_t bytes);
  bool ok() const { return ok_; }
  std::size_t remaining() const { return bytes_.size() - at_; }
  std::string_view rest() const { return bytes_.substr(at_); }

 private:
  bool Fail() { return ok_ = false; }
  std::string_view bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// A structure with `template <typename Io> bool Xdr(Io& io)` naming its
// fields in wire order.
template <typename T>
std::string Encode(T value) {
  XdrWriter writer;
  value.Xdr(writer);
  return writer.Take();
}
template <typename T>
bool Decode(std::string_view bytes, T* value) {
  XdrReader reader(bytes);
  return value->Xdr(reader) && reader.ok();
}

// The message as one record: a single, last fragment.
std::string MarkRecord(std::string_view message);

// Reassembles records from a byte stream.
class RecordReader {
 public:
  enum class State { kIncomplete, kComplete, kTooLarge };

  explicit RecordReader(std::size_t max_record) : max_record_(max_record) {}
  // Bytes as they arrive.
  void Feed(std::string_view bytes) { input_.append(bytes); }
  // The next whole record into `*record`. kTooLarge as soon as a fragment
  // header announces more than the limit allows; the stream cannot be read
  // on after that.
  State Next(std::string* record);
  // What has been fed but not yet taken.
  std::size_t buffered() const { return input_.size(); }
  void Reset();

 private:
  std::size_t max_record_;
  std::string input_;
  std::string record_;
  bool failed_ = false;
};

struct CallHeader {
  std::uint32_t xid = 0;
  std::uint32_t program = 0;
  std::uint32_t version = 0;
  std::uint32_t procedure = 0;
};

// A call message with null credentials and verifier.
std::string EncodeCall(const CallHeader& header, std::string_view args);
// Decodes a call message (RPC version 2); `*args` points into `message`.
// False when it is not one; `*header` has the xid whenever it could be read.
bool DecodeCall(std::string_view message, CallHeader* header, std::string_view* args);

enum class AcceptStat : std::uint32_t {
  kSuccess = 0,
  kProgramUnavailable = 1,
  kProgramMismatch = 2,
  kProcedureUnavailable = 3,
  kGarbageArgs = 4,
  kSystemError = 5,
};
// An accepted reply; PROG_MISMATCH carries the supported versions
// `low`..`high`.
std::string EncodeReply(std::uint32_t xid, AcceptStat stat, std::string_view results,
                        std::uint32_t low = 0, std::uint32_t high = 0);
// A reply denied for an RPC version other than 2.
std::string EncodeVersionDenied(std::uint32_t xid);
// Decodes a reply: `*xid` (whenever it could be read) and, for a successful
// one, `*results` pointing into `message`; the error otherwise.
std::error_code DecodeReply(std::string_view message, std::uint32_t* xid,
                            std::string_view* results);

// A client of one program and version over one TCP connection.
class Client {
 public:
  // The longest record a reply may be.
  static constexpr std::size_t kMaxRecord = 1 << 20;

  Client(std::uint32_t program, std::uint32_t version);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Connects to `host`:`port` (an address or a name); an open connection is
  // closed first.
  std::error_code Connect(const std::string& host, int port, Deadline deadline);
  void Close();
  bool is_open() const;

  // Calls `procedure` and waits for its reply until `deadline`:
  // std::errc::timed_out when none came, asio's errors when the connection
  // failed, Error values for a bad or unsuccessful reply. Replies to earlier
  // calls (that timed out) are skipped.
  std::error_code Call(std::uint32_t procedure, std::string_view args, Deadline deadline,
                       std::string* results);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The TCP port of `program`/`version` from the portmapper at `host`:`port`.
std::error_code GetPort(const std::string& host, std::uint32_t program, std::uint32_t version,
                        Deadline deadline, int* result, int port = 111);

}  // namespace kc::rpc

template <>
struct std::is_error_code_enum<kc::rpc::Error> : std::true_type {};
