// The message lines a real instrument is sent, as the window mirrors them.
#include "link/message_mirror.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/fake_driver.h"
#include "support/test_platform.h"

namespace kc {
namespace {

class MirrorPlatform : public TestPlatform {
 public:
  void MirrorMessageLine(int line, const std::string& text) override {
    mirrored.push_back({line, text});
  }
  std::vector<MessageChange> mirrored;
};

using Changes = std::vector<MessageChange>;

TEST(MessageCommandsTest, LinesClearsOtherCommandsAndWhatCannotBeRead) {
  const std::pair<const char*, Changes> cases[] = {
      {"MESS 9:\"    *** CALIBRATOR SIGNAL CHECK ***\"",
       {{9, "    *** CALIBRATOR SIGNAL CHECK ***"}}},
      {"MESS CLR,16:\"CONNECT PG 506, 500\\;V STANDARD AMPLITUDE\"",
       {{0, ""}, {16, "CONNECT PG 506, 500\\;V STANDARD AMPLITUDE"}}},
      // Joined with other commands; a ";" inside the quotes separates nothing;
      // the header in any accepted spelling.
      {"VMO CH1:OFF;CURS FUN:OFF;MESS CLR;message 10:\"A;B\";BELL;MESSAGE 1:\"x\"",
       {{0, ""}, {10, "A;B"}, {1, "x"}}},
      {"MESS 8:\"  \";MESS 8:\"\"", {{8, "  "}, {8, ""}}},
      {"mes 3:\"short header\"", {{3, "short header"}}},
      // What cannot be read is passed over.
      {"MESS 20:\"x\",3:\"y\"", {{3, "y"}}},
  };
  for (const auto& [data, changes] : cases) EXPECT_EQ(ParseMessageCommands(data), changes) << data;
  for (const char* data :
       {"", "MESS", "MESS 0:\"x\"", "MESS 17:\"x\"", "MESS 9:x", "MESS 9:\"unclosed", "MESS ?",
        "MESS?", "ME 9:\"x\"", "MESSAGES 9:\"x\"", "MESS 1:2:\"x\"", "MESS 001:\"x\"", "\x01\xff",
        "MENU OFF", "MESS -1:\"x\""}) {
    EXPECT_TRUE(ParseMessageCommands(data).empty()) << data;
  }
}

TEST(MessageMirrorTest, MirrorsChangedLinesOfWritesThatWentThrough) {
  fakes::FakeDriver inner;
  MirrorPlatform platform;
  MessageMirror mirror(inner, platform);
  std::int32_t status = 0, error = 0, count = 0, count_long = 0;
  ASSERT_EQ(mirror.RegisterGpibGlobalsForThread(&status, &error, &count, &count_long), 0);

  auto write = [&mirror](const std::string& text) {
    return mirror.ibwrt(1, text.data(), static_cast<long>(text.size()));
  };
  write("MESS 2:\"  ATTEN\";MESS 1:\"  COMP\"");
  write("MESS 2:\"  ATTEN\"");  // unchanged: nothing to tell
  EXPECT_EQ(platform.mirrored, (Changes{{2, "  ATTEN"}, {1, "  COMP"}}));

  // A write the bus refused changed nothing on the instrument.
  inner.Script("ibwrt", fakes::Error(gpib::ENOL));
  EXPECT_NE(write("MESS 5:\"lost\"") & gpib::ERR, 0);
  EXPECT_EQ(status & gpib::ERR, gpib::ERR);
  EXPECT_EQ(error, gpib::ENOL);
  EXPECT_EQ(platform.mirrored.size(), 2u);

  // Clearing tells only the lines that had text.
  platform.mirrored.clear();
  write("MESS CLR,9:\"         *** CLOSING PROGRAM ***\"");
  EXPECT_EQ(platform.mirrored,
            (Changes{{1, ""}, {2, ""}, {9, "         *** CLOSING PROGRAM ***"}}));
  // Everything reaches the instrument unchanged.
  EXPECT_EQ(inner.written.back(), "MESS CLR,9:\"         *** CLOSING PROGRAM ***\"");
}

}  // namespace
}  // namespace kc
