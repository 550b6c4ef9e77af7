// What a LAN/GPIB gateway sends back, as the VXI-11 back end reads it: the
// byte stream cut into records (fed in pieces of arbitrary size), each
// record decoded as an RPC reply, and its results as each of the core
// channel's result structures. The first input byte chooses the record limit
// and the piece sizes; with its top bit set the rest is instead what a
// client sends the simulated gateway (a 2440 at address 1 behind it), whose
// replies must be well-formed.
//
// Findings: a crash or sanitizer report, an exception, a record longer than
// the limit, data that go beyond the message they came in or beyond their
// field's bound, a reader that keeps more than the limit and the last piece
// buffered, and a gateway reply that is not a whole, well-formed record.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_platform.h"
#include "link/onc_rpc.h"
#include "link/vxi11_driver.h"
#include "sim/sim_bus.h"
#include "sim/sim_scope.h"
#include "sim/vxi11_gateway.h"

namespace kc::fuzz {
namespace {

template <typename T>
void Results(std::string_view results) {
  T value;
  rpc::Decode(results, &value);
}

void Reply(std::string_view message) {
  std::uint32_t xid = 0;
  std::string_view results;
  std::error_code error = rpc::DecodeReply(message, &xid, &results);
  if (error) {
    if (error.category() != rpc::RpcCategory()) Finding("a reply error outside the RPC errors");
    return;
  }
  if (results.data() < message.data() ||
      results.data() + results.size() > message.data() + message.size())
    Finding("results outside their message");
  Results<vxi11::CreateLinkResp>(results);
  Results<vxi11::WriteResp>(results);
  Results<vxi11::ReadStbResp>(results);
  Results<vxi11::LinkOrError>(results);
  vxi11::ReadResp read;
  if (rpc::Decode(results, &read) && read.data.size() > std::min(results.size(), vxi11::kMaxData))
    Finding("read data beyond their message or their bound");
  vxi11::DocmdResp docmd;
  if (rpc::Decode(results, &docmd) && docmd.data_out.size() > results.size())
    Finding("docmd data beyond their message");
}

void Gateway(std::string_view stream, std::size_t piece) {
  FuzzPlatform platform;
  SimBus bus(platform);
  bus.Attach(1, std::make_unique<SimScope>("2440", platform.clock()));
  Vxi11Gateway gateway(bus, platform, nullptr, nullptr);
  int connection = gateway.Connect("fuzz");
  rpc::RecordReader replies(Vxi11Gateway::kMaxRecord);
  while (!stream.empty()) {
    std::string_view bytes = stream.substr(0, piece);
    stream.remove_prefix(bytes.size());
    std::string out;
    bool go_on = gateway.Receive(connection, bytes, &out);
    replies.Feed(out);
    std::string record;
    while (replies.Next(&record) == rpc::RecordReader::State::kComplete) {
      std::uint32_t xid = 0;
      std::string_view results;
      if (rpc::DecodeReply(record, &xid, &results) == rpc::Error::kGarbledReply)
        Finding("a garbled reply from the gateway");
    }
    if (replies.buffered() != 0) Finding("a reply that is not a whole record");
    if (!go_on) break;
  }
  gateway.Disconnect(connection, "the input ends");
}

}  // namespace
}  // namespace kc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kc;
  if (size < 1) return 0;
  std::size_t limit = std::size_t{64} << (data[0] & 0x0F);  // 64 bytes to 2 MiB
  std::size_t piece = 1 + ((data[0] >> 4) & 0x07) * 37;
  std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 0x80) != 0) {
    fuzz::Gateway(stream, piece);
    return 0;
  }
  rpc::RecordReader reader(limit);
  while (!stream.empty()) {
    std::string_view bytes = stream.substr(0, piece);
    stream.remove_prefix(bytes.size());
    reader.Feed(bytes);
    while (true) {
      std::string record;
      rpc::RecordReader::State state = reader.Next(&record);
      if (state == rpc::RecordReader::State::kTooLarge) return 0;
      if (state == rpc::RecordReader::State::kIncomplete) break;
      if (record.size() > limit) fuzz::Finding("a record beyond the limit");
      fuzz::Reply(record);
    }
    if (reader.buffered() > limit + 4 + piece) fuzz::Finding("more buffered than a record");
  }
  return 0;
}
