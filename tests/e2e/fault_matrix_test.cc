// Every named fault fails its own check and no other: the six measuring
// checks run whole in the test bench (program, simulated bus, bench, hands,
// scripted technician) on a healthy instrument and with each fault, on a
// model of each rating and CCD variant; and which result lines a few faults
// fail, with and without the technician's trimming or self-calibration.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sim/screen_text.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

// From the main menu to the check's last prompt. Page 1: b2 CCD; page 2 (b4):
// b1 CCD LIN, b2 VERT ACC, b3 CMRR; page 3 (b4 again): b1 BANDWIDTH,
// b3 CALIBRATOR.
struct CheckRun {
  const char* name;
  const char* script;
};
const CheckRun kCalibrator = {"calibrator", "b4,b4,b3,b1,b1"};
const CheckRun kVertAcc = {"vertical accuracy", "b4,b2,b2,b1"};
const CheckRun kBandwidth = {"bandwidth", "b4,b4,b1,b1,b1,b1,b1,b1"};
const CheckRun kCcdCte = {"ccd cte", "b2,b1,b1"};
const CheckRun kCcdLin = {"ccd linearity", "b4,b1,b1"};
const CheckRun kCmrr = {"cmrr", "b4,b3,b1,b3,b1,b1,b3,b1"};
const std::vector<CheckRun> kChecks = {kCalibrator, kVertAcc, kBandwidth, kCcdCte, kCcdLin, kCmrr};

struct FaultCase {
  const char* fault;  // empty: healthy
  const char* fails;  // the check it fails; empty: none
};

const std::vector<FaultCase> kFaults = {
    {"", ""},
    {"ch1-gain=4", "vertical accuracy"},
    {"ch2-gain=-4", "vertical accuracy"},
    {"calibrator=2", "calibrator"},
    {"calibrator=-2", "calibrator"},
    {"ch1-bandwidth=110", "bandwidth"},
    {"ch2-bandwidth=110", "bandwidth"},
    {"ccd-cte=15", "ccd cte"},
    {"ch1-ccd-linearity=80", "ccd linearity"},
    {"ch2-ccd-linearity=80", "ccd linearity"},
    {"hf-mismatch=15", "cmrr"},
};

// Runs one check to its result screen; the lines that show a failure, and
// the screen in `shown` for the failure messages.
std::set<int> FailedLines(const std::string& model, const std::string& script,
                          const std::string& fault, std::string* shown) {
  CheckoutBench bench({.model = model,
                       .operator_script = script,
                       .faults = fault.empty() ? std::vector<std::string>{} : std::vector{fault},
                       .seed = 11});
  const int code = bench.Run();
  std::set<int> failed;
  shown->clear();
  for (int line = SimScope::kScreenLines; line >= 1; --line) {
    std::string text = RenderScreenText(bench.scope().screen()[static_cast<std::size_t>(line - 1)]);
    if (text.find("fail") != std::string::npos) failed.insert(line);
    if (!text.empty()) *shown += std::to_string(line) + ": " + text + "\n";
  }
  // The script ends at the last prompt of the check.
  EXPECT_EQ(code, kExitOperatorDone) << *shown;
  EXPECT_EQ(RenderScreenText(bench.scope().screen()[0]), "  PRESS ANY BEZEL BUTTON FOR MAIN MENU")
      << *shown;
  EXPECT_EQ(bench.scope().errors(), std::vector<std::string>{});
  return failed;
}

class FaultMatrix : public ::testing::TestWithParam<std::string> {};

TEST_P(FaultMatrix, EachFaultFailsExactlyItsCheck) {
  const std::string model = GetParam();
  for (const FaultCase& fault : kFaults) {
    for (const CheckRun& check : kChecks) {
      std::string screen;
      const bool failed = !FailedLines(model, check.script, fault.fault, &screen).empty();
      EXPECT_EQ(failed, check.name == std::string(fault.fails))
          << model << ", " << (*fault.fault ? fault.fault : "healthy") << ", " << check.name
          << ":\n"
          << screen;
    }
  }
}

// 150 MHz with the charge transfer check, and 300 MHz with the position
// effect check and the 95 % linearity limit.
INSTANTIATE_TEST_SUITE_P(Models, FaultMatrix,
                         ::testing::Values("2430", "2430A", "2431L", "2432", "2432A", "2439L",
                                           "2440"),
                         [](const ::testing::TestParamInfo<std::string>& model) {
                           return "m" + model.param;
                         });

TEST(FaultLines, EachFaultFailsItsOwnLines) {
  struct Case {
    const char* model;
    std::string script;
    const char* fault;
    std::set<int> failed;
  };
  const std::string trim_cmrr = "b4,b3,b1,trim,b1,b1,trim,b1";
  const Case cases[] = {
      // The PG 506 reference takes CH1's gain error out of the calibrator.
      {"2432", kCalibrator.script, "ch1-gain=5", {}},
      // CH2's cells of all eleven settings (lines 14 to 4) and the heading.
      {"2440", kVertAcc.script, "ch2-gain=4", {16, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4}},
      // One setting only: CH1 at 50 mV/div.
      {"2440", kVertAcc.script, "ch1-gain@0.05=5", {16, 10}},
      // With the self-calibration first the drift is trimmed.
      {"2430", "b4,b2,b1,b1", "", {}},
      {"2430", kBandwidth.script, "ch1-bandwidth=110", {12, 8}},
      {"2440", kCcdCte.script, "ccd-cte=15", {11, 9, 8}},
      {"2432", kCcdLin.script, "ch2-ccd-linearity=80", {12, 8, 7}},
      // Trimming the gains at 50 kHz cannot help a mismatch at 50 MHz, but a
      // CH1 gain 12 % high is trimmed for the straightest trace.
      {"2432A", trim_cmrr, "hf-mismatch=15", {11, 9, 8}},
      {"2440", kCmrr.script, "ch1-gain=12", {11, 9, 8}},
      {"2440", trim_cmrr, "ch1-gain=12", {}},
  };
  for (const Case& c : cases) {
    std::string screen;
    EXPECT_EQ(FailedLines(c.model, c.script, c.fault, &screen), c.failed)
        << c.model << ", " << c.script << ", " << c.fault << ":\n"
        << screen;
  }
}

}  // namespace
}  // namespace kc
