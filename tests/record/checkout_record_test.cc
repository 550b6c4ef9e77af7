// The checkout record the built program keeps while a technician works: the
// readings, limits and verdicts it files agree with what the instrument's
// screen showed, recording leaves the instrument traffic as it was, a folder
// that cannot take the record gives one warning, and every finished check is
// filed as it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "record/record_fixture.h"
#include "record/record_folder.h"
#include "support/program_run.h"

namespace kc {
namespace {

struct MeasuringCase {
  std::string name;  // the record's name for the check
  std::string model;
  std::string script;  // from the menu to the check's last prompt
  std::string fault;   // spoils this check
  int headline;        // the screen line of the check's own verdict
  // The limits the result screen shows ("LIMIT: 8.0%" is -8.0 to 8.0); none
  // shown for the checks whose limits differ by setting.
  bool limits_shown;
  std::optional<double> low;
  std::optional<double> high;
};

const MeasuringCase kMeasuring[] = {
    {"calibrator", "2430A", "b4,b4,b3,b1,b1", "calibrator=2", 10, true, 396.0, 404.0},
    {"vert-acc", "2440", "b4,b2,b2,b1", "ch2-gain=4", 16, false, {}, {}},
    {"bandwidth", "2432", "b4,b4,b1,b1,b1,b1,b1,b1", "ch1-bandwidth=110", 12, false, {}, {}},
    {"ccd-cte", "2430A", "b2,b1,b1", "ccd-cte=6", 11, true, -4.0, 4.0},
    {"pos-effect", "2440", "b2,b1,b1", "ccd-cte=10", 11, true, -8.0, 8.0},
    {"ccd-lin", "2440", "b4,b1,b1", "ch1-ccd-linearity=90", 12, true, 95.0, {}},
    {"cmrr", "2432", "b4,b3,b1,b3,b1,b1,b3,b1", "hf-mismatch=15", 11, true, {}, 50.0},
};

// Test lists show the check by name.
void PrintTo(const MeasuringCase& c, std::ostream* os) {
  *os << c.name;
}

std::string VerdictText(Verdict v) {
  return v == Verdict::kPass ? "PASS" : "fail";
}

// Every match of `pattern` on the screen, top line first: its groups' texts.
std::vector<std::vector<std::string>> Matches(const ProgramRun& run, const std::string& pattern) {
  const std::regex re(pattern);
  std::vector<std::vector<std::string>> found;
  for (int line = 16; line >= 1; --line) {
    const std::string text = run.Line(line);
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) {
      found.emplace_back(it->begin() + 1, it->end());
    }
  }
  return found;
}

const std::string kNumber = R"((-?[0-9]*\.?[0-9]+))";

// The single run a folder holds, read back from its file.
RunRecord OnlyRecord(const fs::path& folder) {
  const FolderContents contents = LoadRecordFolder(folder);
  EXPECT_TRUE(contents.skipped.empty()) << contents.skipped.front().reason;
  EXPECT_EQ(contents.records.size(), 1u) << contents.error;
  return contents.records.empty() ? RunRecord{} : contents.records.front().run;
}

class CheckoutRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ProgramPath().empty()) GTEST_SKIP() << "kalventa-checkout is not built (KC_BIN_DIR)";
  }
  TempDir dir_;
};

class MeasuringRecord : public CheckoutRecord,
                        public ::testing::WithParamInterface<std::tuple<MeasuringCase, bool>> {};

TEST_P(MeasuringRecord, AgreesWithTheScreen) {
  const auto& [c, faulty] = GetParam();
  std::vector<std::string> args = {"--virtual-time", "--seed",         "7",
                                   "--bus",          "sim:" + c.model, "--operator",
                                   c.script,         "--record-dir",   dir_.path.string()};
  if (faulty) args.insert(args.end(), {"--fault", c.fault});
  const ProgramRun run = RunProgram(args);
  ASSERT_EQ(run.code, 3) << run.Screen();
  ASSERT_EQ(run.Line(1), "  PRESS ANY BEZEL BUTTON FOR MAIN MENU") << run.Screen();

  const RunRecord record = OnlyRecord(dir_.path);
  ASSERT_EQ(record.checks.size(), 1u);
  const CheckRecord& check = record.checks.front();
  EXPECT_EQ(check.name, c.name);
  EXPECT_EQ(check.ending, CheckEnding::kCompleted);
  EXPECT_EQ(record.model, c.model);
  const std::string headline = run.Line(c.headline);
  ASSERT_TRUE(check.verdict.has_value());
  EXPECT_TRUE(headline.ends_with(VerdictText(*check.verdict))) << headline;
  EXPECT_EQ(*check.verdict == Verdict::kFail, faulty) << run.Screen();

  // Every "<number><unit> <verdict>" cell.
  const auto cells = Matches(run, kNumber + " *(%|mV) *(PASS|fail)");
  if (c.name == "calibrator") {
    ASSERT_EQ(check.readings.size(), 1u);
    const auto shown = Matches(run, "CALCULATED: *" + kNumber);
    ASSERT_EQ(shown.size(), 1u) << run.Screen();
    EXPECT_EQ(check.readings[0].value, std::stod(shown[0][0]));
    EXPECT_EQ(check.readings[0].verdict, *check.verdict);
  } else {
    // One reading per verdict cell, in the screen's order.
    ASSERT_EQ(check.readings.size(), cells.size()) << run.Screen();
  }
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const Reading& reading = check.readings[i];
    SCOPED_TRACE(reading.item);
    EXPECT_EQ(VerdictText(reading.verdict), cells[i][2]);
    if (c.name != "bandwidth") {
      EXPECT_EQ(reading.value, std::stod(cells[i][0]));
    }
  }
  if (c.name == "bandwidth") {
    // "CH1:   <0.708 x reference> mV <measured> mV": the ratio behind them.
    for (int ch = 1; ch <= 2; ++ch) {
      const auto amplitudes =
          Matches(run, "CH" + std::to_string(ch) + ": *" + kNumber + " *mV *" + kNumber + " *mV");
      ASSERT_EQ(amplitudes.size(), 1u) << run.Screen();
      const Reading& ratio = check.readings[static_cast<std::size_t>(ch - 1)];
      EXPECT_EQ(ratio.item, "CH" + std::to_string(ch) + " bandwidth ratio");
      EXPECT_NEAR(ratio.value, std::stod(amplitudes[0][1]) / std::stod(amplitudes[0][0]) * 0.708,
                  0.002);
      EXPECT_EQ(ratio.low, 0.708);
      EXPECT_FALSE(ratio.high.has_value());
    }
  }

  for (const Reading& reading : check.readings) {
    SCOPED_TRACE(reading.item);
    if (c.limits_shown) {
      EXPECT_EQ(reading.low, c.low);
      EXPECT_EQ(reading.high, c.high);
    }
    // Readings clear of their limits are judged by them, as on the screen.
    const bool inside = (!reading.low || reading.value >= *reading.low) &&
                        (!reading.high || reading.value <= *reading.high);
    EXPECT_EQ(inside, reading.verdict == Verdict::kPass) << reading.value;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryMeasuringCheck, MeasuringRecord,
                         ::testing::Combine(::testing::ValuesIn(kMeasuring), ::testing::Bool()),
                         [](const auto& param_info) {
                           std::string name =
                               std::get<0>(param_info.param).name +
                               (std::get<1>(param_info.param) ? "_faulty" : "_healthy");
                           std::ranges::replace(name, '-', '_');
                           return name;
                         });

// Attenuator compensation, then the calibrator: a check judged by eye and a
// measuring one, up to the calibrator's last prompt.
const std::vector<std::string> kTwoChecks = {
    "--virtual-time", "--seed", "3", "--operator", "b1,b1,b1@3,b1,b1@3,b4,b4,b3,b1,b1",
    "--answers",      "fail"};

TEST_F(CheckoutRecord, LeavesTheTrafficAsItWasAndWarnsOnceWhenItCannotBeWritten) {
  const fs::path blocked = dir_.path / "in-the-way";
  WriteFile(blocked, "a file where the record folder should be\n");
  struct Variant {
    std::vector<std::string> args;
    fs::path trace;
    ProgramRun run;
  };
  Variant variants[] = {
      {{"--no-record"}, dir_.path / "off.trace", {}},
      {{"--record-dir", (dir_.path / "records").string()}, dir_.path / "on.trace", {}},
      {{"--record-dir", blocked.string()}, dir_.path / "blocked.trace", {}}};
  for (Variant& v : variants) {
    std::vector<std::string> args = kTwoChecks;
    args.insert(args.end(), v.args.begin(), v.args.end());
    args.insert(args.end(), {"--trace", v.trace.string()});
    v.run = RunProgram(args);
    EXPECT_EQ(v.run.code, 3) << v.run.Screen();
  }
  const std::string traffic = ReadFile(variants[0].trace);
  EXPECT_NE(traffic.find("CURS?DISP:VAL"), std::string::npos);
  EXPECT_EQ(ReadFile(variants[1].trace), traffic);
  EXPECT_EQ(ReadFile(variants[2].trace), traffic);

  // Without a record nothing is asked and nothing said; the folder that is a
  // file gives one warning for the two checks filed.
  EXPECT_EQ(variants[0].run.err.find("record"), std::string::npos) << variants[0].run.err;
  EXPECT_EQ(variants[0].run.out.find("[box]"), std::string::npos);
  const std::string& warned = variants[2].run.err;
  const std::string warning = "kalventa-checkout: checkout record not saved: ";
  EXPECT_EQ(warned.rfind(warning, 0), 0u) << warned;
  EXPECT_EQ(warned.find(warning, 1), std::string::npos) << warned;
  EXPECT_NE(warned.find(blocked.string()), std::string::npos) << warned;
  EXPECT_EQ(ReadFile(blocked), "a file where the record folder should be\n");

  // The record that was written: both checks, the technician's verdict from
  // --answers, and where it went, said after each check.
  const RunRecord record = OnlyRecord(dir_.path / "records");
  ASSERT_EQ(record.checks.size(), 2u);
  const CheckRecord& atten = record.checks[0];
  EXPECT_EQ(atten.name, "atten-comp");
  EXPECT_EQ(atten.ending, CheckEnding::kCompleted);
  EXPECT_EQ(atten.eye_verdict, EyeVerdict::kFail);
  ASSERT_EQ(atten.presses.size(), 4u);
  EXPECT_EQ(atten.presses[0].question, "    PRESS ANY BEZEL BUTTON WHEN READY");
  EXPECT_EQ(atten.presses[1].question, "     PRESS ANY BEZEL BUTTON FOR CH2");
  EXPECT_EQ(atten.presses[3].question, "  PRESS ANY BEZEL BUTTON FOR MAIN MENU");
  for (const ButtonPress& press : atten.presses) EXPECT_EQ(press.button, 1);
  EXPECT_EQ(record.checks[1].name, "calibrator");
  EXPECT_EQ(record.checks[1].eye_verdict, EyeVerdict::kNotJudged);
  const std::string saved = "kalventa-checkout: checkout record saved: " +
                            (dir_.path / "records" / RecordFileName(record)).string() + "\n";
  EXPECT_NE(variants[1].run.err.find(saved + saved), std::string::npos) << variants[1].run.err;
}

}  // namespace
}  // namespace kc
