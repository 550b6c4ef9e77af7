// A thin layer over cairo for the certificate: pages of a fixed size with a
// running position, texts in the certificate's fonts, colours by verdict, and
// the two small drawings (the gauge beside a reading and the trend chart).
#pragma once

#include <cairo.h>

#include <functional>
#include <optional>
#include <string>

#include "report/certificate.h"

namespace kc {

struct Rgb {
  double r, g, b;
};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kGrey{0.45, 0.45, 0.45};
inline constexpr Rgb kPassColour{0.10, 0.50, 0.20};
inline constexpr Rgb kFailColour{0.80, 0.10, 0.10};
inline constexpr Rgb kOpenColour{0.80, 0.45, 0.00};
inline constexpr Rgb kLineColour{0.15, 0.30, 0.65};

class PdfCanvas {
 public:
  static constexpr double kMargin = 48;

  // `footer` draws the foot of each page, given its number.
  PdfCanvas(cairo_t* cr, double width, double height, std::function<void(PdfCanvas&, int)> footer);

  cairo_t* cr() { return cr_; }
  double width() const { return width_; }
  double height() const { return height_; }
  double left() const { return kMargin; }
  double right() const { return width_ - kMargin; }
  double y() const { return y_; }
  void Advance(double dy) { y_ += dy; }
  // Starts a new page when less than `height` is left on this one; true then.
  bool Ensure(double height);
  void NewPage();
  void Finish();  // the last page's foot

  void Colour(const Rgb& c) { cairo_set_source_rgb(cr_, c.r, c.g, c.b); }
  void Font(double size, bool bold = false);
  double TextWidth(const std::string& text);
  // The text with its baseline at y, from x (align 0), ending at x (align 1) or
  // centred on x (align 0.5).
  void Text(double x, double y, const std::string& text, double align = 0);

  // A bar `w` wide at (x, y) showing where `value` lies against its limits.
  void Gauge(double x, double y, double w, double h, double value, const std::optional<double>& low,
             const std::optional<double>& high, Verdict verdict);
  // A chart of one item across runs in the box (x, y, w, h).
  void TrendChart(double x, double y, double w, double h, const Trend& trend);

 private:
  cairo_t* cr_;
  double width_;
  double height_;
  double y_ = kMargin;
  int page_ = 1;
  std::function<void(PdfCanvas&, int)> footer_;
};

}  // namespace kc
