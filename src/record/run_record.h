// The checkout record: what one run of the program did at one instrument,
// kept as data so that it can be filed, printed and compared with earlier
// runs. One run is one file (record_json.h); RunRecorder fills it while the
// checkout runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kc {

// A moment as the technician's clock showed it: seconds since the epoch and
// the local offset from UTC at that moment.
struct Timestamp {
  std::int64_t unix_seconds = 0;
  int utc_offset_minutes = 0;

  friend bool operator==(const Timestamp&, const Timestamp&) = default;
};

// "2026-12-06T17:20:05+01:00" (ISO 8601, local time with its offset).
std::string FormatTimestamp(const Timestamp& t);
// The date part alone: "2026-12-06".
std::string FormatDate(const Timestamp& t);
// Reads the form FormatTimestamp writes; "Z" stands for +00:00. Nothing else
// (no fractions, no week dates).
std::optional<Timestamp> ParseTimestamp(std::string_view text);
// The wall clock now, with the local offset. The only place that reads it.
Timestamp NowLocal();

// A verdict as the instrument screen showed it.
enum class Verdict { kPass, kFail };
// The technician's verdict on a check judged by eye.
enum class EyeVerdict { kNotJudged, kPass, kFail, kNotApplicable };
// How a check ended.
enum class CheckEnding {
  kRunning,        // not ended yet (the program was killed while it ran)
  kCompleted,      // ran to its last prompt
  kLeft,           // MENU OFF twice
  kGpibError,      // Cancel in a GPIB error box ended the program
  kProgramClosed,  // the window was closed while it ran
};

std::string_view VerdictName(Verdict v);          // "pass", "fail"
std::string_view EyeVerdictName(EyeVerdict v);    // "not judged", "pass", ...
std::string_view CheckEndingName(CheckEnding e);  // "completed", "left", ...
std::optional<Verdict> ParseVerdict(std::string_view text);
std::optional<EyeVerdict> ParseEyeVerdict(std::string_view text);
std::optional<CheckEnding> ParseCheckEnding(std::string_view text);

// One verdict the screen showed: the item, the reading, its limits (either may
// be open) and the verdict exactly as judged there. A reading that is not a
// number (a division by zero on the instrument's side) is NaN.
struct Reading {
  std::string item;
  double value = 0;
  std::string unit;
  std::optional<double> low;
  std::optional<double> high;
  Verdict verdict = Verdict::kPass;
};

// A button the technician pressed at a question on the screen: 1 to 5 from the
// left, 0 for MENU OFF.
struct ButtonPress {
  std::string question;
  int button = 0;
};

struct CheckRecord {
  std::string name;  // as on the menu: "calibrator", "vert-acc", ...
  Timestamp start;
  std::optional<Timestamp> end;
  CheckEnding ending = CheckEnding::kRunning;
  std::vector<std::string> sources;  // the bench sources it asked for
  std::vector<Reading> readings;
  // The check's own headline verdict when its screen shows one.
  std::optional<Verdict> verdict;
  EyeVerdict eye_verdict = EyeVerdict::kNotJudged;
  std::vector<ButtonPress> presses;
};

struct RunRecord {
  Timestamp start;
  std::string program_version;
  std::string bus;
  int address = 0;
  std::string id_reply;
  std::string model;
  std::string firmware;
  std::string serial;
  std::string technician;
  std::vector<CheckRecord> checks;
};

// The model and firmware fields of an "ID?" reply such as
// "ID AB/2440,V81.1" or "AB/2430A,V2.3,...": the first field after its "/"
// (header word dropped) and the second field. Missing parts are empty.
struct IdFields {
  std::string model;
  std::string firmware;
};
IdFields SplitIdReply(std::string_view reply);

// The model's place in the model table, 1 ("2430") to 7 ("2440"); 0 when it
// is not there.
int ModelIndexOf(std::string_view model);

// What a check showed in the end: fail when its headline, a reading or the
// technician's eye said fail; pass otherwise (nothing to judge counts as pass).
Verdict CheckVerdict(const CheckRecord& check);

// The run's overall verdict. Of a check run more than once only the last run
// counts (the one after any adjustment).
enum class Overall { kPass, kFail, kIncomplete, kNoChecks };
Overall OverallVerdict(const RunRecord& run);
std::string_view OverallName(Overall o);  // "PASS", "FAIL", "INCOMPLETE", "NO CHECKS"

}  // namespace kc
