// Every named fault fails its own check and no other: the six measuring
// checks run whole in the test bench (program, simulated bus, bench, hands,
// scripted technician) on a healthy instrument and with each fault, on a
// model of each rating and CCD variant.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "sim/screen_text.h"
#include "support/checkout_bench.h"

namespace kc {
namespace {

struct CheckRun {
  const char* name;
  const char* script;  // from the main menu to the check's last prompt
};

const std::vector<CheckRun> kChecks = {
    {"calibrator", "b4,b4,b3,b1,b1"},
    {"vertical accuracy", "b4,b2,b2,b1"},
    {"bandwidth", "b4,b4,b1,b1,b1,b1,b1,b1"},
    {"ccd cte", "b2,b1,b1"},
    {"ccd linearity", "b4,b1,b1"},
    {"cmrr", "b4,b3,b1,b3,b1,b1,b3,b1"},
};

struct FaultCase {
  const char* fault;  // empty: healthy
  const char* fails;  // the check it fails; empty: none
};

const std::vector<FaultCase> kFaults = {
    {"", ""},
    {"ch1-gain=4", "vertical accuracy"},
    {"ch2-gain=-4", "vertical accuracy"},
    {"calibrator=2", "calibrator"},
    {"ch1-bandwidth=110", "bandwidth"},
    {"ch2-bandwidth=110", "bandwidth"},
    {"ccd-cte=15", "ccd cte"},
    {"ch1-ccd-linearity=80", "ccd linearity"},
    {"ch2-ccd-linearity=80", "ccd linearity"},
    {"hf-mismatch=15", "cmrr"},
};

// Runs one check to its result screen; true when it shows a failure.
bool Fails(const std::string& model, const CheckRun& check, const std::string& fault,
           std::string* screen) {
  BenchOptions options;
  options.model = model;
  options.operator_script = check.script;
  if (!fault.empty()) options.faults = {fault};
  options.seed = 11;
  CheckoutBench bench(options);
  int code = bench.Run();
  bool failed = false;
  screen->clear();
  for (int line = SimScope::kScreenLines; line >= 1; --line) {
    std::string text = RenderScreenText(bench.scope().screen()[static_cast<std::size_t>(line - 1)]);
    if (text.find("fail") != std::string::npos) failed = true;
    if (!text.empty()) *screen += std::to_string(line) + ": " + text + "\n";
  }
  // The script ends at the last prompt of the check.
  EXPECT_EQ(code, kExitOperatorDone) << *screen;
  EXPECT_EQ(RenderScreenText(bench.scope().screen()[0]), "  PRESS ANY BEZEL BUTTON FOR MAIN MENU")
      << *screen;
  EXPECT_EQ(bench.scope().errors(), std::vector<std::string>{});
  return failed;
}

class FaultMatrix : public ::testing::TestWithParam<std::string> {};

TEST_P(FaultMatrix, EachFaultFailsExactlyItsCheck) {
  const std::string model = GetParam();
  for (const FaultCase& fault : kFaults) {
    for (const CheckRun& check : kChecks) {
      std::string screen;
      bool failed = Fails(model, check, fault.fault, &screen);
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
                                           "2440"));

}  // namespace
}  // namespace kc
