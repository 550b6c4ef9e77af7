// The built program run as a user runs it: standard input from /dev/null (so
// headless), virtual time, a scripted technician.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/check_harness.h"
#include "support/program_run.h"

namespace kc {
namespace {

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ProgramPath().empty()) GTEST_SKIP() << "kalventa-checkout is not built (KC_BIN_DIR)";
  }

  // The data of every write to the instrument in the trace, in order, each
  // with its time stamp.
  std::vector<std::pair<double, std::string>> Writes() {
    return TraceWrites(harness::ReadFile(trace_));
  }

  harness::ScratchDir dir_;
  const std::string trace_ = dir_.Path("trace");
};

TEST_F(EndToEndTest, QuitFromTheMenuShowsTheClosingNoticeAndRestsTheChannels) {
  ProgramRun run = RunProgram({"--virtual-time", "--bus", "sim:2430A@7", "--sim-device", "3=silent",
                               "--operator", "b5", "--trace", trace_});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind("[caption] Kalventa Checkout, v2.0", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\n[intro] Kalventa Checkout, v2.0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n[hint] Use the Bezel Buttons of the 2430A on GPIB address 7\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.Line(9), "         *** CLOSING PROGRAM ***") << run.Screen();

  const auto writes = Writes();
  ASSERT_GE(writes.size(), 5u);
  const std::size_t n = writes.size();
  EXPECT_EQ(writes[0].second, "ID?");
  EXPECT_EQ(writes[n - 4].second, "EVE?");
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(writes[n - 3 + i].second, kClosing[i]);
  // Two seconds between the notice and the channels, on the virtual clock.
  EXPECT_NEAR(writes[n - 2].first - writes[n - 3].first, 2.0, 0.01);
}

TEST_F(EndToEndTest, AScriptThatRunsOutEndsWithStatusThreeOnTheScreenItLeft) {
  ProgramRun run = RunProgram({"--virtual-time", "--operator", "b4"});
  EXPECT_EQ(run.code, 3);
  EXPECT_NE(run.err.find("ran out"), std::string::npos) << run.err;
  EXPECT_EQ(run.Line(2), "  CCD     VERT    CMRR    PAGE    PAGE") << run.Screen();
  EXPECT_EQ(run.Line(1), "  LIN     ACC             THREE   ONE") << run.Screen();
}

TEST_F(EndToEndTest, BadCommandLinesAndAMissingBoardLibraryTouchNoBus) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--bus", "sim@31"}, {"--operator", "b9"}}) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--virtual-time", "--trace", trace_});
    ProgramRun run = RunProgram(all);
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("kalventa-checkout: ", 0), 0u) << run.err;
    struct stat info {};
    EXPECT_NE(stat(trace_.c_str(), &info), 0) << "a trace was begun for " << args[0];
  }
  ProgramRun unwritable = RunProgram({"--virtual-time", "--trace", dir_.Path("missing/trace")});
  EXPECT_EQ(unwritable.code, 2);
  EXPECT_NE(unwritable.err.find("cannot write the trace file"), std::string::npos);

  setenv("KC_LIBGPIB", dir_.Path("no-libgpib.so").c_str(), 1);
  ProgramRun run = RunProgram({"--bus", "gpib:3", "--virtual-time"});
  unsetenv("KC_LIBGPIB");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err.rfind("kalventa-checkout: cannot use linux-gpib board 3: the linux-gpib "
                          "library could not be loaded (",
                          0),
            0u)
      << run.err;
  EXPECT_NE(run.err.find("no-libgpib.so"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace kc
