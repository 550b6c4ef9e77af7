#include "link/onc_rpc.h"

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "link/net_io.h"

namespace kc::rpc {
namespace {

constexpr std::uint32_t kRpcVersion = 2;
constexpr std::uint32_t kCall = 0;
constexpr std::uint32_t kReply = 1;
constexpr std::uint32_t kAccepted = 0;
constexpr std::uint32_t kDeniedReply = 1;
constexpr std::uint32_t kLastFragment = 0x80000000u;
// An authentication body is at most 400 bytes.
constexpr std::size_t kMaxAuthBody = 400;
constexpr std::uint32_t kPortmapProgram = 100000;
constexpr std::uint32_t kPortmapVersion = 2;
constexpr std::uint32_t kPortmapGetPort = 3;
constexpr std::uint32_t kProtocolTcp = 6;

class Category : public std::error_category {
 public:
  const char* name() const noexcept override { return "onc-rpc"; }
  std::string message(int value) const override {
    switch (static_cast<Error>(value)) {
      case Error::kGarbledReply:
        return "garbled RPC reply";
      case Error::kRecordTooLarge:
        return "RPC record too large";
      case Error::kProgramUnavailable:
        return "RPC program unavailable";
      case Error::kVersionMismatch:
        return "RPC program version mismatch";
      case Error::kProcedureUnavailable:
        return "RPC procedure unavailable";
      case Error::kGarbageArguments:
        return "RPC arguments refused";
      case Error::kSystemError:
        return "RPC system error";
      case Error::kDenied:
        return "RPC call denied";
      case Error::kNotRegistered:
        return "program not registered with the portmapper";
    }
    return "RPC error " + std::to_string(value);
  }
};

void PutU32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// A null authentication (flavor, empty body).
bool SkipAuth(XdrReader& reader) {
  std::uint32_t flavor = 0;
  std::string body;
  return reader(flavor) && reader(body, kMaxAuthBody);
}

}  // namespace

const std::error_category& RpcCategory() {
  static const Category category;
  return category;
}

std::error_code make_error_code(Error error) {
  return {static_cast<int>(error), RpcCategory()};
}

bool XdrWriter::operator()(std::uint32_t value) {
  PutU32(bytes_, value);
  return true;
}

bool XdrWriter::operator()(const std::string& data, std::size_t max) {
  (void)max;
  PutU32(bytes_, static_cast<std::uint32_t>(data.size()));
  bytes_ += data;
  bytes_.append((4 - data.size() % 4) % 4, '\0');
  return true;
}

bool XdrReader::operator()(std::uint32_t& value) {
  if (!ok_ || remaining() < 4) return Fail();
  value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes_[at_ + i]);
  at_ += 4;
  return true;
}

bool XdrReader::operator()(std::int32_t& value) {
  std::uint32_t raw = 0;
  if (!(*this)(raw)) return false;
  value = static_cast<std::int32_t>(raw);
  return true;
}

bool XdrReader::operator()(bool& value) {
  std::uint32_t raw = 0;
  if (!(*this)(raw)) return false;
  if (raw > 1) return Fail();
  value = raw == 1;
  return true;
}

bool XdrReader::operator()(std::string& data, std::size_t max) {
  std::uint32_t length = 0;
  if (!(*this)(length)) return false;
  std::size_t padded = (static_cast<std::size_t>(length) + 3) / 4 * 4;
  if (length > max || padded > remaining()) return Fail();
  data.assign(bytes_.substr(at_, length));
  at_ += padded;
  return true;
}

bool XdrReader::Skip(std::size_t bytes) {
  if (!ok_ || bytes > remaining()) return Fail();
  at_ += bytes;
  return true;
}

std::string MarkRecord(std::string_view message) {
  std::string record;
  record.reserve(message.size() + 4);
  PutU32(record, kLastFragment | static_cast<std::uint32_t>(message.size()));
  record += message;
  return record;
}

void RecordReader::Reset() {
  input_.clear();
  record_.clear();
  failed_ = false;
}

RecordReader::State RecordReader::Next(std::string* record) {
  if (failed_) return State::kTooLarge;
  while (input_.size() >= 4) {
    XdrReader header(input_);
    std::uint32_t mark = 0;
    header(mark);
    std::size_t length = mark & ~kLastFragment;
    if (length > max_record_ - record_.size()) {
      failed_ = true;
      input_.clear();
      record_.clear();
      return State::kTooLarge;
    }
    if (input_.size() - 4 < length) return State::kIncomplete;
    record_.append(input_, 4, length);
    input_.erase(0, 4 + length);
    if ((mark & kLastFragment) != 0) {
      *record = std::move(record_);
      record_.clear();
      return State::kComplete;
    }
  }
  return State::kIncomplete;
}

std::string EncodeCall(const CallHeader& header, std::string_view args) {
  XdrWriter writer;
  for (std::uint32_t word : {header.xid, kCall, kRpcVersion, header.program, header.version,
                             header.procedure, 0u, 0u, 0u, 0u}) {
    writer(word);
  }
  std::string message = writer.Take();
  message += args;
  return message;
}

bool DecodeCall(std::string_view message, CallHeader* header, std::string_view* args) {
  XdrReader reader(message);
  std::uint32_t type = 0;
  std::uint32_t version = 0;
  if (!reader(header->xid) || !reader(type) || type != kCall || !reader(version) ||
      version != kRpcVersion || !reader(header->program) || !reader(header->version) ||
      !reader(header->procedure) || !SkipAuth(reader) || !SkipAuth(reader)) {
    return false;
  }
  *args = reader.rest();
  return true;
}

std::string EncodeReply(std::uint32_t xid, AcceptStat stat, std::string_view results,
                        std::uint32_t low, std::uint32_t high) {
  XdrWriter writer;
  for (std::uint32_t word : {xid, kReply, kAccepted, 0u, 0u, static_cast<std::uint32_t>(stat)})
    writer(word);
  if (stat == AcceptStat::kProgramMismatch) {
    writer(low);
    writer(high);
  }
  std::string message = writer.Take();
  if (stat == AcceptStat::kSuccess) message += results;
  return message;
}

std::string EncodeVersionDenied(std::uint32_t xid) {
  XdrWriter writer;
  for (std::uint32_t word : {xid, kReply, kDeniedReply, 0u, kRpcVersion, kRpcVersion}) writer(word);
  return writer.Take();
}

std::error_code DecodeReply(std::string_view message, std::uint32_t* xid,
                            std::string_view* results) {
  XdrReader reader(message);
  std::uint32_t type = 0;
  std::uint32_t status = 0;
  if (!reader(*xid) || !reader(type) || type != kReply || !reader(status))
    return Error::kGarbledReply;
  if (status == kDeniedReply) return Error::kDenied;
  std::uint32_t accept = 0;
  if (status != kAccepted || !SkipAuth(reader) || !reader(accept)) return Error::kGarbledReply;
  switch (static_cast<AcceptStat>(accept)) {
    case AcceptStat::kSuccess:
      *results = reader.rest();
      return {};
    case AcceptStat::kProgramUnavailable:
      return Error::kProgramUnavailable;
    case AcceptStat::kProgramMismatch:
      return Error::kVersionMismatch;
    case AcceptStat::kProcedureUnavailable:
      return Error::kProcedureUnavailable;
    case AcceptStat::kGarbageArgs:
      return Error::kGarbageArguments;
    case AcceptStat::kSystemError:
      return Error::kSystemError;
  }
  return Error::kGarbledReply;
}

// ---------------------------------------------------------------------------
// The client

namespace {

using asio::ip::tcp;

}  // namespace

struct Client::Impl {
  Impl(std::uint32_t program_number, std::uint32_t version_number)
      : program(program_number), version(version_number), socket(io), records(kMaxRecord) {}

  // Runs an operation started by `start(handler)` until it completes or the
  // deadline passes; then it is cancelled and the outcome is a time-out.
  template <typename Start>
  std::error_code Run(Deadline deadline, Start start, std::size_t* bytes) {
    std::error_code result;
    std::size_t count = 0;
    auto cancel = [this] {
      std::error_code ignored;
      socket.cancel(ignored);
    };
    if (!RunUntil(io, deadline, start, cancel, &result, &count) &&
        (!result || result == asio::error::operation_aborted))
      result = std::make_error_code(std::errc::timed_out);
    if (bytes != nullptr) *bytes = count;
    return result;
  }

  std::error_code Send(std::string_view data, Deadline deadline) {
    return Run(
        deadline,
        [&](auto handler) {
          asio::async_write(socket, asio::buffer(data.data(), data.size()), handler);
        },
        nullptr);
  }

  // The next record from the gateway.
  std::error_code Receive(Deadline deadline, std::string* record) {
    while (true) {
      switch (records.Next(record)) {
        case RecordReader::State::kComplete:
          return {};
        case RecordReader::State::kTooLarge:
          return Error::kRecordTooLarge;
        case RecordReader::State::kIncomplete:
          break;
      }
      std::size_t received = 0;
      std::error_code error = Run(
          deadline, [&](auto handler) { socket.async_read_some(asio::buffer(chunk), handler); },
          &received);
      records.Feed(std::string_view(chunk.data(), received));
      if (error && received == 0) return error;
    }
  }

  std::uint32_t program;
  std::uint32_t version;
  std::uint32_t next_xid = 0;
  asio::io_context io;
  tcp::socket socket;
  RecordReader records;
  std::array<char, 4096> chunk{};
};

Client::Client(std::uint32_t program, std::uint32_t version)
    : impl_(std::make_unique<Impl>(program, version)) {
  // Transaction ids differ from one connection of the process to the next.
  impl_->next_xid = static_cast<std::uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() & 0x7FFFFFFF);
}

Client::~Client() {
  Close();
}

bool Client::is_open() const {
  return impl_->socket.is_open();
}

void Client::Close() {
  std::error_code ignored;
  impl_->socket.close(ignored);
  impl_->records.Reset();
}

std::error_code Client::Connect(const std::string& host, int port, Deadline deadline) {
  Close();
  std::vector<tcp::endpoint> endpoints;
  if (std::error_code error = ResolveTcp(host, port, deadline, &endpoints)) return error;
  std::error_code error = impl_->Run(
      deadline,
      [&](auto handler) {
        asio::async_connect(impl_->socket, endpoints,
                            [handler](const std::error_code& connect_error, const tcp::endpoint&) {
                              handler(connect_error, 0);
                            });
      },
      nullptr);
  if (error) {
    Close();
    return error;
  }
  std::error_code ignored;
  impl_->socket.set_option(tcp::no_delay(true), ignored);
  return {};
}

std::error_code Client::Call(std::uint32_t procedure, std::string_view args, Deadline deadline,
                             std::string* results) {
  if (!is_open()) return asio::error::not_connected;
  CallHeader header{++impl_->next_xid, impl_->program, impl_->version, procedure};
  if (std::error_code error = impl_->Send(MarkRecord(EncodeCall(header, args)), deadline))
    return error;
  while (true) {
    std::string record;
    if (std::error_code error = impl_->Receive(deadline, &record)) return error;
    std::uint32_t xid = 0;
    std::string_view body;
    std::error_code error = DecodeReply(record, &xid, &body);
    if (error == Error::kGarbledReply) return error;
    // A reply to an earlier call that timed out is late, not wrong.
    if (xid != header.xid) continue;
    if (error) return error;
    results->assign(body);
    return {};
  }
}

std::error_code GetPort(const std::string& host, std::uint32_t program, std::uint32_t version,
                        Deadline deadline, int* result, int port) {
  Client portmapper(kPortmapProgram, kPortmapVersion);
  if (std::error_code error = portmapper.Connect(host, port, deadline)) return error;
  XdrWriter args;
  for (std::uint32_t word : {program, version, kProtocolTcp, 0u}) args(word);
  std::string results;
  if (std::error_code error = portmapper.Call(kPortmapGetPort, args.bytes(), deadline, &results))
    return error;
  XdrReader reader(results);
  std::uint32_t found = 0;
  if (!reader(found) || found > 65535) return Error::kGarbledReply;
  if (found == 0) return Error::kNotRegistered;
  *result = static_cast<int>(found);
  return {};
}

}  // namespace kc::rpc
