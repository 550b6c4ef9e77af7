#include "link/adapter_stream.h"

#include <gtest/gtest.h>

#include <deque>

namespace kc {
namespace {

// A stream whose input arrives in the pieces a test gives; nothing else ever
// arrives, so a read past them times out at once.
class MemoryStream : public AdapterStream {
 public:
  std::error_code Open(Deadline) override {
    open_ = true;
    return {};
  }
  void Close() override { open_ = false; }
  bool is_open() const override { return open_; }
  std::string Describe() const override { return "memory"; }

  std::deque<std::string> pieces;
  std::string written;
  bool closed_by_peer = false;

 protected:
  std::error_code WriteSome(std::string_view data, Deadline, std::size_t* sent) override {
    *sent = data.size();
    written.append(data.substr(0, *sent));
    return {};
  }
  std::error_code ReadSome(Deadline, std::string* out) override {
    if (pieces.empty())
      return closed_by_peer ? std::make_error_code(std::errc::connection_reset) : TimedOut();
    out->append(pieces.front());
    pieces.pop_front();
    return {};
  }

 private:
  bool open_ = true;
};

AdapterStream::Deadline Soon() {
  return std::chrono::steady_clock::now();
}

TEST(AdapterStreamTest, LinesEndInLfOrCrLfAndMayArriveInPieces) {
  MemoryStream stream;
  stream.pieces = {"AR488 GPIB contr", "oller\r", "\n0\n", "1\r\n\r\n", "partial"};
  std::string line;
  ASSERT_FALSE(stream.ReadLine(Soon(), &line));
  EXPECT_EQ(line, "AR488 GPIB controller");
  ASSERT_FALSE(stream.ReadLine(Soon(), &line));
  EXPECT_EQ(line, "0");
  ASSERT_FALSE(stream.ReadLine(Soon(), &line));
  EXPECT_EQ(line, "1");
  ASSERT_FALSE(stream.ReadLine(Soon(), &line));
  EXPECT_EQ(line, "");
  // A line without its end is not handed out; it stays for later.
  EXPECT_TRUE(AdapterStream::IsTimeout(stream.ReadLine(Soon(), &line)));
  EXPECT_EQ(stream.pending(), "partial");
}

TEST(AdapterStreamTest, DrainDropsBufferedAndWaitingInput) {
  MemoryStream stream;
  stream.pieces = {"stale\nhalf", "more stale"};
  std::string line;
  ASSERT_FALSE(stream.ReadLine(Soon(), &line));
  EXPECT_FALSE(stream.Drain());
  EXPECT_EQ(stream.pending(), "");
  EXPECT_TRUE(stream.pieces.empty());
  // A connection that failed shows in the drain.
  stream.closed_by_peer = true;
  EXPECT_EQ(stream.Drain(), std::errc::connection_reset);
}

TEST(AdapterStreamTest, EndlessInputWithoutAnEndIsCutOff) {
  MemoryStream stream;
  std::string flood(AdapterStream::kMaxBuffered / 4, 'x');
  for (int i = 0; i < 6; ++i) stream.pieces.push_back(flood);
  std::string reply;
  EXPECT_EQ(stream.ReadUntil('\x04', Soon(), &reply), std::errc::message_size);
  EXPECT_EQ(stream.pending(), "");
}

// The TCP stream's time-outs and a peer's close: the served-adapter suite.

}  // namespace
}  // namespace kc
