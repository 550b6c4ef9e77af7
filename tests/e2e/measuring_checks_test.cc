// The measuring checks run through the built program on the simulated bench,
// as a user runs them: virtual time, a scripted technician pressing the bezel
// buttons, the hands on the bench following the screen. Each script ends at
// the check's last prompt, so the run ends there (status 3) and the result
// screen is the last screen printed.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_run.h"

namespace kc {
namespace {

const std::vector<std::string> kAllModels = {"2430",  "2430A", "2431L", "2432",
                                             "2432A", "2439L", "2440"};

// Menu page 1: b2 CCD; page 2 (b4): b1 CCD LIN, b2 VERT ACC, b3 CMRR; page 3
// (b4 again): b1 BANDWIDTH, b3 CALIBRATOR. Then the check's own waits.
constexpr const char* kCalibrator = "b4,b4,b3,b1,b1";          // PG 506, calibrator
constexpr const char* kVertAcc = "b4,b2,b2,b1";                // no self-cal, ready
constexpr const char* kVertAccSelfCal = "b4,b2,b1,b1";         // self-cal, ready
constexpr const char* kBandwidth = "b4,b4,b1,b1,b1,b1,b1,b1";  // 2 per channel + move
constexpr const char* kCcdCte = "b2,b1,b1";                    // ready, move to CH2
constexpr const char* kCcdLin = "b4,b1,b1";                    // ready
constexpr const char* kCmrr = "b4,b3,b1,b3,b1,b1,b3,b1";       // continue without trimming
constexpr const char* kCmrrTrim = "b4,b3,b1,trim,b1,b1,trim,b1";

class MeasuringChecks : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ProgramPath().empty()) GTEST_SKIP() << "kalventa-checkout is not built (KC_BIN_DIR)";
  }

  static ProgramRun Check(const std::string& model, const std::string& script,
                          const std::vector<std::string>& faults = {},
                          const std::string& seed = "1") {
    std::vector<std::string> args = {
        "--virtual-time", "--bus", "sim:" + model, "--operator", script, "--seed", seed};
    for (const std::string& fault : faults) args.insert(args.end(), {"--fault", fault});
    ProgramRun run = RunProgram(args);
    // The check got to its last prompt, where the script runs out.
    EXPECT_EQ(run.code, 3) << run.Screen();
    EXPECT_EQ(run.Line(1), "  PRESS ANY BEZEL BUTTON FOR MAIN MENU") << run.Screen();
    return run;
  }

  // "PASS" or "fail" at the end of a screen line.
  static std::string Verdict(const ProgramRun& run, int line) {
    std::string text = run.Line(line);
    if (text.ends_with("PASS")) return "PASS";
    if (text.ends_with("fail")) return "fail";
    return "none in \"" + text + "\"";
  }

  static double NumberAfter(const std::string& text, const std::string& label) {
    std::size_t at = text.find(label);
    return at == std::string::npos ? -1 : std::stod(text.substr(at + label.size()));
  }
};

TEST_F(MeasuringChecks, CalibratorOnEveryModel) {
  for (const std::string& model : kAllModels) {
    SCOPED_TRACE(model);
    ProgramRun healthy = Check(model, kCalibrator);
    EXPECT_EQ(Verdict(healthy, 10), "PASS") << healthy.Screen();
    double millivolts = NumberAfter(healthy.Line(8), "CALCULATED:");
    EXPECT_GE(millivolts, 398.0);
    EXPECT_LE(millivolts, 402.0);

    ProgramRun high = Check(model, kCalibrator, {"calibrator=2"});
    EXPECT_EQ(Verdict(high, 10), "fail") << high.Screen();
    EXPECT_GT(NumberAfter(high.Line(8), "CALCULATED:"), 404.0);
    ProgramRun low = Check(model, kCalibrator, {"calibrator=-2"});
    EXPECT_EQ(Verdict(low, 10), "fail") << low.Screen();
    EXPECT_LT(NumberAfter(low.Line(8), "CALCULATED:"), 396.0);
  }
  // The PG 506 reference takes CH1's gain error out of the result.
  ProgramRun gain = Check("2432", kCalibrator, {"ch1-gain=5"});
  EXPECT_EQ(Verdict(gain, 10), "PASS") << gain.Screen();
}

TEST_F(MeasuringChecks, VerticalAccuracyOnEveryModel) {
  for (const std::string& model : kAllModels) {
    SCOPED_TRACE(model);
    ProgramRun healthy = Check(model, kVertAcc);
    EXPECT_EQ(Verdict(healthy, 16), "PASS") << healthy.Screen();
    ProgramRun faulty = Check(model, kVertAcc, {"ch2-gain=4"});
    EXPECT_EQ(Verdict(faulty, 16), "fail") << faulty.Screen();
    // Eleven rows on lines 14 to 4: CH1's cell passes, CH2's fails.
    for (int line = 14; line >= 4; --line) {
      const std::string row = faulty.Line(line);
      std::size_t pass = row.find("% PASS");
      std::size_t fail = row.find("% fail");
      EXPECT_TRUE(pass != std::string::npos && fail != std::string::npos && pass < fail) << row;
      EXPECT_EQ(healthy.Line(line).find("fail"), std::string::npos) << healthy.Line(line);
    }
  }
  // One setting only: CH1 at 50 mV/div (line 10).
  ProgramRun one = Check("2440", kVertAcc, {"ch1-gain@0.05=5"});
  EXPECT_EQ(Verdict(one, 16), "fail");
  for (int line = 14; line >= 4; --line) {
    std::string row = one.Line(line);
    EXPECT_EQ(row.find("fail") != std::string::npos, line == 10) << row;
  }
  // With the self-calibration first the drift is trimmed and all passes.
  ProgramRun selfcal = Check("2430", kVertAccSelfCal);
  EXPECT_EQ(Verdict(selfcal, 16), "PASS") << selfcal.Screen();
}

TEST_F(MeasuringChecks, BandwidthOnBothGeneratorsAndTheSlowSettlingModel) {
  // 2430: SG 503, 150 MHz, waits twice; 2430A: once; the others SG 504 at
  // 300 MHz.
  for (const std::string model : {"2430", "2430A", "2432", "2440"}) {
    SCOPED_TRACE(model);
    ProgramRun healthy = Check(model, kBandwidth);
    EXPECT_EQ(Verdict(healthy, 12), "PASS") << healthy.Screen();
    EXPECT_EQ(Verdict(healthy, 8), "PASS");
    EXPECT_EQ(Verdict(healthy, 7), "PASS");
    ProgramRun faulty = Check(model, kBandwidth, {"ch1-bandwidth=110"});
    EXPECT_EQ(Verdict(faulty, 12), "fail") << faulty.Screen();
    EXPECT_EQ(Verdict(faulty, 8), "fail");
    EXPECT_EQ(Verdict(faulty, 7), "PASS");
  }
}

TEST_F(MeasuringChecks, ChargeTransferAndPositionEffect) {
  // 2430 and 2430A: charge transfer efficiency (4 %); the others position
  // effect (8 %).
  for (const std::string model : {"2430", "2430A", "2431L", "2440"}) {
    SCOPED_TRACE(model);
    ProgramRun healthy = Check(model, kCcdCte);
    EXPECT_EQ(Verdict(healthy, 11), "PASS") << healthy.Screen();
    EXPECT_EQ(Verdict(healthy, 9), "PASS");
    EXPECT_EQ(Verdict(healthy, 8), "PASS");
    ProgramRun faulty = Check(model, kCcdCte, {"ccd-cte=15"});
    EXPECT_EQ(Verdict(faulty, 11), "fail") << faulty.Screen();
    EXPECT_EQ(Verdict(faulty, 9), "fail");
    EXPECT_EQ(Verdict(faulty, 8), "fail");
  }
}

TEST_F(MeasuringChecks, CcdLinearityOnTheThreePositionRows) {
  // Positions -4.8/2.8 with 94 % (2430), -4/2 with 94 % (2432), -4.8/2.8
  // with 95 % (2440).
  for (const std::string model : {"2430", "2432", "2440"}) {
    SCOPED_TRACE(model);
    ProgramRun healthy = Check(model, kCcdLin);
    EXPECT_EQ(Verdict(healthy, 12), "PASS") << healthy.Screen();
    ProgramRun faulty = Check(model, kCcdLin, {"ch2-ccd-linearity=80"});
    EXPECT_EQ(Verdict(faulty, 12), "fail") << faulty.Screen();
    // CH1 lower and upper on lines 10 and 9 pass, CH2's on 8 and 7 fail.
    EXPECT_EQ(Verdict(faulty, 10), "PASS");
    EXPECT_EQ(Verdict(faulty, 9), "PASS");
    EXPECT_EQ(Verdict(faulty, 8), "fail");
    EXPECT_EQ(Verdict(faulty, 7), "fail");
  }
}

TEST_F(MeasuringChecks, CommonModeRejectionWithAndWithoutTrimming) {
  for (const std::string model : {"2430", "2432A", "2440"}) {
    SCOPED_TRACE(model);
    ProgramRun healthy = Check(model, kCmrr);
    EXPECT_EQ(Verdict(healthy, 11), "PASS") << healthy.Screen();
    EXPECT_EQ(Verdict(healthy, 9), "PASS");
    EXPECT_EQ(Verdict(healthy, 8), "PASS");
    ProgramRun faulty = Check(model, kCmrr, {"hf-mismatch=15"});
    EXPECT_EQ(Verdict(faulty, 11), "fail") << faulty.Screen();
    // Trimming the gains at 50 kHz cannot help a mismatch at 50 MHz.
    ProgramRun trimmed = Check(model, kCmrrTrim, {"hf-mismatch=15"});
    EXPECT_EQ(Verdict(trimmed, 11), "fail") << trimmed.Screen();
  }
  // A CH1 gain 12 % high leaves too much of the sum at 50 MHz unless the
  // VAR controls are trimmed for the straightest trace first.
  ProgramRun untrimmed = Check("2440", kCmrr, {"ch1-gain=12"});
  EXPECT_EQ(Verdict(untrimmed, 11), "fail") << untrimmed.Screen();
  ProgramRun trimmed = Check("2440", kCmrrTrim, {"ch1-gain=12"});
  EXPECT_EQ(Verdict(trimmed, 11), "PASS") << trimmed.Screen();
  EXPECT_LT(NumberAfter(trimmed.Line(9), "NORMAL:"), 20);
  EXPECT_LT(NumberAfter(trimmed.Line(8), "INVERTED:"), 20);
}

TEST_F(MeasuringChecks, TheReadmesWholeCheckoutPassesEveryCheckAndQuits) {
  std::vector<std::string> args = ReadmeCommand("whole-checkout");
  ASSERT_FALSE(args.empty()) << "no whole-checkout command in README.md";
  args.push_back("--show-screen");
  ProgramRun run = RunProgram(args);
  EXPECT_EQ(run.code, 0) << run.err << run.Screen();
  // Each check's title ("*** TIMING CHECK ***"), the trigger check's twice
  // (A and B).
  std::set<std::string> titles;
  // A result heading is one word (its parts joined by a rule) and the verdict.
  std::set<std::string> passed;
  const std::regex title(R"(\[screen 09\] +\*\*\* (.+) \*\*\*)");
  const std::regex heading(R"(\[screen \d\d\] +(\S+) +(PASS|fail))");
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_match(line, match, title) && match[1].str().find("CHECK") != std::string::npos &&
        match[1] != "KALVENTA CHECKOUT")
      titles.insert(match[1]);
    if (std::regex_match(line, match, heading)) {
      EXPECT_EQ(match[2], "PASS") << line;
      passed.insert(match[1]);
    }
    EXPECT_FALSE(line.ends_with(" fail")) << line;
  }
  EXPECT_EQ(titles.size(), 12u);
  // Position effect, CCD linearity, vertical accuracy, common mode
  // rejection, bandwidth and calibrator.
  EXPECT_EQ(passed.size(), 6u);
}

TEST_F(MeasuringChecks, TheSeedMakesTheReadingsReproducible) {
  // Noisy enough that the tenths of a percent differ from seed to seed.
  const std::vector<std::string> noisy = {"noise=4"};
  ProgramRun first = Check("2440", kVertAcc, noisy, "7");
  ProgramRun again = Check("2440", kVertAcc, noisy, "7");
  ProgramRun other = Check("2440", kVertAcc, noisy, "8");
  EXPECT_EQ(first.out, again.out);
  EXPECT_NE(first.out, other.out);
}

TEST_F(MeasuringChecks, BadFaultsAndSeedsAreUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"--fault", "ch3-gain=1"},
       "bad fault \"ch3-gain=1\": unknown name \"ch3-gain\" (faults: ch1-gain, ch2-gain, "
       "calibrator, ch1-bandwidth, ch2-bandwidth, ccd-cte, ch1-ccd-linearity, "
       "ch2-ccd-linearity, hf-mismatch, noise)"},
      {{"--fault", "ch1-gain=lots"}, "the value must be a number"},
      {{"--fault", "hf-mismatch=200"}, "must lie from 0 to 100"},
      {{"--seed", "-3"}, "bad --seed \"-3\""},
      {{"--bus", "gpib:0", "--fault", "ch1-gain=1"}, "need the simulated bus"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--virtual-time");
    ProgramRun run = RunProgram(args);
    EXPECT_EQ(run.code, 2) << c.message;
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  ProgramRun help = RunProgram({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* name :
       {"ch1-gain", "ch2-gain", "calibrator", "ch1-bandwidth", "ch2-bandwidth", "ccd-cte",
        "ch1-ccd-linearity", "ch2-ccd-linearity", "hf-mismatch", "--seed"}) {
    EXPECT_NE(help.out.find(name), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace kc
