#include "record/record_json.h"

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace kc {

namespace {

using json = nlohmann::ordered_json;

// A field that is missing or of the wrong kind; the message names it.
struct FieldError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

json TimeJson(const Timestamp& t) {
  return FormatTimestamp(t);
}

json TextOrNull(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

json NumberOrNull(std::optional<double> v) {
  if (!v || !std::isfinite(*v)) return nullptr;
  return *v;
}

const json& Field(const json& object, const char* name, const std::string& where) {
  const auto it = object.find(name);
  if (it == object.end()) throw FieldError(where + " has no field \"" + name + "\"");
  return *it;
}

std::string Text(const json& object, const char* name, const std::string& where,
                 bool may_be_null = false) {
  const json& v = Field(object, name, where);
  if (may_be_null && v.is_null()) return {};
  if (!v.is_string()) throw FieldError(where + ": \"" + name + "\" is not a text");
  return v.get<std::string>();
}

std::optional<double> Number(const json& object, const char* name, const std::string& where) {
  const auto it = object.find(name);
  if (it == object.end() || it->is_null()) return std::nullopt;
  if (!it->is_number()) throw FieldError(where + ": \"" + name + "\" is not a number");
  return it->get<double>();
}

Timestamp Time(const json& object, const char* name, const std::string& where) {
  const std::string text = Text(object, name, where);
  const auto t = ParseTimestamp(text);
  if (!t) throw FieldError(where + ": \"" + name + "\" is not a date and time: " + text);
  return *t;
}

template <typename E>
E Choice(const json& object, const char* name, const std::string& where,
         std::optional<E> (*parse)(std::string_view)) {
  const std::string text = Text(object, name, where);
  const auto v = parse(text);
  if (!v) throw FieldError(where + ": \"" + name + "\" has an unknown value: " + text);
  return *v;
}

const json& Array(const json& object, const char* name, const std::string& where) {
  const json& v = Field(object, name, where);
  if (!v.is_array()) throw FieldError(where + ": \"" + name + "\" is not a list");
  return v;
}

CheckRecord CheckFromJson(const json& j, const std::string& where) {
  if (!j.is_object()) throw FieldError(where + " is not an object");
  CheckRecord c;
  c.name = Text(j, "name", where);
  c.start = Time(j, "start", where);
  if (!Field(j, "end", where).is_null()) c.end = Time(j, "end", where);
  c.ending = Choice(j, "ending", where, ParseCheckEnding);
  for (const json& s : Array(j, "sources", where)) {
    if (!s.is_string()) throw FieldError(where + ": a source is not a text");
    c.sources.push_back(s.get<std::string>());
  }
  if (!Field(j, "verdict", where).is_null()) c.verdict = Choice(j, "verdict", where, ParseVerdict);
  c.eye_verdict = Choice(j, "eye_verdict", where, ParseEyeVerdict);
  const json& readings = Array(j, "readings", where);
  for (std::size_t i = 0; i < readings.size(); ++i) {
    const std::string at = where + " reading " + std::to_string(i + 1);
    const json& r = readings[i];
    if (!r.is_object()) throw FieldError(at + " is not an object");
    Reading reading;
    reading.item = Text(r, "item", at);
    reading.value = Number(r, "value", at).value_or(std::nan(""));
    reading.unit = Text(r, "unit", at);
    reading.low = Number(r, "low", at);
    reading.high = Number(r, "high", at);
    reading.verdict = Choice(r, "verdict", at, ParseVerdict);
    c.readings.push_back(std::move(reading));
  }
  const json& presses = Array(j, "presses", where);
  for (std::size_t i = 0; i < presses.size(); ++i) {
    const std::string at = where + " press " + std::to_string(i + 1);
    const json& p = presses[i];
    if (!p.is_object()) throw FieldError(at + " is not an object");
    const json& button = Field(p, "button", at);
    if (!button.is_number_integer() || button.get<std::int64_t>() < 0 ||
        button.get<std::int64_t>() > 5) {
      throw FieldError(at + ": \"button\" is not 0 to 5");
    }
    c.presses.push_back({Text(p, "question", at), static_cast<int>(button.get<std::int64_t>())});
  }
  return c;
}

}  // namespace

std::string RecordToJson(const RunRecord& run) {
  json checks = json::array();
  for (const CheckRecord& c : run.checks) {
    json readings = json::array();
    for (const Reading& r : c.readings) {
      readings.push_back({{"item", r.item},
                          {"value", NumberOrNull(r.value)},
                          {"unit", r.unit},
                          {"low", NumberOrNull(r.low)},
                          {"high", NumberOrNull(r.high)},
                          {"verdict", VerdictName(r.verdict)}});
    }
    json presses = json::array();
    for (const ButtonPress& p : c.presses) {
      presses.push_back({{"question", p.question}, {"button", p.button}});
    }
    checks.push_back({{"name", c.name},
                      {"start", TimeJson(c.start)},
                      {"end", c.end ? TimeJson(*c.end) : json(nullptr)},
                      {"ending", CheckEndingName(c.ending)},
                      {"sources", c.sources},
                      {"verdict", c.verdict ? json(VerdictName(*c.verdict)) : json(nullptr)},
                      {"eye_verdict", EyeVerdictName(c.eye_verdict)},
                      {"readings", std::move(readings)},
                      {"presses", std::move(presses)}});
  }
  const json doc = {{"schema", kRecordSchema},
                    {"start", TimeJson(run.start)},
                    {"program_version", run.program_version},
                    {"bus", run.bus},
                    {"address", run.address},
                    {"id_reply", run.id_reply},
                    {"model", run.model},
                    {"firmware", run.firmware},
                    {"serial", TextOrNull(run.serial)},
                    {"technician", TextOrNull(run.technician)},
                    {"checks", std::move(checks)}};
  // Replies from a garbled bus may hold bytes that are not UTF-8: replace
  // them rather than fail the record.
  return doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

ParsedRecord ParseRecord(std::string_view text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error& e) {
    const bool cut = e.byte >= text.size();
    return {std::nullopt, std::string(cut ? "truncated JSON" : "not valid JSON") + " (at byte " +
                              std::to_string(e.byte) + ")"};
  }
  if (!doc.is_object()) return {std::nullopt, "not a checkout record (no JSON object)"};
  const auto schema = doc.find("schema");
  if (schema == doc.end()) return {std::nullopt, "not a checkout record (no \"schema\" field)"};
  if (!schema->is_number_integer() || schema->get<std::int64_t>() != kRecordSchema) {
    return {std::nullopt, "unknown schema " + schema->dump() + " (this program reads schema " +
                              std::to_string(kRecordSchema) + ")"};
  }
  try {
    RunRecord run;
    const std::string where = "the record";
    run.start = Time(doc, "start", where);
    run.program_version = Text(doc, "program_version", where);
    run.bus = Text(doc, "bus", where);
    const json& address = Field(doc, "address", where);
    if (!address.is_number_integer() || address.get<std::int64_t>() < 0 ||
        address.get<std::int64_t>() > 30) {
      throw FieldError("the record: \"address\" is not a GPIB address");
    }
    run.address = static_cast<int>(address.get<std::int64_t>());
    run.id_reply = Text(doc, "id_reply", where);
    run.model = Text(doc, "model", where);
    run.firmware = Text(doc, "firmware", where);
    run.serial = Text(doc, "serial", where, true);
    run.technician = Text(doc, "technician", where, true);
    const json& checks = Array(doc, "checks", where);
    for (std::size_t i = 0; i < checks.size(); ++i) {
      run.checks.push_back(CheckFromJson(checks[i], "check " + std::to_string(i + 1)));
    }
    return {std::move(run), {}};
  } catch (const FieldError& e) {
    return {std::nullopt, e.what()};
  } catch (const json::exception& e) {
    return {std::nullopt, std::string("unreadable field: ") + e.what()};
  }
}

ParsedRecord ReadRecordFile(const std::filesystem::path& file) {
  // A whole day of checks makes well under a megabyte.
  constexpr std::uintmax_t kLargest = 64 << 20;
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) return {std::nullopt, "a folder, not a file"};
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (!ec && size > kLargest) return {std::nullopt, "too large for a checkout record"};
  std::ifstream in(file, std::ios::binary);
  if (!in) return {std::nullopt, "cannot open it"};
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return {std::nullopt, "cannot read it"};
  if (text.str().empty()) return {std::nullopt, "empty file"};
  return ParseRecord(text.str());
}

}  // namespace kc
