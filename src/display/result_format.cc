#include "display/result_format.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>

#include "display/number_text.h"

namespace kc {

namespace {

// Widths beyond this are no screen layout; they are cut to it (the Integer
// range would allow it, the text would be pointless).
constexpr int kMaxWidth = 255;

}  // namespace

std::string NrToStr(Single& value, Single& format) {
  // W.D from the format. A format of 0 (or not a number) has width 0 and no
  // decimals and counts as positive: nothing fits, so the result is always the
  // plain number text of the value, and the value is rounded to a whole
  // number half up.
  const Single magnitude = std::isnan(format) ? 0.0f : std::fabs(format);
  int width = 0;
  int decimals = 0;
  if (magnitude >= static_cast<Single>(kMaxWidth + 1)) {
    width = kMaxWidth;
  } else {
    width = static_cast<int>(std::floor(magnitude));
    // Ties to even, like the classic conversion to Integer.
    decimals = static_cast<int>(std::nearbyint((magnitude - static_cast<Single>(width)) * 10.0f));
  }
  const double round_up = format < 0 ? 0.0 : 0.5;

  // A value that is not a finite number is formatted as 0.
  if (!std::isfinite(value)) value = 0;
  const bool negative = value < 0;
  std::string fallback = PlainNumber(value);

  format = magnitude;
  const double scale = std::pow(10.0, decimals);
  value = ToSingle(std::floor(std::fabs(static_cast<double>(value)) * scale + round_up) / scale);

  std::string int_text = PlainNumber(std::floor(value));
  if (width < static_cast<int>(int_text.size()) + (negative ? 1 : 0)) return fallback;

  const std::string plain = PlainNumber(value);
  std::string frac_text = plain.size() > int_text.size() ? plain.substr(int_text.size()) : "";
  if (negative) int_text = "-" + int_text;
  if (static_cast<int>(int_text.size()) < width) {
    int_text.insert(0, static_cast<std::size_t>(width) - int_text.size(), ' ');
  }
  if (decimals != 0) {
    if (Val(int_text) == 0 || frac_text.empty()) frac_text = "." + frac_text;
    const std::size_t wanted = static_cast<std::size_t>(decimals) + 1;
    if (frac_text.size() < wanted) frac_text.append(wanted - frac_text.size(), '0');
  }
  return int_text + frac_text;
}

std::string PassFail(Single margin) {
  // Unordered (not a number) passes.
  return margin > 0 ? "\\f\\a\\i\\l" : "PASS";
}

std::string BarGraphCommand(Integer steps, Integer indent, Integer line, const std::string& text,
                            int step) {
  const std::size_t lead = static_cast<std::size_t>(std::max<int>(indent, 0));
  const std::size_t done = static_cast<std::size_t>(std::max<int>(step - 1, 0));
  const std::size_t blanks = static_cast<std::size_t>(std::max(steps - step, 0));
  std::string bar;
  for (std::size_t i = 0; i < done; ++i) bar += "\\M";
  return "MESS" + Str(line) + ":" + '"' + std::string(lead, ' ') + text + bar +
         std::string(blanks, ' ') + "\\M" + '"';
}

}  // namespace kc
