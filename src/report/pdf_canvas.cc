#include "report/pdf_canvas.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kc {

namespace {

// Where a value lands on a scale from `lo` to `hi` drawn from x over w,
// clamped to the ends.
double Place(double value, double lo, double hi, double x, double w) {
  // A scale of no width (or beyond a double's range) puts everything midway.
  if (!(hi > lo) || !std::isfinite(hi - lo)) return x + w / 2;
  const double f = (value - lo) / (hi - lo);
  return x + (std::isnan(f) ? 0.5 : std::clamp(f, 0.0, 1.0)) * w;
}

}  // namespace

PdfCanvas::PdfCanvas(cairo_t* cr, double width, double height,
                     std::function<void(PdfCanvas&, int)> footer)
    : cr_(cr), width_(width), height_(height), footer_(std::move(footer)) {}

bool PdfCanvas::Ensure(double height) {
  if (y_ + height <= height_ - kMargin) return false;
  NewPage();
  return true;
}

void PdfCanvas::NewPage() {
  if (footer_) footer_(*this, page_);
  cairo_show_page(cr_);
  ++page_;
  y_ = kMargin;
}

void PdfCanvas::Finish() {
  if (footer_) footer_(*this, page_);
  cairo_show_page(cr_);
}

void PdfCanvas::Font(double size, bool bold) {
  cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr_, size);
}

double PdfCanvas::TextWidth(const std::string& text) {
  cairo_text_extents_t extents;
  cairo_text_extents(cr_, text.c_str(), &extents);
  return extents.x_advance;
}

void PdfCanvas::Text(double x, double y, const std::string& text, double align) {
  cairo_move_to(cr_, x - align * TextWidth(text), y);
  cairo_show_text(cr_, text.c_str());
}

void PdfCanvas::Gauge(double x, double y, double w, double h, double value,
                      const std::optional<double>& low, const std::optional<double>& high,
                      Verdict verdict) {
  if (!low && !high) return;
  double lo = 0;
  double hi = 0;
  double pass_lo = 0;
  double pass_hi = 0;
  if (low && high) {
    const double span = std::max(*high - *low, 1e-12);
    lo = *low - span / 4;
    hi = *high + span / 4;
    pass_lo = *low;
    pass_hi = *high;
  } else {
    // One limit: it sits in the middle, the passing side on its side.
    const double limit = low ? *low : *high;
    double half = std::max(std::fabs(limit) * 0.1, 1e-12);
    if (std::isfinite(value)) half = std::max(half, std::fabs(value - limit) * 1.3);
    lo = limit - half;
    hi = limit + half;
    pass_lo = low ? limit : lo;
    pass_hi = low ? hi : limit;
  }
  cairo_set_source_rgb(cr_, 0.90, 0.90, 0.90);
  cairo_rectangle(cr_, x, y, w, h);
  cairo_fill(cr_);
  cairo_set_source_rgb(cr_, 0.78, 0.91, 0.78);
  const double zone_x = Place(pass_lo, lo, hi, x, w);
  cairo_rectangle(cr_, zone_x, y, Place(pass_hi, lo, hi, x, w) - zone_x, h);
  cairo_fill(cr_);
  Colour(kBlack);
  cairo_set_line_width(cr_, 0.6);
  for (const auto& limit : {low, high}) {
    if (!limit) continue;
    const double lx = Place(*limit, lo, hi, x, w);
    cairo_move_to(cr_, lx, y - 1);
    cairo_line_to(cr_, lx, y + h + 1);
    cairo_stroke(cr_);
  }
  if (!std::isfinite(value)) return;
  const double vx = Place(value, lo, hi, x, w);
  Colour(verdict == Verdict::kPass ? kPassColour : kFailColour);
  cairo_set_line_width(cr_, 1.4);
  cairo_move_to(cr_, vx, y - 1);
  cairo_line_to(cr_, vx, y + h + 1);
  cairo_stroke(cr_);
  cairo_move_to(cr_, vx - 2.5, y - 3.5);
  cairo_line_to(cr_, vx + 2.5, y - 3.5);
  cairo_line_to(cr_, vx, y - 0.5);
  cairo_close_path(cr_);
  cairo_fill(cr_);
}

void PdfCanvas::TrendChart(double x, double y, double w, double h, const Trend& trend) {
  cairo_set_source_rgb(cr_, 0.75, 0.75, 0.75);
  cairo_set_line_width(cr_, 0.5);
  cairo_rectangle(cr_, x, y, w, h);
  cairo_stroke(cr_);
  Colour(kBlack);
  Font(7.5, true);
  Text(x + 4, y + 10, trend.item + (trend.unit.empty() ? "" : " (" + trend.unit + ")"));

  const double px = x + 34;
  const double py = y + 16;
  const double pw = w - 42;
  const double ph = h - 30;
  double t0 = static_cast<double>(trend.points.front().when.unix_seconds);
  double t1 = static_cast<double>(trend.points.back().when.unix_seconds);
  if (t1 <= t0) {
    t0 -= 86400;
    t1 += 86400;
  }
  double v0 = INFINITY;
  double v1 = -INFINITY;
  for (const TrendPoint& p : trend.points) {
    for (const double v : {p.value, p.low.value_or(NAN), p.high.value_or(NAN)}) {
      if (std::isfinite(v)) {
        v0 = std::min(v0, v);
        v1 = std::max(v1, v);
      }
    }
  }
  if (!std::isfinite(v0)) return;
  const double pad = v1 > v0 ? (v1 - v0) * 0.1 : std::max(std::fabs(v0) * 0.1, 1.0);
  v0 -= pad;
  v1 += pad;
  auto tx = [&](const TrendPoint& p) {
    return Place(static_cast<double>(p.when.unix_seconds), t0, t1, px, pw);
  };
  auto vy = [&](double v) { return py + ph - (Place(v, v0, v1, 0, ph)); };

  cairo_set_source_rgb(cr_, 0.96, 0.96, 0.96);
  cairo_rectangle(cr_, px, py, pw, ph);
  cairo_fill(cr_);
  // The limits of each run, joined from run to run.
  Colour(kFailColour);
  cairo_set_line_width(cr_, 0.7);
  const double dash[] = {3, 2};
  cairo_set_dash(cr_, dash, 2, 0);
  for (const bool upper : {false, true}) {
    bool drawing = false;
    for (const TrendPoint& p : trend.points) {
      const auto& limit = upper ? p.high : p.low;
      if (!limit) continue;
      if (drawing) {
        cairo_line_to(cr_, tx(p), vy(*limit));
      } else {
        cairo_move_to(cr_, px, vy(*limit));
        cairo_line_to(cr_, tx(p), vy(*limit));
        drawing = true;
      }
    }
    if (drawing) {
      double cx = 0;
      double cy = 0;
      cairo_get_current_point(cr_, &cx, &cy);
      cairo_line_to(cr_, px + pw, cy);
      cairo_stroke(cr_);
      const auto& last = upper ? trend.points.back().high : trend.points.back().low;
      if (last) {
        Font(6);
        Text(px + pw - 2, cy + (upper ? -2 : 7), NumberText(*last, trend.unit), 1);
      }
    }
  }
  cairo_set_dash(cr_, nullptr, 0, 0);
  // The readings.
  Colour(kLineColour);
  cairo_set_line_width(cr_, 0.9);
  bool drawing = false;
  for (const TrendPoint& p : trend.points) {
    if (!std::isfinite(p.value)) continue;
    if (drawing) {
      cairo_line_to(cr_, tx(p), vy(p.value));
    } else {
      cairo_move_to(cr_, tx(p), vy(p.value));
      drawing = true;
    }
  }
  cairo_stroke(cr_);
  for (std::size_t i = 0; i < trend.points.size(); ++i) {
    const TrendPoint& p = trend.points[i];
    if (!std::isfinite(p.value)) continue;
    Colour(p.verdict == Verdict::kPass ? kLineColour : kFailColour);
    const bool current = i + 1 == trend.points.size();
    const double radius = current ? 2.8 : p.verdict == Verdict::kPass ? 1.5 : 2.2;
    cairo_arc(cr_, tx(p), vy(p.value), radius, 0, 2 * M_PI);
    cairo_fill(cr_);
  }
  // Scales: the value range at the left, the first and last dates below.
  Colour(kGrey);
  Font(6);
  Text(px - 3, py + 5, NumberText(v1, trend.unit), 1);
  Text(px - 3, py + ph, NumberText(v0, trend.unit), 1);
  Text(px, py + ph + 9, FormatDate(trend.points.front().when));
  Text(px + pw, py + ph + 9, FormatDate(trend.points.back().when), 1);
}

}  // namespace kc
