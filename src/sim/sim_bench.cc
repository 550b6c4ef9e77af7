#include "sim/sim_bench.h"

#include <cmath>
#include <cstdio>

namespace kc {

namespace {

constexpr double kPg506RiseTime = 1e-9;
constexpr double kSlowRiseTime = 5e-9;
constexpr double kMarkVolts = 1.0;
constexpr double kMarkDuty = 0.1;
constexpr double kCalibratorNominal = 0.4;
constexpr BenchInput kInputs[] = {BenchInput::kCh1, BenchInput::kCh2, BenchInput::kExt1,
                                  BenchInput::kExt2};

std::string Engineering(double value, const char* unit) {
  static const struct {
    double scale;
    const char* prefix;
  } kPrefixes[] = {{1e6, "M"}, {1e3, "k"}, {1, ""}, {1e-3, "m"}, {1e-6, "u"}, {1e-9, "n"}};
  for (const auto& prefix : kPrefixes) {
    if (std::fabs(value) >= prefix.scale * 0.9999) {
      char text[48];
      std::snprintf(text, sizeof text, "%g %s%s", value / prefix.scale, prefix.prefix, unit);
      return text;
    }
  }
  char text[48];
  std::snprintf(text, sizeof text, "%g %s", value, unit);
  return text;
}

}  // namespace

const char* InputName(BenchInput input) {
  switch (input) {
    case BenchInput::kCh1:
      return "CH1";
    case BenchInput::kCh2:
      return "CH2";
    case BenchInput::kExt1:
      return "EXT1";
    case BenchInput::kExt2:
      return "EXT2";
  }
  return "?";
}

const char* SourceName(BenchSource source) {
  switch (source) {
    case BenchSource::kStandardAmplitude:
      return "PG 506 standard amplitude";
    case BenchSource::kFastRise:
      return "PG 506 fast rise";
    case BenchSource::kHighAmplitude:
      return "PG 506 high amplitude";
    case BenchSource::kSineGenerator:
      return "sine generator";
    case BenchSource::kCalibrator:
      return "calibrator";
    case BenchSource::kTimeMarks:
      return "time marks";
  }
  return "?";
}

SourceBench::SourceBench() {
  // As the sources stand on the bench before anyone turns a knob.
  amplitude_ = {{BenchSource::kStandardAmplitude, 0.5},
                {BenchSource::kFastRise, 0.05},
                {BenchSource::kHighAmplitude, 1.0},
                {BenchSource::kSineGenerator, 0.6},
                {BenchSource::kCalibrator, kCalibratorNominal},
                {BenchSource::kTimeMarks, kMarkVolts}};
  frequency_ = {{BenchSource::kStandardAmplitude, 1e3}, {BenchSource::kFastRise, 1e6},
                {BenchSource::kHighAmplitude, 1e3},     {BenchSource::kSineGenerator, 50e3},
                {BenchSource::kCalibrator, 1e3},        {BenchSource::kTimeMarks, 1e3}};
}

bool SourceBench::FiftyOhm(BenchSource source) {
  switch (source) {
    case BenchSource::kFastRise:
    case BenchSource::kHighAmplitude:
    case BenchSource::kSineGenerator:
    case BenchSource::kTimeMarks:
      return true;
    case BenchSource::kStandardAmplitude:
    case BenchSource::kCalibrator:
      break;
  }
  return false;
}

void SourceBench::Connect(BenchSource source, const std::vector<BenchInput>& inputs,
                          double attenuation, bool terminated) {
  cables_.clear();
  if (!(attenuation > 0) || !std::isfinite(attenuation)) attenuation = 1;
  for (BenchInput input : inputs) cables_[input] = BenchCable{source, attenuation, terminated};
}

void SourceBench::Move(BenchInput from, BenchInput to) {
  auto it = cables_.find(from);
  if (it == cables_.end() || from == to) return;
  BenchCable cable = it->second;
  cables_.erase(it);
  cables_[to] = cable;
}

std::optional<BenchCable> SourceBench::CableAt(BenchInput input) const {
  auto it = cables_.find(input);
  if (it == cables_.end()) return std::nullopt;
  return it->second;
}

std::vector<BenchInput> SourceBench::InputsOf(BenchSource source) const {
  std::vector<BenchInput> inputs;
  for (BenchInput input : kInputs) {
    auto it = cables_.find(input);
    if (it != cables_.end() && it->second.source == source) inputs.push_back(input);
  }
  return inputs;
}

void SourceBench::SetAmplitude(BenchSource source, double volts) {
  if (source == BenchSource::kCalibrator || !std::isfinite(volts)) return;
  amplitude_[source] = std::fabs(volts);
}

double SourceBench::Amplitude(BenchSource source) const {
  auto it = amplitude_.find(source);
  return it == amplitude_.end() ? 0 : it->second;
}

void SourceBench::SetFrequency(BenchSource source, double hertz) {
  if (source == BenchSource::kCalibrator || !(hertz > 0) || !std::isfinite(hertz)) return;
  frequency_[source] = hertz;
}

double SourceBench::Frequency(BenchSource source) const {
  auto it = frequency_.find(source);
  return it == frequency_.end() ? 0 : it->second;
}

SourceSignal SourceBench::SignalAt(BenchInput input) const {
  SourceSignal signal;
  std::optional<BenchCable> cable = CableAt(input);
  if (!cable) return signal;
  BenchSource source = cable->source;
  double amplitude = Amplitude(source) / cable->attenuation;
  signal.source = source;
  signal.frequency = Frequency(source);
  signal.fifty_ohm = FiftyOhm(source) && !cable->terminated;
  signal.shape = SourceSignal::Shape::kSquare;
  switch (source) {
    case BenchSource::kStandardAmplitude:
      signal.high = amplitude;
      signal.rise_time = kSlowRiseTime;
      break;
    case BenchSource::kCalibrator:
      signal.high = amplitude;
      signal.rise_time = kSlowRiseTime;
      signal.from_calibrator = true;
      break;
    case BenchSource::kFastRise:
      signal.low = -amplitude;
      signal.rise_time = kPg506RiseTime;
      break;
    case BenchSource::kHighAmplitude:
      signal.low = -amplitude;
      signal.rise_time = kSlowRiseTime;
      break;
    case BenchSource::kSineGenerator:
      signal.shape = SourceSignal::Shape::kSine;
      signal.low = -amplitude / 2;
      signal.high = amplitude / 2;
      break;
    case BenchSource::kTimeMarks:
      signal.high = amplitude;
      signal.duty = kMarkDuty;
      signal.rise_time = kPg506RiseTime;
      break;
  }
  return signal;
}

std::string SourceBench::Describe() const {
  std::string text;
  for (BenchInput input : kInputs) {
    auto it = cables_.find(input);
    if (it == cables_.end()) continue;
    BenchSource source = it->second.source;
    if (!text.empty()) text += "; ";
    text += source == BenchSource::kSineGenerator ? generator_name_ : SourceName(source);
    text += " " + Engineering(Frequency(source), "Hz");
    if (source != BenchSource::kCalibrator) text += " " + Engineering(Amplitude(source), "V");
    if (it->second.attenuation != 1) {
      char factor[32];
      std::snprintf(factor, sizeof factor, " /%g", it->second.attenuation);
      text += factor;
    }
    text += std::string(" -> ") + InputName(input);
  }
  return text.empty() ? "nothing connected" : text;
}

}  // namespace kc
