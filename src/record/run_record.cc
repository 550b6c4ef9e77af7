#include "record/run_record.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>

namespace kc {

namespace {

using std::chrono::days;
using std::chrono::seconds;
using std::chrono::sys_days;
using std::chrono::sys_seconds;

struct Civil {
  int year, month, day, hour, minute, second;
};

Civil ToCivil(const Timestamp& t) {
  const sys_seconds local{seconds{t.unix_seconds + std::int64_t{t.utc_offset_minutes} * 60}};
  const sys_days day = std::chrono::floor<days>(local);
  const std::chrono::year_month_day ymd{day};
  const std::chrono::hh_mm_ss hms{local - day};
  return {static_cast<int>(ymd.year()),
          static_cast<int>(static_cast<unsigned>(ymd.month())),
          static_cast<int>(static_cast<unsigned>(ymd.day())),
          static_cast<int>(hms.hours().count()),
          static_cast<int>(hms.minutes().count()),
          static_cast<int>(hms.seconds().count())};
}

// Reads exactly `n` digits at `pos`; -1 when they are not there.
int Digits(std::string_view text, std::size_t pos, std::size_t n) {
  if (pos + n > text.size()) return -1;
  int v = 0;
  for (std::size_t i = pos; i < pos + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    v = v * 10 + (text[i] - '0');
  }
  return v;
}

template <typename E, std::size_t N>
std::optional<E> Lookup(const std::array<std::pair<E, std::string_view>, N>& names,
                        std::string_view text) {
  for (const auto& [value, name] : names) {
    if (name == text) return value;
  }
  return std::nullopt;
}

template <typename E, std::size_t N>
std::string_view Name(const std::array<std::pair<E, std::string_view>, N>& names, E value) {
  for (const auto& [v, name] : names) {
    if (v == value) return name;
  }
  return "?";
}

constexpr std::array<std::pair<Verdict, std::string_view>, 2> kVerdicts{{
    {Verdict::kPass, "pass"},
    {Verdict::kFail, "fail"},
}};
constexpr std::array<std::pair<EyeVerdict, std::string_view>, 4> kEyeVerdicts{{
    {EyeVerdict::kNotJudged, "not judged"},
    {EyeVerdict::kPass, "pass"},
    {EyeVerdict::kFail, "fail"},
    {EyeVerdict::kNotApplicable, "not applicable"},
}};
constexpr std::array<std::pair<CheckEnding, std::string_view>, 5> kEndings{{
    {CheckEnding::kRunning, "running"},
    {CheckEnding::kCompleted, "completed"},
    {CheckEnding::kLeft, "left"},
    {CheckEnding::kGpibError, "gpib error"},
    {CheckEnding::kProgramClosed, "program closed"},
}};

}  // namespace

std::string FormatTimestamp(const Timestamp& t) {
  const Civil c = ToCivil(t);
  const int offset = t.utc_offset_minutes;
  const int magnitude = offset < 0 ? -offset : offset;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", c.year, c.month,
                c.day, c.hour, c.minute, c.second, offset < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return text;
}

std::string FormatDate(const Timestamp& t) {
  return FormatTimestamp(t).substr(0, 10);
}

std::optional<Timestamp> ParseTimestamp(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS then Z or +HH:MM / -HH:MM.
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':') {
    return std::nullopt;
  }
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2);
  const int minute = Digits(text, 14, 2);
  const int second = Digits(text, 17, 2);
  if (year < 0 || month < 1 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 60) {
    return std::nullopt;
  }
  const std::chrono::year_month_day ymd{std::chrono::year{year},
                                        std::chrono::month{static_cast<unsigned>(month)},
                                        std::chrono::day{static_cast<unsigned>(day)}};
  if (!ymd.ok()) return std::nullopt;
  int offset = 0;
  const std::string_view zone = text.substr(19);
  if (zone != "Z") {
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':') {
      return std::nullopt;
    }
    const int oh = Digits(zone, 1, 2);
    const int om = Digits(zone, 4, 2);
    if (oh < 0 || oh > 23 || om < 0 || om > 59) return std::nullopt;
    offset = (oh * 60 + om) * (zone[0] == '-' ? -1 : 1);
  }
  const std::int64_t local = std::int64_t{sys_days{ymd}.time_since_epoch().count()} * 86400 +
                             std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
  return Timestamp{local - std::int64_t{offset} * 60, offset};
}

Timestamp NowLocal() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Timestamp{static_cast<std::int64_t>(now), static_cast<int>(local.tm_gmtoff / 60)};
}

std::string_view VerdictName(Verdict v) {
  return Name(kVerdicts, v);
}
std::string_view EyeVerdictName(EyeVerdict v) {
  return Name(kEyeVerdicts, v);
}
std::string_view CheckEndingName(CheckEnding e) {
  return Name(kEndings, e);
}
std::optional<Verdict> ParseVerdict(std::string_view text) {
  return Lookup(kVerdicts, text);
}
std::optional<EyeVerdict> ParseEyeVerdict(std::string_view text) {
  return Lookup(kEyeVerdicts, text);
}
std::optional<CheckEnding> ParseCheckEnding(std::string_view text) {
  return Lookup(kEndings, text);
}

IdFields SplitIdReply(std::string_view reply) {
  // A reply with its header reads "ID AB/2440,V81.1".
  if (reply.starts_with("ID ")) reply.remove_prefix(3);
  while (!reply.empty() && reply.front() == ' ') reply.remove_prefix(1);
  const std::size_t comma = reply.find(',');
  std::string_view first = reply.substr(0, comma);
  const std::size_t slash = first.find('/');
  if (slash != std::string_view::npos) first.remove_prefix(slash + 1);
  IdFields fields{std::string(first), {}};
  if (comma != std::string_view::npos) {
    std::string_view rest = reply.substr(comma + 1);
    fields.firmware = std::string(rest.substr(0, rest.find(',')));
  }
  while (!fields.firmware.empty() &&
         (fields.firmware.back() == '\n' || fields.firmware.back() == '\r')) {
    fields.firmware.pop_back();
  }
  return fields;
}

int ModelIndexOf(std::string_view model) {
  static constexpr std::array<std::string_view, 7> kModels{"2430",  "2430A", "2431L", "2432",
                                                           "2432A", "2439L", "2440"};
  for (std::size_t i = 0; i < kModels.size(); ++i) {
    if (kModels[i] == model) return static_cast<int>(i) + 1;
  }
  return 0;
}

Verdict CheckVerdict(const CheckRecord& check) {
  bool failed = check.verdict == Verdict::kFail || check.eye_verdict == EyeVerdict::kFail;
  for (const Reading& r : check.readings) failed = failed || r.verdict == Verdict::kFail;
  return failed ? Verdict::kFail : Verdict::kPass;
}

Overall OverallVerdict(const RunRecord& run) {
  std::map<std::string, const CheckRecord*> last;
  for (const CheckRecord& check : run.checks) last[check.name] = &check;
  if (last.empty()) return Overall::kNoChecks;
  bool incomplete = false;
  for (const auto& [name, check] : last) {
    if (CheckVerdict(*check) == Verdict::kFail) return Overall::kFail;
    incomplete = incomplete || check->ending != CheckEnding::kCompleted;
  }
  return incomplete ? Overall::kIncomplete : Overall::kPass;
}

std::string_view OverallName(Overall o) {
  switch (o) {
    case Overall::kPass:
      return "PASS";
    case Overall::kFail:
      return "FAIL";
    case Overall::kIncomplete:
      return "INCOMPLETE";
    case Overall::kNoChecks:
      return "NO CHECKS";
  }
  return "?";
}

}  // namespace kc
