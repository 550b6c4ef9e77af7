// What the simulated oscilloscope is made of: the characteristics of a healthy
// instrument of each model, and the named faults that spoil one of them
// ("ch1-gain=3", "ch2-bandwidth=120", "ch1-gain@0.005=3").
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kc {

// One vertical channel.
struct ChannelTraits {
  // Gain error in percent at every volts/division setting, on top of the
  // setting's own small error (see SettingGainError).
  double gain_error = 0;
  // Gain error of single settings, in percent: {volts/division, error}.
  std::vector<std::pair<double, double>> setting_gain_errors;
  // Gain drift in percent since the last self-calibration; a self-calibration
  // trims most of it away.
  double drift = 0;
  // -3 dB bandwidth in Hz of the (Gaussian) frequency response.
  double bandwidth = 350e6;
  // Signal delay through the channel, in seconds (only the difference
  // between the channels shows).
  double delay = 0;
  // CCD linearity figure in percent: a two-division step between 2.8 and 4.8
  // divisions from the centre, in percent of the same step at the centre.
  double ccd_linearity = 98.5;
};

struct InstrumentTraits {
  std::array<ChannelTraits, 2> channel;
  // Peak-to-peak amplitude of the calibrator output in volts (nominal 0.4).
  double calibrator_volts = 0.4;
  // The CCD's settling tail after a step: how much, in percent of the step,
  // the trace still rises between 10 ns and 20 ns after the step.
  double ccd_tail = 1.5;
  // Largest gain error of a single volts/division setting, in percent (see
  // SettingGainError).
  double setting_error_span = 0.45;
  // Random noise of one acquisition, in digitizer levels rms.
  double noise_levels = 0.35;
  // Share of the gain drift that a self-calibration leaves.
  double drift_after_selfcal = 0.1;
};

// The characteristics of a healthy instrument of `model`; a name outside the
// family gets those of the 2430A.
InstrumentTraits HealthyTraits(const std::string& model);

// The share, from -1 to 1, of the largest setting error that a channel has at
// one volts/division setting (its attenuator and gain switching), fixed for
// the model, the channel (1 or 2) and the setting.
double SettingGainShare(const std::string& model, int channel, double volts_per_div);

// A named fault with its value, read from NAME=VALUE or NAME@VOLTS=VALUE.
struct Fault {
  std::string name;
  double value = 0;
  // For a gain fault of a single volts/division setting.
  std::optional<double> volts_per_div;
  std::string text;  // as given
};

// The faults one can name: name, what the value means, and its range.
struct FaultInfo {
  const char* name;
  const char* meaning;
  double lowest;
  double highest;
  // True when NAME@VOLTS=VALUE is accepted.
  bool per_setting = false;
};
const std::vector<FaultInfo>& FaultCatalogue();

// Reads one fault; nullopt and a description (which lists the valid names)
// in `error` for an unknown name or a bad value.
std::optional<Fault> ParseFault(const std::string& text, std::string* error);

// Applies the fault to `traits`.
void ApplyFault(const Fault& fault, InstrumentTraits& traits);

// Healthy traits of `model` with the faults applied; throws
// std::invalid_argument for a fault that cannot be read.
InstrumentTraits TraitsWithFaults(const std::string& model, const std::vector<std::string>& faults);

// One help line per fault, for --help.
std::string FaultHelp();

}  // namespace kc
