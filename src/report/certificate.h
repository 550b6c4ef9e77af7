// What one certificate shows: a run, the earlier runs of the same instrument
// for its trend charts, and the texts shared by every format (readings,
// limits, endings, the bench sources).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "record/record_folder.h"
#include "record/run_record.h"

namespace kc {

struct Certificate {
  RunRecord run;
  std::filesystem::path file;
  std::vector<RunRecord> history;  // earlier runs of the same instrument, oldest first
};

// The runs in `folder` of the same model and serial number that started before
// `run`, oldest first. A run without a serial number has no history.
std::vector<RunRecord> HistoryOf(const RunRecord& run, const FolderContents& folder);

// One measured item across runs, for a trend chart.
struct TrendPoint {
  Timestamp when;
  double value = 0;
  std::optional<double> low;
  std::optional<double> high;
  Verdict verdict = Verdict::kPass;
};
struct Trend {
  std::string check;
  std::string item;
  std::string unit;
  std::vector<TrendPoint> points;  // oldest first; the certificate's own run last
};
// The items of the certificate's run that earlier runs measured too; per run
// the last reading of the item counts (a check run twice keeps its last).
std::vector<Trend> TrendsOf(const Certificate& certificate);

// Texts shared by the formats. `unicode` picks the typographic signs for the
// PDF (≥, ≤, –) over the plain ones for a terminal.
std::string ReadingText(double value, const std::string& unit);  // "400.3 mV", "0.785"
std::string NumberText(double value, const std::string& unit);   // "400.3", "0.785"
std::string LimitsText(const std::optional<double>& low, const std::optional<double>& high,
                       const std::string& unit, bool unicode);
std::string EndingText(CheckEnding ending);  // "completed", "left with MENU OFF", ...
std::string ClockText(const Timestamp& t);   // "17:20:05"
// The sources the run's checks asked for, in the order PG 506, SG 503,
// SG 504, time-mark generator (others after them).
std::vector<std::string> BenchSources(const RunRecord& run);
std::string Joined(const std::vector<std::string>& parts, const std::string& separator);
// Whether the check is one the technician judges by eye (or was judged so).
bool JudgedByEye(const RunRecord& run, const CheckRecord& check);
// "unknown" for an empty field.
std::string OrUnknown(const std::string& text);

}  // namespace kc
