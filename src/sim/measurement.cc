#include "sim/measurement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace kc {

namespace {

// Gaussian response: the 10-90 % rise time is 0.339 / bandwidth, and the
// edge is the integral of a Gaussian with sigma = rise time / 2.563.
constexpr double kRiseTimeBandwidth = 0.339;
constexpr double kRiseToSigma = 2.563;
// Share of the gain left at VAR 100.
constexpr double kVariableFloor = 0.4;
// The CCD linearity figure is taken on a two-division step between these
// distances from the centre; the lower side compresses a little more.
constexpr double kInnerDivisions = 2.8;
constexpr double kOuterDivisions = 4.8;
constexpr double kCcdAsymmetry = 0.1;
// A cursor reference must span this many levels (one division).
constexpr double kSmallestReference = 25;
// Random phases averaged for a signal the trigger does not lock.
constexpr int kMaxUnlockedPhases = 32;
constexpr double kMaxAverages = 10000;
constexpr double kNominalCalibrator = 0.4;

double Step(double t, double sigma) {
  if (sigma <= 0) return t >= 0 ? 1.0 : 0.0;
  return 0.5 * std::erfc(-t / (sigma * std::numbers::sqrt2));
}

double Sane(double value, double fallback) {
  return std::isfinite(value) && value > 0 ? value : fallback;
}

int PointIndex(double position) {
  if (!std::isfinite(position)) return 0;
  return static_cast<int>(
      std::clamp(std::nearbyint(position), 0.0, MeasurementModel::kRecordPoints - 1.0));
}

// The volts per division a trace is read with (ADD with CH1's).
double TraceVoltsPerDiv(const PanelState& panel, Trace trace) {
  const ChannelPanel& channel = panel.channel[trace == Trace::kCh2 ? 1 : 0];
  return Sane(channel.volts_per_div, 0.1);
}

// The levels of a square or sine signal after the input's termination and
// coupling (and the instrument's own calibrator amplitude).
SourceSignal AtInput(SourceSignal signal, bool fifty_input, const std::string& coupling,
                     double calibrator_volts) {
  double scale = signal.fifty_ohm && !fifty_input ? 2.0 : 1.0;
  if (signal.from_calibrator) scale *= calibrator_volts / kNominalCalibrator;
  signal.low *= scale;
  signal.high *= scale;
  if (coupling == "AC" || coupling == "LFREJ") {
    double mean = signal.shape == SourceSignal::Shape::kSine
                      ? (signal.low + signal.high) / 2
                      : signal.low + (signal.high - signal.low) * signal.duty;
    signal.low -= mean;
    signal.high -= mean;
  }
  return signal;
}

}  // namespace

Trace CursorTrace(const PanelState& panel) {
  if (panel.channel[0].shown) return Trace::kCh1;
  if (panel.channel[1].shown) return Trace::kCh2;
  if (panel.add_shown) return Trace::kAdd;
  return Trace::kCh1;
}

std::string ReadingText(double value) {
  if (!std::isfinite(value)) return "0";
  if (value == 0) return "0";
  char text[32];
  std::snprintf(text, sizeof text, "%.4G", value);
  return text;
}

MeasurementModel::MeasurementModel(std::string model, InstrumentTraits traits, std::uint64_t seed)
    : model_(std::move(model)),
      traits_(std::move(traits)),
      random_(seed),
      display_random_(seed ^ 0x9E3779B97F4A7C15ULL) {
  const double inner5 = std::pow(kInnerDivisions, 5);
  const double outer5 = std::pow(kOuterDivisions, 5);
  for (std::size_t i = 0; i < 2; ++i) {
    // The step between the inner and the outer distance shrinks by c times
    // the difference of their fifth powers, the centre step by 2c.
    double share = std::clamp(traits_.channel[i].ccd_linearity / 100, 0.0, 1.0);
    ccd_coefficient_[i] = 2 * (1 - share) / (outer5 - inner5 - 2 * share);
  }
  // The tail e^(-t/tau) scaled so that the trace rises by the set share of the
  // step between 10 ns and 20 ns after it.
  double between = std::exp(-10e-9 / kTailSeconds) - std::exp(-20e-9 / kTailSeconds);
  tail_scale_ = traits_.ccd_tail / 100 / between;
}

double MeasurementModel::Gaussian() {
  // Box-Muller on the engine's own bits, the same on every library.
  double u1 = Uniform(random_);
  double u2 = Uniform(random_);
  if (u1 < 1e-300) u1 = 1e-300;
  return std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
}

double MeasurementModel::Uniform(std::mt19937_64& engine) {
  return static_cast<double>(engine() >> 11) * 0x1.0p-53;
}

double MeasurementModel::GainErrorPercent(int channel, double volts_per_div) const {
  const ChannelTraits& traits = traits_.channel[channel == 2 ? 1 : 0];
  double error = SettingGainShare(model_, channel, volts_per_div) * traits_.setting_error_span +
                 traits.gain_error;
  for (const auto& [volts, extra] : traits.setting_gain_errors) {
    if (std::fabs(volts - volts_per_div) <= 1e-6 * volts) error += extra;
  }
  error += traits.drift * (selfcalibrated_ ? traits_.drift_after_selfcal : 1.0);
  return error;
}

void MeasurementModel::Reset() {
  saved_.reset();
  reference_.reset();
}

std::optional<MeasurementModel::Lock> MeasurementModel::TriggerLock(const PanelState& panel) const {
  if (bench_ == nullptr) return std::nullopt;
  BenchInput input = BenchInput::kCh1;
  bool fifty = false;
  const std::string& source = panel.trigger_source;
  if (source == "VERTICAL") {
    input = !panel.channel[0].shown && panel.channel[1].shown ? BenchInput::kCh2 : BenchInput::kCh1;
  } else if (source == "CH1") {
    input = BenchInput::kCh1;
  } else if (source == "CH2") {
    input = BenchInput::kCh2;
  } else if (source == "EXT1") {
    input = BenchInput::kExt1;
  } else if (source == "EXT2") {
    input = BenchInput::kExt2;
  } else {
    return std::nullopt;  // the line: nothing on the bench is locked to it
  }
  if (input == BenchInput::kCh1) fifty = panel.channel[0].fifty;
  if (input == BenchInput::kCh2) fifty = panel.channel[1].fifty;
  SourceSignal signal =
      AtInput(bench_->SignalAt(input), fifty, panel.trigger_coupling, traits_.calibrator_volts);
  if (!signal.source || signal.shape == SourceSignal::Shape::kFlat) return std::nullopt;
  double level = panel.trigger_level;
  if (!std::isfinite(level) || !(signal.low < level && level < signal.high)) return std::nullopt;
  double frequency = Sane(signal.frequency, 1e3);
  if (signal.shape == SourceSignal::Shape::kSquare) {
    // The edge itself is the trigger point.
    double time = panel.trigger_rising ? 0.0 : signal.duty / frequency;
    return Lock{*signal.source, time};
  }
  double middle = (signal.low + signal.high) / 2;
  double half = (signal.high - signal.low) / 2;
  double angle = std::asin(std::clamp((level - middle) / half, -1.0, 1.0));
  if (!panel.trigger_rising) angle = std::numbers::pi - angle;
  return Lock{*signal.source, angle / (2 * std::numbers::pi * frequency)};
}

MeasurementModel::ChannelPath MeasurementModel::Path(const PanelState& panel, int channel,
                                                     const SourceSignal& arriving) const {
  const ChannelPanel& settings = panel.channel[static_cast<std::size_t>(channel - 1)];
  const ChannelTraits& traits = traits_.channel[static_cast<std::size_t>(channel - 1)];
  ChannelPath path;
  if (settings.coupling != "GND") {
    path.signal = AtInput(arriving, settings.fifty, settings.coupling, traits_.calibrator_volts);
  }
  double bandwidth = Sane(traits.bandwidth, 350e6);
  double frequency = Sane(path.signal.frequency, 1e3);
  path.signal.frequency = frequency;
  path.response = std::exp(-std::numbers::ln2 / 2 * std::pow(frequency / bandwidth, 2));
  path.sigma = std::hypot(path.signal.rise_time, kRiseTimeBandwidth / bandwidth) / kRiseToSigma;
  path.delay = traits.delay;
  double volts_per_div = Sane(settings.volts_per_div, 0.1);
  double gain = 1 + GainErrorPercent(channel, volts_per_div) / 100;
  double variable =
      std::isfinite(settings.variable) ? std::clamp(settings.variable, 0.0, 100.0) : 0;
  gain *= 1 - (1 - kVariableFloor) * variable / 100;
  path.gain = (settings.invert ? -gain : gain) / volts_per_div;
  path.position = std::isfinite(settings.position) ? settings.position : 0;
  return path;
}

double MeasurementModel::Divisions(const ChannelPath& path, double t, double phase) const {
  const SourceSignal& signal = path.signal;
  double volts = 0;
  double time = t - path.delay + phase;
  if (signal.shape == SourceSignal::Shape::kSine) {
    volts = (signal.low + signal.high) / 2 +
            (signal.high - signal.low) / 2 * path.response *
                std::sin(2 * std::numbers::pi * signal.frequency * time);
  } else if (signal.shape == SourceSignal::Shape::kSquare) {
    double period = 1 / signal.frequency;
    double high_time = std::clamp(signal.duty, 0.0, 1.0) * period;
    double phi = time - period * std::floor(time / period);
    double sigma = path.sigma;
    double step = signal.high - signal.low;
    volts = signal.low +
            step * (Step(phi, sigma) - Step(phi - high_time, sigma) + Step(phi - period, sigma));
    // The CCD settles after the most recent edge.
    double since = phi < high_time ? phi : phi - high_time;
    double direction = phi < high_time ? 1.0 : -1.0;
    volts -= direction * step * tail_scale_ * std::exp(-since / kTailSeconds) * Step(since, sigma);
  }
  return volts * path.gain + path.position;
}

double MeasurementModel::Ccd(int channel, double divisions) const {
  double c = ccd_coefficient_[static_cast<std::size_t>(channel - 1)];
  c *= divisions < 0 ? 1 + kCcdAsymmetry : 1 - kCcdAsymmetry;
  return divisions - c * std::pow(divisions, 5);
}

std::vector<double> MeasurementModel::Acquire(const PanelState& panel, Trace trace, bool noisy) {
  const int n = kRecordPoints;
  double dt = Sane(panel.sweep, 1e-3) / kPointsPerDivision;
  double position = std::isfinite(panel.horizontal_position) ? panel.horizontal_position : 512;
  double trigger_point = std::clamp(static_cast<double>(n) - position, 0.0, n - 1.0);
  double averages =
      panel.averaging ? std::clamp(std::floor(Sane(panel.averages, 1)), 1.0, kMaxAverages) : 1;

  // The channels that make up the trace, with what arrives at their inputs.
  std::vector<int> channels;
  if (trace != Trace::kCh2) channels.push_back(1);
  if (trace != Trace::kCh1) channels.push_back(2);
  std::vector<SourceSignal> signals;
  std::vector<ChannelPath> paths;
  for (int channel : channels) {
    signals.push_back(bench_ == nullptr
                          ? SourceSignal{}
                          : bench_->SignalAt(channel == 1 ? BenchInput::kCh1 : BenchInput::kCh2));
    paths.push_back(Path(panel, channel, signals.back()));
  }
  std::optional<Lock> lock = TriggerLock(panel);
  bool locked = true;
  for (const SourceSignal& signal : signals) {
    if (signal.shape != SourceSignal::Shape::kFlat && (!lock || signal.source != lock->source)) {
      locked = false;
    }
  }
  // Unlocked signals wander: each acquisition catches them at a new phase.
  int phases =
      locked ? 1
             : (panel.averaging ? static_cast<int>(std::min<double>(averages, kMaxUnlockedPhases))
                                : 1);

  std::vector<double> record(static_cast<std::size_t>(n), 0.0);
  for (int k = 0; k < phases; ++k) {
    std::vector<double> phase(signals.size(), 0.0);
    for (std::size_t s = 0; s < signals.size(); ++s) {
      const SourceSignal& signal = signals[s];
      if (lock && signal.source == lock->source) {
        phase[s] = lock->time;
      } else {
        // One phase per source: two inputs on one source stay together.
        bool shared = false;
        for (std::size_t r = 0; r < s; ++r) {
          if (signals[r].source && signals[r].source == signal.source) {
            phase[s] = phase[r];
            shared = true;
          }
        }
        if (!shared) {
          phase[s] = Uniform(noisy ? random_ : display_random_) / Sane(signal.frequency, 1e3);
        }
      }
    }
    for (int i = 0; i < n; ++i) {
      double t = (i - trigger_point) * dt;
      double divisions = 0;
      for (std::size_t s = 0; s < signals.size(); ++s) {
        divisions += Divisions(paths[s], t, phase[s]);
      }
      record[static_cast<std::size_t>(i)] += Ccd(channels[0], divisions) * kLevelsPerDivision;
    }
  }
  double sigma = noisy ? traits_.noise_levels / std::sqrt(averages) : 0;
  for (double& level : record) {
    level /= phases;
    if (sigma > 0) level += sigma * Gaussian();
    level = std::clamp(level, kLowestLevel, kHighestLevel);
    if (noisy && !panel.averaging) level = std::nearbyint(level);
  }
  return record;
}

std::vector<double> MeasurementModel::Record(const PanelState& panel, Trace trace) {
  if (saved_) return (*saved_)[static_cast<std::size_t>(trace)];
  return Acquire(panel, trace, true);
}

std::vector<double> MeasurementModel::EyeTrace(const PanelState& panel, Trace trace) {
  return Acquire(panel, trace, false);
}

void MeasurementModel::Save(const PanelState& panel) {
  if (saved_) return;
  std::array<std::vector<double>, 3> records;
  for (Trace trace : {Trace::kCh1, Trace::kCh2, Trace::kAdd}) {
    records[static_cast<std::size_t>(trace)] = Acquire(panel, trace, true);
  }
  saved_ = std::move(records);
}

double MeasurementModel::VoltsBetweenCursors(const PanelState& panel, double* levels) {
  Trace trace = CursorTrace(panel);
  std::vector<double> record = Record(panel, trace);
  double difference = record[static_cast<std::size_t>(PointIndex(panel.tpos_two))] -
                      record[static_cast<std::size_t>(PointIndex(panel.tpos_one))];
  if (levels != nullptr) *levels = difference;
  return difference / kLevelsPerDivision * TraceVoltsPerDiv(panel, trace);
}

void MeasurementModel::NewReference(const PanelState& panel) {
  double levels = 0;
  double volts = VoltsBetweenCursors(panel, &levels);
  if (std::fabs(levels) >= kSmallestReference) reference_ = volts;
}

std::string MeasurementModel::CursorReadout(const PanelState& panel) {
  const std::string& function = panel.cursor_function;
  double volts_per_div = TraceVoltsPerDiv(panel, CursorTrace(panel));
  double dt = Sane(panel.sweep, 1e-3) / kPointsPerDivision;
  double time = (PointIndex(panel.tpos_two) - PointIndex(panel.tpos_one)) * dt;
  if (function == "TIME") return ReadingText(time);
  if (function == "VOLTS") {
    return ReadingText((panel.vpos_two - panel.vpos_one) * volts_per_div);
  }
  if (function != "V.T" && function != "SLOPE") return "0";
  double volts = VoltsBetweenCursors(panel, nullptr);
  if (function == "SLOPE") return time == 0 ? "0" : ReadingText(volts / time);
  double reference = reference_.value_or(5 * volts_per_div);
  if (panel.cursor_units == "PERCENT") return ReadingText(volts / reference * 100);
  if (panel.cursor_units == "DB") {
    double ratio = std::fabs(volts / reference);
    return ratio > 0 ? ReadingText(20 * std::log10(ratio)) : "0";
  }
  return ReadingText(volts);
}

std::string MeasurementModel::Extreme(const PanelState& panel, bool maximum) {
  Trace trace;
  if (panel.data_source == "CH1") {
    trace = Trace::kCh1;
  } else if (panel.data_source == "CH2") {
    trace = Trace::kCh2;
  } else if (panel.data_source == "ADD") {
    trace = Trace::kAdd;
  } else {
    return "0";  // no stored reference waveforms
  }
  std::vector<double> record = Record(panel, trace);
  int first = PointIndex(panel.start);
  int last = PointIndex(panel.stop);
  if (first > last) std::swap(first, last);
  auto begin = record.begin() + first;
  auto end = record.begin() + last + 1;
  double value = maximum ? *std::max_element(begin, end) : *std::min_element(begin, end);
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(std::nearbyint(value)));
  return text;
}

}  // namespace kc
