#include "app/checkout/tui/panel_readout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/checkout/tui/canvas.h"
#include "sim/sim_scope.h"

namespace kc {

namespace {

// How much a bench line tells of each input, from all to least.
enum class Detail { kFull, kNoShape, kNoSource };

std::string InputText(const ConnectedInput& input, Detail detail) {
  const SourceSignal& signal = input.signal;
  std::string text = detail == Detail::kNoSource || input.source.empty() ? "" : input.source + " ";
  if (signal.shape == SourceSignal::Shape::kFlat)
    return text + EngineeringText(signal.low, "V") + " DC";
  text += EngineeringText(std::fabs(signal.high - signal.low), "V") + "p-p ";
  if (detail == Detail::kFull)
    text += signal.shape == SourceSignal::Shape::kSine ? "sine " : "square ";
  return text + EngineeringText(signal.frequency, "Hz");
}

// The parts of a bench line: each connected input, then the open ones.
std::vector<std::string> BenchParts(const BenchStatus& bench, Detail detail) {
  std::vector<std::string> parts;
  std::string open;
  int open_count = 0;
  for (std::size_t i = 0; i < bench.inputs.size(); ++i) {
    if (!bench.inputs[i]) {
      open += std::string(open.empty() ? "" : ", ") + kInputNames[i];
      ++open_count;
      continue;
    }
    parts.push_back(std::string(kInputNames[i]) + ": " + InputText(*bench.inputs[i], detail));
  }
  if (open_count == static_cast<int>(bench.inputs.size())) {
    parts.push_back("nothing connected");
  } else if (!open.empty()) {
    parts.push_back(open + " open");
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts, const std::string& head,
                 const std::string& gap) {
  std::string line = head;
  for (const std::string& part : parts) line += (line.empty() ? "" : gap) + part;
  return line;
}

// The parts that fit in `width` columns, whole, and a mark for the rest.
std::string WholeParts(const std::vector<std::string>& parts, int width) {
  std::string line;
  for (const std::string& part : parts) {
    std::string longer = line.empty() ? part : line + "  " + part;
    if (TextWidth(longer) + 2 > width) break;
    line = longer;
  }
  return width >= 1 ? (line.empty() ? "" : line + " ") + "\u2026" : "";
}

}  // namespace

bool ConnectedInput::operator==(const ConnectedInput& other) const {
  const SourceSignal& a = signal;
  const SourceSignal& b = other.signal;
  return source == other.source && a.shape == b.shape && a.low == b.low && a.high == b.high &&
         a.frequency == b.frequency;
}

BenchStatus DescribeBench(const SourceBench& bench) {
  BenchStatus status;
  static constexpr BenchInput kInputs[] = {BenchInput::kCh1, BenchInput::kCh2, BenchInput::kExt1,
                                           BenchInput::kExt2};
  for (std::size_t i = 0; i < status.inputs.size(); ++i) {
    std::optional<BenchCable> cable = bench.CableAt(kInputs[i]);
    if (!cable) continue;
    ConnectedInput input;
    input.source = cable->source == BenchSource::kSineGenerator ? bench.generator_name()
                                                                : SourceName(cable->source);
    if (cable->attenuation != 1)
      input.source += " \u00f7" + EngineeringText(cable->attenuation, "");
    while (!input.source.empty() && input.source.back() == ' ') input.source.pop_back();
    if (cable->terminated) input.source += " 50\u03a9";
    input.signal = bench.SignalAt(kInputs[i]);
    status.inputs[i] = std::move(input);
  }
  return status;
}

InstrumentSettings ReadSettings(const SimScope& scope) {
  InstrumentSettings settings;
  auto number = [&scope](const std::string& key, double fallback, bool positive) {
    std::optional<double> value = scope.NumberSetting(key);
    if (!value || !std::isfinite(*value) || (positive && *value <= 0)) return fallback;
    return *value;
  };
  auto word = [&scope](const std::string& key, const std::string& fallback) {
    std::string value = scope.Setting(key);
    return value.empty() ? fallback : value;
  };
  for (std::size_t i = 0; i < settings.channels.size(); ++i) {
    std::string name = kInputNames[i];
    ChannelSettings& channel = settings.channels[i];
    channel.shown = scope.Setting("VMODE " + name) == "ON";
    channel.volts_per_div = number(name + " VOLTS", channel.volts_per_div, true);
    channel.position = number(name + " POSITION", 0, false);
    channel.coupling = word(name + " COUPLING", channel.coupling);
    channel.inverted = scope.Setting(name + " INVERT") == "ON";
  }
  settings.add_shown = scope.Setting("VMODE ADD") == "ON";
  std::string sweep = scope.Setting("HORIZONTAL MODE") == "BSWEEP" ? "BSECDIV" : "ASECDIV";
  settings.sec_per_div = number("HORIZONTAL " + sweep, settings.sec_per_div, true);
  settings.trigger_mode = word("ATRIGGER MODE", settings.trigger_mode);
  settings.trigger_source = word("ATRIGGER SOURCE", settings.trigger_source);
  settings.trigger_slope = word("ATRIGGER SLOPE", settings.trigger_slope);
  settings.trigger_level = number("ATRIGGER LEVEL", 0, false);
  settings.acquire_mode = word("ACQUIRE MODE", settings.acquire_mode);
  return settings;
}

std::string EngineeringText(double value, const std::string& unit) {
  if (!std::isfinite(value)) return "? " + unit;
  if (value == 0) return "0 " + unit;
  static const char* const kPrefixes[] = {"p", "n", "\u00b5", "m", "", "k", "M", "G", "T"};
  int exponent = static_cast<int>(std::floor(std::log10(std::fabs(value)) / 3.0)) * 3;
  exponent = std::clamp(exponent, -12, 12);
  double mantissa = value / std::pow(10.0, exponent);
  if (std::fabs(mantissa) >= 999.5 && exponent < 12) {
    exponent += 3;
    mantissa /= 1000;
  }
  char digits[32];
  std::snprintf(digits, sizeof digits, "%.3g", mantissa);
  return std::string(digits) + " " + kPrefixes[(exponent + 12) / 3] + unit;
}

std::string BenchLine(const BenchStatus& bench, int width) {
  struct Form {
    Detail detail;
    const char* head;
    const char* gap;
  };
  static constexpr Form kForms[] = {{Detail::kFull, "Bench", "   "},
                                    {Detail::kFull, "Bench:", "  "},
                                    {Detail::kNoShape, "Bench:", "  "},
                                    {Detail::kNoSource, "Bench:", "  "},
                                    {Detail::kNoSource, "", "  "}};
  for (const Form& form : kForms) {
    std::string line = Join(BenchParts(bench, form.detail), form.head, form.gap);
    if (TextWidth(line) <= width) return line;
  }
  return WholeParts(BenchParts(bench, Detail::kNoSource), width);
}

std::string SettingsLine(const InstrumentSettings& settings, int width) {
  std::vector<std::string> parts;
  for (std::size_t i = 0; i < settings.channels.size(); ++i) {
    const ChannelSettings& channel = settings.channels[i];
    std::string part = kInputNames[i];
    if (!channel.shown) {
      parts.push_back(part + " off");
      continue;
    }
    part += " " + EngineeringText(channel.volts_per_div, "V") + "/div " + channel.coupling;
    if (channel.inverted) part += " INV";
    parts.push_back(part);
  }
  if (settings.add_shown) parts.push_back("ADD");
  parts.push_back("A " + EngineeringText(settings.sec_per_div, "s") + "/div");
  std::string source = settings.trigger_source == "VERTICAL" ? "VERT" : settings.trigger_source;
  parts.push_back("Trig " + source + " " +
                  (settings.trigger_slope == "MINUS" ? "\u2193" : "\u2191") + " " +
                  EngineeringText(settings.trigger_level, "V") + " " + settings.trigger_mode);
  parts.push_back("Acq " + settings.acquire_mode);
  for (const char* gap : {"   ", "  "}) {
    std::string line = Join(parts, "", gap);
    if (TextWidth(line) <= width) return line;
  }
  return WholeParts(parts, width);
}

}  // namespace kc
