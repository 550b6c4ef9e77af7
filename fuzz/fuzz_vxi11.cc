// What a LAN/GPIB gateway sends back, as the VXI-11 back end reads it: the
// byte stream cut into records (fed in pieces of arbitrary size), each
// record decoded as an RPC reply, and its results as each of the core
// channel's result structures. The first input byte chooses the record limit
// and the piece sizes.
//
// Findings: a crash or sanitizer report, an exception, a record longer than
// the limit, data that go beyond the message they came in or beyond their
// field's bound, and a reader that keeps more than the limit and the last
// piece buffered.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_platform.h"
#include "link/onc_rpc.h"
#include "link/vxi11_driver.h"

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

}  // namespace
}  // namespace kc::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kc;
  if (size < 1) return 0;
  std::size_t limit = std::size_t{64} << (data[0] & 0x0F);  // 64 bytes to 2 MiB
  std::size_t piece = 1 + (data[0] >> 4) * 37;
  std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
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
