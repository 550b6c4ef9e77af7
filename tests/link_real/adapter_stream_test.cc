#include "link/adapter_stream.h"

#include <gtest/gtest.h>

#include "link_real/scripted_adapter.h"

namespace kc {
namespace {

using testing::ScriptedAdapter;

AdapterStream::Deadline Soon() {
  return std::chrono::steady_clock::now();
}

TEST(AdapterStreamTest, LinesEndInLfOrCrLfAndMayArriveInPieces) {
  ScriptedAdapter stream(
      {"<< AR488 GPIB contr", "<< oller\\r", "<< \\n0\\n", "<< 1\\r\\n\\r\\n", "<< partial"});
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
  ScriptedAdapter stream({"<< stale\\nhalf", "<< more stale"});
  std::string line;
  ASSERT_FALSE(stream.ReadLine(Soon(), &line));
  EXPECT_FALSE(stream.Drain());
  EXPECT_EQ(stream.pending(), "");
  EXPECT_TRUE(AdapterStream::IsTimeout(stream.ReadLine(Soon(), &line)));
  // A connection that failed shows in the drain.
  ScriptedAdapter closed({"<< stale", "drop"});
  std::error_code error = closed.Drain();
  EXPECT_TRUE(error && !AdapterStream::IsTimeout(error)) << error.message();
}

TEST(AdapterStreamTest, EndlessInputWithoutAnEndIsCutOff) {
  ScriptedAdapter stream(
      std::vector<std::string>(6, "<< " + std::string(AdapterStream::kMaxBuffered / 4, 'x')));
  std::string reply;
  EXPECT_EQ(stream.ReadUntil('\x04', Soon(), &reply), std::errc::message_size);
  EXPECT_EQ(stream.pending(), "");
}

// The TCP stream's time-outs and a peer's close: the served-adapter suite.

}  // namespace
}  // namespace kc
