// What the simulated front panel reads besides the message lines: the
// instrument's main settings, what the bench has connected to its inputs,
// and the two status lines under the panel that sum them up.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_bench.h"

namespace kc {

class SimScope;

// What is connected to one input: the source as named on the bench (the sine
// generator by its name, attenuator and terminator noted) and its signal.
struct ConnectedInput {
  std::string source;
  SourceSignal signal;
  bool operator==(const ConnectedInput& other) const;
};

// What the bench has connected to CH1, CH2, EXT1 and EXT2.
struct BenchStatus {
  std::array<std::optional<ConnectedInput>, 4> inputs;
  bool operator==(const BenchStatus&) const = default;
};
inline constexpr std::array<const char*, 4> kInputNames = {"CH1", "CH2", "EXT1", "EXT2"};

BenchStatus DescribeBench(const SourceBench& bench);

struct ChannelSettings {
  bool shown = false;
  double volts_per_div = 0.1;
  double position = 0;  // divisions above the centre line
  std::string coupling = "DC";
  bool inverted = false;
  bool operator==(const ChannelSettings&) const = default;
};

// The instrument's main settings as its front panel would show them.
struct InstrumentSettings {
  std::array<ChannelSettings, 2> channels;
  bool add_shown = false;
  double sec_per_div = 1e-3;
  std::string trigger_mode = "AUTO";
  std::string trigger_source = "VERTICAL";
  std::string trigger_slope = "PLUS";
  double trigger_level = 0;
  std::string acquire_mode = "NORMAL";
  bool operator==(const InstrumentSettings&) const = default;
};

// Reads the settings from the simulated instrument; values it cannot read
// keep their defaults.
InstrumentSettings ReadSettings(const SimScope& scope);

// A value in engineering notation with its unit: 0.1 and "V" give "100 mV",
// 5e-6 and "s" give "5 µs", 1000 and "Hz" give "1 kHz". At most three
// significant digits.
std::string EngineeringText(double value, const std::string& unit);

// "Bench   CH1: calibrator 400 mVp-p square 1 kHz   CH2, EXT1, EXT2 open",
// shortened to fit `width` columns: closer spacing, then without the wave
// shapes, then without the sources, and at last whole inputs left out (a
// "…" says so); never cut inside a word.
std::string BenchLine(const BenchStatus& bench, int width = 1 << 20);
// "CH1 100 mV/div DC   CH2 off   A 1 ms/div   Trig VERT ↑ 0 V AUTO   Acq NORMAL",
// shortened in the same way to fit `width` columns.
std::string SettingsLine(const InstrumentSettings& settings, int width = 1 << 20);

}  // namespace kc
