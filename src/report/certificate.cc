#include "report/certificate.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "record/check_catalogue.h"

namespace kc {

namespace {

// A plain ratio is shown to three decimals as on a bandwidth line; percent,
// millivolts and the like to one, as the screen shows them.
int Decimals(const std::string& unit) {
  return unit.empty() ? 3 : 1;
}

const Reading* LastReading(const RunRecord& run, const std::string& check,
                           const std::string& item) {
  const Reading* found = nullptr;
  for (const CheckRecord& c : run.checks) {
    if (c.name != check) continue;
    for (const Reading& r : c.readings) {
      if (r.item == item) found = &r;
    }
  }
  return found;
}

}  // namespace

std::vector<RunRecord> HistoryOf(const RunRecord& run, const FolderContents& folder) {
  std::vector<RunRecord> history;
  if (run.serial.empty()) return history;
  for (const LoadedRecord& r : folder.records) {
    if (r.run.serial == run.serial && r.run.model == run.model &&
        r.run.start.unix_seconds < run.start.unix_seconds) {
      history.push_back(r.run);
    }
  }
  return history;
}

std::vector<Trend> TrendsOf(const Certificate& certificate) {
  std::vector<Trend> trends;
  for (const CheckRecord& check : certificate.run.checks) {
    for (const Reading& reading : check.readings) {
      const bool seen = std::any_of(trends.begin(), trends.end(), [&](const Trend& t) {
        return t.check == check.name && t.item == reading.item;
      });
      if (seen) continue;
      Trend trend{check.name, reading.item, reading.unit, {}};
      for (const RunRecord& earlier : certificate.history) {
        if (const Reading* r = LastReading(earlier, check.name, reading.item)) {
          trend.points.push_back({earlier.start, r->value, r->low, r->high, r->verdict});
        }
      }
      if (trend.points.empty()) continue;
      const Reading* last = LastReading(certificate.run, check.name, reading.item);
      trend.points.push_back(
          {certificate.run.start, last->value, last->low, last->high, last->verdict});
      trends.push_back(std::move(trend));
    }
  }
  return trends;
}

std::string NumberText(double value, const std::string& unit) {
  if (!std::isfinite(value)) return "no number";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", Decimals(unit), value);
  std::string s = text;
  // A value that rounds to zero shows no sign.
  if (s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string ReadingText(double value, const std::string& unit) {
  const std::string number = NumberText(value, unit);
  return unit.empty() || !std::isfinite(value) ? number : number + " " + unit;
}

std::string LimitsText(const std::optional<double>& low, const std::optional<double>& high,
                       const std::string& unit, bool unicode) {
  if (low && high) {
    return NumberText(*low, unit) + (unicode ? " – " : " to ") + NumberText(*high, unit);
  }
  if (low) return (unicode ? "≥ " : ">= ") + NumberText(*low, unit);
  if (high) return (unicode ? "≤ " : "<= ") + NumberText(*high, unit);
  return "none";
}

std::string EndingText(CheckEnding ending) {
  switch (ending) {
    case CheckEnding::kRunning:
      return "not ended";
    case CheckEnding::kCompleted:
      return "completed";
    case CheckEnding::kLeft:
      return "left with MENU OFF";
    case CheckEnding::kGpibError:
      return "ended by a GPIB error";
    case CheckEnding::kProgramClosed:
      return "program closed";
  }
  return "?";
}

std::string ClockText(const Timestamp& t) {
  return FormatTimestamp(t).substr(11, 8);
}

std::vector<std::string> BenchSources(const RunRecord& run) {
  static const std::array<std::string, 4> kOrder{"PG 506", "SG 503", "SG 504",
                                                 "time-mark generator"};
  std::vector<std::string> used;
  for (const CheckRecord& c : run.checks) {
    for (const std::string& s : c.sources) {
      if (std::find(used.begin(), used.end(), s) == used.end()) used.push_back(s);
    }
  }
  auto rank = [&](const std::string& s) {
    return std::find(kOrder.begin(), kOrder.end(), s) - kOrder.begin();
  };
  std::stable_sort(used.begin(), used.end(),
                   [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
  return used;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i == 0 ? "" : separator) + parts[i];
  return out;
}

bool JudgedByEye(const RunRecord& run, const CheckRecord& check) {
  if (check.eye_verdict != EyeVerdict::kNotJudged) return true;
  const auto entry = FindCheckEntry(check.name, ModelIndexOf(run.model));
  return entry ? entry->by_eye : check.readings.empty();
}

std::string OrUnknown(const std::string& text) {
  return text.empty() ? "unknown" : text;
}

}  // namespace kc
