// What the record and report tests share: a temporary folder, files read
// and written whole, a clock that steps, and one sample run driven through the
// recorder with the file it must give, written by hand.
#pragma once

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "record/record_json.h"
#include "record/run_recorder.h"
#include "report/certificate.h"
#include "support/program_run.h"

namespace kc {

namespace fs = std::filesystem;

// A temporary folder, removed with everything in it.
struct TempDir {
  harness::ScratchDir scratch;
  fs::path path = fs::path(scratch.Path("")).parent_path();
};

using harness::ReadFile;

// A file of tests/transcripts/record, written by hand.
inline std::string ExpectedFile(const std::string& name) {
  return ReadFile(std::string(KC_SOURCE_DIR) + "/tests/transcripts/record/" + name);
}

inline void WriteFile(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

// 2026-12-06T17:20:05+01:00, five seconds later at every call.
inline RunRecorder::TimeSource SteppingClock() {
  return [t = std::int64_t{1796574005}]() mutable {
    const Timestamp now{t, 60};
    t += 5;
    return now;
  };
}

inline constexpr const char* kReady = "    PRESS ANY BEZEL BUTTON WHEN READY";

// A calibrator check, the sample skew notice of a 2440, a failed vertical
// accuracy and the calibrator again, left with MENU OFF.
inline void RecordSampleRun(RunRecorder& rec) {
  rec.BeginRun("sim:2440@1", 1, "ID AB/2440,V81.1");
  rec.SetSerial("B010101");
  rec.SetTechnician("Tech, A.");
  rec.BeginCheck("calibrator");
  rec.ButtonPressed(kReady, 1);
  rec.AddReading("calibrator amplitude", 400.3f, Verdict::kPass);  // a Single
  rec.SetCheckVerdict(Verdict::kPass);
  rec.EndCheck(CheckEnding::kCompleted);
  rec.BeginCheck("sampl-skew");
  rec.EndCheck(CheckEnding::kCompleted);
  rec.BeginCheck("vert-acc");
  rec.AddReading("CH1 5 V/div", 3.26f, "%", -3.0f, 3.0f, Verdict::kFail);
  rec.AddReading("CH2 5 V/div", -0.4, Verdict::kPass);
  rec.SetCheckVerdict(Verdict::kFail);
  rec.EndCheck(CheckEnding::kCompleted);
  rec.BeginCheck("calibrator");
  rec.ButtonPressed(kReady, 0);
  rec.EndCheck(CheckEnding::kLeft);
}

// The sample run as its file must read (tests/transcripts/record/sample-run.json
// lists its fields in order), two blanks of indent a level, one field a line.
inline std::string SampleJson() {
  return nlohmann::ordered_json::parse(ExpectedFile("sample-run.json")).dump(2) + "\n";
}

// The sample run with one earlier run of the same instrument.
inline Certificate SampleCertificate() {
  Certificate c;
  c.run = *ParseRecord(SampleJson()).record;
  RunRecord earlier = c.run;
  earlier.start = {1748788200, -330};
  earlier.checks.resize(1);
  earlier.checks[0].readings[0].value = 401.0;
  c.history.push_back(earlier);
  return c;
}

}  // namespace kc
