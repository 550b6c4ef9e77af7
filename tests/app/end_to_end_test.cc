// The built program run as a user runs it: standard input from /dev/null (so
// headless), virtual time, a scripted technician.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_run.h"

namespace kc {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("KC_BIN_DIR");
    if (dir == nullptr) GTEST_SKIP() << "KC_BIN_DIR is not set";
    binary_ = std::string(dir) + "/kalventa-checkout";
    if (access(binary_.c_str(), X_OK) != 0) GTEST_SKIP() << binary_ << " is not built";
    char dir_template[] = "/tmp/kc_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    work_ = dir_template;
  }
  void TearDown() override {
    if (!work_.empty()) {
      for (const char* name : {"out", "err", "trace"}) unlink((work_ + "/" + name).c_str());
      rmdir(work_.c_str());
    }
  }

  // A run that hangs is killed (its code stays -1).
  ProgramRun Run(const std::vector<std::string>& args) { return RunProgram(args); }

  std::string TracePath() const { return work_ + "/trace"; }

  std::string binary_;
  std::string work_;
};

// The data of every write to the instrument, in order, with the time stamp.
struct TracedWrite {
  double time;
  std::string data;
};

std::vector<TracedWrite> Writes(const std::string& trace) {
  std::vector<TracedWrite> writes;
  for (const std::string& line : Lines(trace)) {
    std::size_t call = line.find(" ibwrt(");
    std::size_t data = line.find(" data \"");
    if (call == std::string::npos || data == std::string::npos) continue;
    std::string text = line.substr(data + 7);
    text.pop_back();  // the closing quote
    writes.push_back({std::stod(line.substr(0, call)), text});
  }
  return writes;
}

TEST_F(EndToEndTest, QuitFromTheMenuClosesAndRestsTheChannels) {
  ProgramRun run = Run({"--virtual-time", "--operator", "b5", "--trace", TracePath()});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_GE(lines.size(), 3u) << run.out;
  EXPECT_EQ(lines[0].rfind("[caption] Kalventa Checkout, v2.0", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("[intro] Kalventa Checkout, v2.0", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "[hint] Use the Bezel Buttons of the 2440 on GPIB address 1");
  // The instrument's last screen: the closing notice.
  EXPECT_NE(run.out.find("\n[screen 09]          *** CLOSING PROGRAM ***\n"), std::string::npos)
      << run.out;

  std::vector<TracedWrite> writes = Writes(ReadFile(TracePath()));
  ASSERT_GE(writes.size(), 4u);
  std::size_t n = writes.size();
  EXPECT_EQ(writes[n - 4].data, "EVE?");
  EXPECT_EQ(writes[n - 3].data, "MESS CLR,9:\"         *** CLOSING PROGRAM ***\"");
  EXPECT_EQ(writes[n - 2].data, "INIT BOTH;CH1 COU:GND,POS:+.5");
  EXPECT_EQ(writes[n - 1].data, "VMO CH2;CH2 COU:GND,POS:-.5");
  // Two seconds between the notice and the channels, on the virtual clock.
  EXPECT_NEAR(writes[n - 2].time - writes[n - 3].time, 2.0, 0.01);
  // The menu began by taking the instrument over.
  bool took_over = false;
  for (const TracedWrite& write : writes) took_over |= write.data == "INIT GPI;PATH OFF;USE;BELL";
  EXPECT_TRUE(took_over);
}

TEST_F(EndToEndTest, LeaveInTheMenuEndsTooOnAnotherModelAndAddress) {
  ProgramRun run = Run({"--virtual-time", "--bus", "sim:2430A@7", "--sim-device", "3=silent",
                        "--operator", "leave"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("\n[hint] Use the Bezel Buttons of the 2430A on GPIB address 7\n"),
            std::string::npos)
      << run.out;
}

TEST_F(EndToEndTest, ScriptRunningOutEndsWithStatusThree) {
  ProgramRun run = Run({"--virtual-time", "--operator", "b4"});
  EXPECT_EQ(run.code, 3);
  EXPECT_NE(run.err.find("ran out"), std::string::npos) << run.err;
  // Page two of the menu was on the screen when the script ran out.
  EXPECT_NE(run.out.find("\n[screen 02]   CCD     VERT    CMRR    PAGE    PAGE\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\n[screen 01]   LIN     ACC             THREE   ONE\n"),
            std::string::npos)
      << run.out;

  // Without a script nobody presses a button at all.
  ProgramRun nobody = Run({"--virtual-time"});
  EXPECT_EQ(nobody.code, 3);
  EXPECT_NE(nobody.out.find("[hint] Use the Bezel Buttons"), std::string::npos);
}

TEST_F(EndToEndTest, AnInstrumentThatIsNotOfTheFamilyIsReportedAndEndsTheRun) {
  ProgramRun run = Run({"--virtual-time", "--bus", "sim:3000", "--operator", "b5"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find("[box] Expected Id-response from device not found (critical, OK): ID "
                         "Query: ID? / Expected Response: 243 / Received Response(s): / "),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(" / Correct the problem and restart. Program will end. -> OK\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("[hint]"), std::string::npos);
}

TEST_F(EndToEndTest, BadCommandLinesTouchNoBus) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"--bus", "gpib0"}, "bad bus \"gpib0\": unknown bus"},
      {{"--bus", "sim@31"}, "bad bus \"sim@31\": the address \"31\""},
      {{"--bus", "prologix://127.0.0.1:1", "--operator", "b1"}, "--operator needs the simulated"},
      {{"--sim-device", "1=silent"}, "GPIB address 1 is used twice"},
      {{"--operator", "b9"}, "bad --operator script"},
      {{"--answers", "maybe"}, "bad answer \"maybe\""},
      {{"--no-such-option"}, "no-such-option"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--virtual-time", "--trace", TracePath()});
    ProgramRun run = Run(args);
    EXPECT_EQ(run.code, 2) << c.message;
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_EQ(run.err.rfind("kalventa-checkout: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    struct stat info {};
    EXPECT_NE(stat(TracePath().c_str(), &info), 0) << "a trace was begun for " << c.message;
  }

  ProgramRun unwritable = Run({"--virtual-time", "--trace", work_ + "/missing/trace"});
  EXPECT_EQ(unwritable.code, 2);
  EXPECT_EQ(unwritable.out, "");
  EXPECT_NE(unwritable.err.find("cannot write the trace file"), std::string::npos);
}

TEST_F(EndToEndTest, ALinuxGpibBoardWithoutItsLibraryEndsWithAMessage) {
  setenv("KC_LIBGPIB", (work_ + "/no-libgpib.so").c_str(), 1);
  ProgramRun run = Run({"--bus", "gpib:3", "--virtual-time"});
  unsetenv("KC_LIBGPIB");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err.rfind("kalventa-checkout: cannot use linux-gpib board 3: the linux-gpib "
                          "library could not be loaded (",
                          0),
            0u)
      << run.err;
  EXPECT_NE(run.err.find("no-libgpib.so"), std::string::npos) << run.err;
}

TEST_F(EndToEndTest, HelpAndVersion) {
  ProgramRun version = Run({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "kalventa-checkout 2.0\n");
  ProgramRun help = Run({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--operator"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}

}  // namespace
}  // namespace kc
