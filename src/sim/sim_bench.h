// The bench beside the simulated oscilloscope: the signal sources a technician
// uses for the checkout and the cables from them to the instrument's inputs.
//
//   PG 506 pulse generator: the standard-amplitude output (a 1 kHz square wave
//     from ground up to the set amplitude, from a low-impedance output), the
//     fast-rise output (a square wave with 1 ns edges, from the set amplitude
//     below ground up to ground, 50-ohm output) and the high-amplitude output
//     (a 1 kHz square wave, also from below ground up to ground, 50-ohm).
//   SG 503 / SG 504 levelled sine-wave generator: a sine wave around ground of
//     the set peak-to-peak amplitude into 50 ohm, whatever its frequency.
//   The instrument's own calibrator output: a 1 kHz square wave from ground up
//     to about 400 mV; its exact amplitude belongs to the instrument.
//   Time-mark generator: narrow 1 V marks, one per marker period, 50-ohm.
//
// A 50-ohm output gives twice its amplitude into an input that is not
// terminated (an input without its 50-ohm setting, and no terminator in the
// cable).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kc {

enum class BenchInput { kCh1, kCh2, kExt1, kExt2 };

enum class BenchSource {
  kStandardAmplitude,
  kFastRise,
  kHighAmplitude,
  kSineGenerator,
  kCalibrator,
  kTimeMarks,
};

// A signal as it leaves its source (or its attenuator).
struct SourceSignal {
  enum class Shape { kFlat, kSquare, kSine };
  Shape shape = Shape::kFlat;
  // Square: the low and the high level; sine: the negative and the positive
  // peak. Volts.
  double low = 0;
  double high = 0;
  double frequency = 0;
  // Share of each period spent at the high level (square).
  double duty = 0.5;
  // 10-90 % rise time of the source's own edges, seconds.
  double rise_time = 0;
  bool fifty_ohm = false;
  // The calibrator: the levels are nominal; the instrument knows its own.
  bool from_calibrator = false;
  // Signals from the same source are locked to each other.
  std::optional<BenchSource> source;
};

struct BenchCable {
  BenchSource source = BenchSource::kStandardAmplitude;
  // Divides the signal (an attenuator in line).
  double attenuation = 1;
  // A 50-ohm terminator in line.
  bool terminated = false;
};

class SourceBench {
 public:
  SourceBench();

  // Replaces every cable: `source` now drives `inputs` and nothing else is
  // connected.
  void Connect(BenchSource source, const std::vector<BenchInput>& inputs, double attenuation = 1,
               bool terminated = false);
  // What drives `from` now drives `to`; `from` is left open.
  void Move(BenchInput from, BenchInput to);
  void DisconnectAll() { cables_.clear(); }
  std::optional<BenchCable> CableAt(BenchInput input) const;
  // The inputs `source` drives, in the order CH1, CH2, EXT1, EXT2.
  std::vector<BenchInput> InputsOf(BenchSource source) const;

  // The settings of the sources. Amplitudes are volts (peak to peak), into
  // 50 ohm for a 50-ohm output.
  void SetAmplitude(BenchSource source, double volts);
  double Amplitude(BenchSource source) const;
  void SetFrequency(BenchSource source, double hertz);
  double Frequency(BenchSource source) const;
  // Time-mark generator: one mark per `seconds`.
  void SetMarkerPeriod(double seconds) { SetFrequency(BenchSource::kTimeMarks, 1 / seconds); }
  // The name the sine-wave generator goes by ("SG 503", "SG 504").
  void SetGeneratorName(std::string name) { generator_name_ = std::move(name); }
  const std::string& generator_name() const { return generator_name_; }
  // True when the source's output is a 50-ohm output.
  static bool FiftyOhm(BenchSource source);

  // The signal arriving at `input` through its cable, before the input's own
  // termination; flat when nothing is connected.
  SourceSignal SignalAt(BenchInput input) const;

  // One line on the sources and cables, for logs and tests:
  // "SG 503 50 kHz 0.6 V -> CH1".
  std::string Describe() const;

 private:
  std::map<BenchInput, BenchCable> cables_;
  std::map<BenchSource, double> amplitude_;
  std::map<BenchSource, double> frequency_;
  std::string generator_name_ = "SG 503";
};

const char* InputName(BenchInput input);
const char* SourceName(BenchSource source);

}  // namespace kc
