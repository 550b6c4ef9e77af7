#include "report/pdf_report.h"

#include <cairo-pdf.h>

#include "record/atomic_file.h"
#include "record/check_catalogue.h"
#include "report/pdf_canvas.h"

namespace kc {

namespace {

constexpr double kRow = 13;

Rgb VerdictColour(Verdict v) {
  return v == Verdict::kPass ? kPassColour : kFailColour;
}
std::string VerdictText(Verdict v) {
  return v == Verdict::kPass ? "PASS" : "FAIL";
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void Header(PdfCanvas& c, const RunRecord& run) {
  c.Colour(kBlack);
  c.Font(18, true);
  c.Text(c.left(), c.y() + 18, "Checkout certificate");
  c.Font(9);
  c.Colour(kGrey);
  c.Text(c.right(), c.y() + 18, "2430-family digital storage oscilloscope", 1);
  c.Advance(34);
  const std::pair<std::string, std::string> fields[] = {
      {"Model", OrUnknown(run.model)},
      {"Firmware", OrUnknown(run.firmware)},
      {"Serial number", OrUnknown(run.serial)},
      {"Date", FormatTimestamp(run.start)},
      {"Technician", OrUnknown(run.technician)},
      {"Program version", "Kalventa Checkout " + run.program_version},
      {"Bus", run.bus + ", GPIB address " + std::to_string(run.address)},
      {"Bench sources", OrUnknown(Joined(BenchSources(run), ", "))},
  };
  for (const auto& [label, value] : fields) {
    c.Colour(kGrey);
    c.Font(9, true);
    c.Text(c.left(), c.y(), label);
    c.Colour(kBlack);
    c.Font(9);
    c.Text(c.left() + 95, c.y(), value);
    c.Advance(kRow);
  }
  const Overall overall = OverallVerdict(run);
  const Rgb colour = overall == Overall::kPass   ? kPassColour
                     : overall == Overall::kFail ? kFailColour
                                                 : kOpenColour;
  c.Advance(4);
  c.Colour(colour);
  cairo_rectangle(c.cr(), c.left(), c.y(), c.right() - c.left(), 24);
  cairo_fill(c.cr());
  cairo_set_source_rgb(c.cr(), 1, 1, 1);
  c.Font(13, true);
  c.Text(c.left() + 10, c.y() + 16.5, "Overall verdict: " + std::string(OverallName(overall)));
  c.Advance(38);
}

void CheckTable(PdfCanvas& c, const RunRecord& run, const CheckRecord& check) {
  const double item_x = c.left() + 6;
  const double reading_x = c.left() + 235;  // right edge
  const double limits_x = c.left() + 250;
  const double verdict_x = c.left() + 345;
  const double gauge_x = c.left() + 385;
  const double gauge_w = c.right() - gauge_x - 6;

  c.Ensure(2 * kRow + 16 + (check.readings.empty() ? 0 : 2 * kRow));
  c.Colour(kBlack);
  c.Font(11, true);
  c.Text(c.left(), c.y() + 4, CheckTitle(check.name));
  const bool judged = !check.readings.empty() || check.verdict;
  c.Font(8.5);
  c.Colour(kGrey);
  const std::string when = ClockText(check.start) + " – " +
                           (check.end ? ClockText(*check.end) : std::string("…")) + ", " +
                           EndingText(check.ending);
  c.Text(c.right() - (judged ? 40 : 0), c.y() + 4, when, 1);
  if (judged) {
    c.Colour(VerdictColour(CheckVerdict(check)));
    c.Font(10, true);
    c.Text(c.right(), c.y() + 4, VerdictText(CheckVerdict(check)), 1);
  }
  c.Advance(6);
  cairo_set_source_rgb(c.cr(), 0.7, 0.7, 0.7);
  cairo_set_line_width(c.cr(), 0.5);
  cairo_move_to(c.cr(), c.left(), c.y());
  cairo_line_to(c.cr(), c.right(), c.y());
  cairo_stroke(c.cr());
  c.Advance(kRow);

  if (!check.readings.empty()) {
    c.Colour(kGrey);
    c.Font(7.5, true);
    c.Text(item_x, c.y(), "Item");
    c.Text(reading_x, c.y(), "Reading", 1);
    c.Text(limits_x, c.y(), "Limits");
    c.Text(verdict_x, c.y(), "Verdict");
    c.Text(gauge_x, c.y(), "Within the limits");
    c.Advance(kRow);
  }
  for (const Reading& r : check.readings) {
    if (c.Ensure(kRow)) {
      c.Colour(kGrey);
      c.Font(8.5, true);
      c.Text(c.left(), c.y(), CheckTitle(check.name) + " (continued)");
      c.Advance(kRow);
    }
    c.Colour(kBlack);
    c.Font(8.5);
    c.Text(item_x, c.y(), r.item);
    c.Text(reading_x, c.y(), ReadingText(r.value, r.unit), 1);
    c.Text(limits_x, c.y(), LimitsText(r.low, r.high, r.unit, true));
    c.Colour(VerdictColour(r.verdict));
    c.Font(8.5, true);
    c.Text(verdict_x, c.y(), VerdictText(r.verdict));
    c.Gauge(gauge_x, c.y() - 6, gauge_w, 6, r.value, r.low, r.high, r.verdict);
    c.Advance(kRow);
  }
  c.Font(8);
  c.Colour(kBlack);
  if (JudgedByEye(run, check)) {
    c.Ensure(kRow);
    c.Text(item_x, c.y(), "Judged by eye: " + std::string(EyeVerdictName(check.eye_verdict)));
    c.Advance(kRow);
  }
  c.Colour(kGrey);
  c.Font(7.5);
  for (const ButtonPress& p : check.presses) {
    c.Ensure(kRow - 3);
    c.Text(item_x, c.y(),
           "Button " + (p.button == 0 ? std::string("MENU OFF") : std::to_string(p.button)) +
               " at “" + Trimmed(p.question) + "”");
    c.Advance(kRow - 3);
  }
  c.Advance(10);
}

void Trends(PdfCanvas& c, const Certificate& certificate) {
  const std::vector<Trend> trends = TrendsOf(certificate);
  if (trends.empty()) return;
  constexpr double kChartHeight = 118;
  constexpr double kGap = 12;
  c.Ensure(30 + kChartHeight);
  c.Colour(kBlack);
  c.Font(11, true);
  const std::size_t n = certificate.history.size();
  c.Text(c.left(), c.y() + 4,
         "History of serial number " + certificate.run.serial + " (" + std::to_string(n) +
             " earlier run" + (n == 1 ? ")" : "s)"));
  c.Advance(16);
  const double chart_w = (c.right() - c.left() - kGap) / 2;
  for (std::size_t i = 0; i < trends.size(); ++i) {
    const bool left = i % 2 == 0;
    if (left) c.Ensure(kChartHeight + kGap);
    const double x = left ? c.left() : c.left() + chart_w + kGap;
    c.TrendChart(x, c.y(), chart_w, kChartHeight, trends[i]);
    if (!left || i + 1 == trends.size()) c.Advance(kChartHeight + kGap);
  }
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool WritePdfReport(const std::vector<Certificate>& certificates, Paper paper,
                    const std::filesystem::path& file, std::string& error) {
  // Points: A4 is 210 x 297 mm, letter 8.5 x 11 in.
  const double width = paper == Paper::kA4 ? 595.276 : 612;
  const double height = paper == Paper::kA4 ? 841.89 : 792;
  std::string pdf;
  cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(Append, &pdf, width, height);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, "Checkout certificate");
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "Kalventa Checkout");
  cairo_t* cr = cairo_create(surface);
  for (const Certificate& certificate : certificates) {
    const RunRecord& run = certificate.run;
    PdfCanvas canvas(cr, width, height, [&run](PdfCanvas& c, int page) {
      c.Colour(kGrey);
      c.Font(7.5);
      c.Text(c.left(), c.height() - 28,
             "Kalventa Checkout " + run.program_version + " · " + OrUnknown(run.model) + " " +
                 run.serial + " · " + FormatTimestamp(run.start));
      c.Text(c.right(), c.height() - 28, "page " + std::to_string(page), 1);
    });
    Header(canvas, run);
    for (const CheckRecord& check : run.checks) CheckTable(canvas, run, check);
    if (run.checks.empty()) {
      canvas.Font(9);
      canvas.Text(canvas.left(), canvas.y(), "No check was run.");
      canvas.Advance(kRow);
    }
    Trends(canvas, certificate);
    canvas.Finish();
  }
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  const cairo_status_t status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    error = std::string("cannot draw the PDF: ") + cairo_status_to_string(status);
    return false;
  }
  return WriteFileAtomically(file, pdf, error);
}

}  // namespace kc
