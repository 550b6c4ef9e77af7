#include "record/run_recorder.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <exception>
#include <system_error>

#include "record/atomic_file.h"
#include "record/check_catalogue.h"
#include "record/record_folder.h"
#include "record/record_json.h"

namespace kc {

namespace {

// The checks keep their readings as Single: 400.3 arrives as
// 400.29998779296875. A value that is exactly a Single is filed as the
// shortest decimal that reads back as that Single, as the screen shows it.
double AsShown(double v) {
  if (!std::isfinite(v) || std::fabs(v) > FLT_MAX) return v;
  const auto single = static_cast<float>(v);
  if (static_cast<double>(single) != v) return v;
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, single);
  double shown = v;
  std::from_chars(text, written.ptr, shown);
  return shown;
}

std::optional<double> AsShown(std::optional<double> v) {
  return v ? std::optional<double>(AsShown(*v)) : std::nullopt;
}

}  // namespace

std::function<Timestamp()> TimesFromClock(Timestamp start, std::function<double()> elapsed) {
  const double origin = elapsed();
  return [start, elapsed = std::move(elapsed), origin] {
    const double passed = elapsed() - origin;
    // A clock that runs backwards or beyond any checkout keeps the start.
    const bool usable = passed >= 0 && passed < 1e9;
    return Timestamp{start.unix_seconds + (usable ? static_cast<std::int64_t>(passed) : 0),
                     start.utc_offset_minutes};
  };
}

RunRecorder::RunRecorder(std::filesystem::path folder, std::string program_version, TimeSource now,
                         WarningSink warn)
    : folder_(std::move(folder)), now_(std::move(now)), warn_(std::move(warn)) {
  run_.program_version = std::move(program_version);
}

RunRecorder::~RunRecorder() {
  try {
    EndRun(CheckEnding::kProgramClosed);
  } catch (const std::exception&) {
    // Nothing is left to tell at this point; the last filed record stands.
  }
}

void RunRecorder::BeginRun(const std::string& bus, int address, const std::string& id_reply) {
  started_ = true;
  run_.start = now_();
  run_.bus = bus;
  run_.address = address;
  run_.id_reply = id_reply;
  const IdFields fields = SplitIdReply(id_reply);
  run_.model = fields.model;
  run_.firmware = fields.firmware;
}

void RunRecorder::SetSerial(const std::string& serial) {
  run_.serial = serial;
}
void RunRecorder::SetTechnician(const std::string& technician) {
  run_.technician = technician;
}

CheckRecord* RunRecorder::OpenCheck() {
  return started_ && check_open_ ? &run_.checks.back() : nullptr;
}

void RunRecorder::BeginCheck(std::string_view name) {
  if (!started_) return;
  if (check_open_) File();
  CheckRecord check;
  check.name = std::string(name);
  check.start = now_();
  if (const auto entry = FindCheckEntry(name, ModelIndexOf(run_.model))) {
    check.sources = entry->sources;
    if (!entry->applicable) check.eye_verdict = EyeVerdict::kNotApplicable;
  }
  run_.checks.push_back(std::move(check));
  check_open_ = true;
}

void RunRecorder::AddReading(std::string_view item, double value, std::string_view unit,
                             std::optional<double> low, std::optional<double> high,
                             Verdict verdict) {
  if (CheckRecord* check = OpenCheck()) {
    check->readings.push_back({std::string(item), AsShown(value), std::string(unit), AsShown(low),
                               AsShown(high), verdict});
  }
}

void RunRecorder::AddReading(std::string_view item, double value, Verdict verdict) {
  CheckRecord* check = OpenCheck();
  if (check == nullptr) return;
  if (const auto entry = FindCheckEntry(check->name, ModelIndexOf(run_.model))) {
    for (const ItemEntry& s : entry->items) {
      if (s.item == item) return AddReading(item, value, s.unit, s.low, s.high, verdict);
    }
  }
  AddReading(item, value, "", std::nullopt, std::nullopt, verdict);
}

void RunRecorder::SetCheckVerdict(Verdict verdict) {
  if (CheckRecord* check = OpenCheck()) check->verdict = verdict;
}

void RunRecorder::SetEyeVerdict(EyeVerdict verdict) {
  if (CheckRecord* check = OpenCheck()) check->eye_verdict = verdict;
}

void RunRecorder::ButtonPressed(std::string_view question, int button) {
  if (CheckRecord* check = OpenCheck()) check->presses.push_back({std::string(question), button});
}

void RunRecorder::EndCheck(CheckEnding ending) {
  CheckRecord* check = OpenCheck();
  if (check == nullptr) return;
  check->end = now_();
  check->ending = ending;
  check_open_ = false;
  File();
}

void RunRecorder::EndRun(CheckEnding ending) {
  if (OpenCheck() != nullptr) EndCheck(ending);
}

void RunRecorder::File() {
  if (!enabled() || !started_) return;
  if (file_.empty()) {
    const std::string name = RecordFileName(run_);
    const std::string stem = name.substr(0, name.size() - 5);
    file_ = folder_ / name;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(file_, ec) && n < 1000; ++n) {
      file_ = folder_ / (stem + "-" + std::to_string(n) + ".json");
    }
  }
  std::string error;
  saved_ = WriteFileAtomically(file_, RecordToJson(run_), error);
  if (saved_) {
    if (filed_) filed_(file_);
    return;
  }
  if (warned_) return;
  warned_ = true;
  if (warn_) warn_("checkout record not saved: " + error + " (the checkout goes on)");
}

}  // namespace kc
