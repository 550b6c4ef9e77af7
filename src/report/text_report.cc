#include "report/text_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

#include "record/check_catalogue.h"

namespace kc {

namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Padded(const std::string& text, std::size_t width, bool right = false) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

std::string VerdictText(Verdict v) {
  return v == Verdict::kPass ? "PASS" : "FAIL";
}

// A table with a heading row; the reading column (1) is right-aligned.
void Table(std::ostringstream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line = " ";
    for (std::size_t i = 0; i < row.size(); ++i) {
      const bool last = i + 1 == row.size();
      line += " " + (last ? row[i] : Padded(row[i], widths[i], i == 1)) + (last ? "" : " ");
    }
    out << line << "\n";
  }
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// The shortest text that reads back as the same double; empty when not finite.
std::string ExactNumber(double v) {
  if (!std::isfinite(v)) return {};
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, v);
  return std::string(text, result.ptr);
}

std::string ExactNumber(const std::optional<double>& v) {
  return v ? ExactNumber(*v) : "";
}

}  // namespace

std::string TextCertificate(const Certificate& certificate) {
  const RunRecord& run = certificate.run;
  std::ostringstream out;
  out << "CHECKOUT CERTIFICATE\n"
      << "Model:           " << OrUnknown(run.model) << "\n"
      << "Firmware:        " << OrUnknown(run.firmware) << "\n"
      << "Serial number:   " << OrUnknown(run.serial) << "\n"
      << "Date:            " << FormatTimestamp(run.start) << "\n"
      << "Technician:      " << OrUnknown(run.technician) << "\n"
      << "Program version: " << run.program_version << "\n"
      << "Bus:             " << run.bus << ", GPIB address " << run.address << "\n"
      << "Bench sources:   " << OrUnknown(Joined(BenchSources(run), ", ")) << "\n"
      << "Overall verdict: " << OverallName(OverallVerdict(run)) << "\n";
  for (const CheckRecord& check : run.checks) {
    out << "\n"
        << CheckTitle(check.name) << ", " << ClockText(check.start) << " to "
        << (check.end ? ClockText(*check.end) : "-") << ", " << EndingText(check.ending);
    if (!check.readings.empty() || check.verdict) out << ": " << VerdictText(CheckVerdict(check));
    out << "\n";
    if (!check.readings.empty()) {
      std::vector<std::vector<std::string>> rows{{"Item", "Reading", "Limits", "Verdict"}};
      for (const Reading& r : check.readings) {
        rows.push_back({r.item, ReadingText(r.value, r.unit),
                        LimitsText(r.low, r.high, r.unit, false), VerdictText(r.verdict)});
      }
      Table(out, rows);
    }
    if (JudgedByEye(run, check)) {
      out << "  Judged by eye: " << EyeVerdictName(check.eye_verdict) << "\n";
    }
    for (const ButtonPress& p : check.presses) {
      out << "  Button " << (p.button == 0 ? std::string("MENU OFF") : std::to_string(p.button))
          << " at \"" << Trimmed(p.question) << "\"\n";
    }
  }
  const std::vector<Trend> trends = TrendsOf(certificate);
  if (!trends.empty()) {
    const std::size_t n = certificate.history.size();
    out << "\nHistory of this instrument, " << n << " earlier run" << (n == 1 ? "" : "s") << "\n";
    std::vector<std::vector<std::string>> rows{{"Item", "Runs", "Lowest", "Highest", "Previous"}};
    for (const Trend& t : trends) {
      double low = INFINITY;
      double high = -INFINITY;
      for (const TrendPoint& p : t.points) {
        if (std::isfinite(p.value)) {
          low = std::min(low, p.value);
          high = std::max(high, p.value);
        }
      }
      const TrendPoint& previous = t.points[t.points.size() - 2];
      rows.push_back(
          {t.item, std::to_string(t.points.size()), ReadingText(low, t.unit),
           ReadingText(high, t.unit),
           ReadingText(previous.value, t.unit) + " (" + FormatDate(previous.when) + ")"});
    }
    Table(out, rows);
  }
  return out.str();
}

std::string CsvReport(const std::vector<Certificate>& certificates) {
  std::string out =
      "run_start,model,serial,technician,check,check_start,item,value,unit,low,high,verdict\r\n";
  for (const Certificate& c : certificates) {
    for (const CheckRecord& check : c.run.checks) {
      for (const Reading& r : check.readings) {
        const std::vector<std::string> fields{FormatTimestamp(c.run.start),
                                              c.run.model,
                                              c.run.serial,
                                              c.run.technician,
                                              check.name,
                                              FormatTimestamp(check.start),
                                              r.item,
                                              ExactNumber(r.value),
                                              r.unit,
                                              ExactNumber(r.low),
                                              ExactNumber(r.high),
                                              std::string(VerdictName(r.verdict))};
        for (std::size_t i = 0; i < fields.size(); ++i) {
          out += (i == 0 ? "" : ",") + CsvField(fields[i]);
        }
        out += "\r\n";
      }
    }
  }
  return out;
}

}  // namespace kc
