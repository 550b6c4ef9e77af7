// How the simulated oscilloscope acquires what the bench feeds it, and what it
// reads back from the acquired waveforms.
//
// Acquisition. A record holds 1024 points, 100 points per horizontal
// division at the A-sweep speed (so one point every sweep / 100 seconds).
// The trigger point, where the trigger source crosses the trigger level with
// the trigger slope, lies at record point 1024 - P for the horizontal
// position P: the default 512 puts it in the middle of the record, and a
// larger position shows later times (615 puts it at point 409). A source that
// the trigger does not lock (another source, a level outside the signal, no
// signal) lands at a random phase in each acquisition, so averaging washes it
// out.
//
// Each channel takes the signal at its input (twice the amplitude of a
// 50-ohm source when neither the input's 50-ohm setting nor a terminator
// ends the cable; GND coupling gives nothing, AC coupling takes the mean
// away), through its Gaussian frequency response (the -3 dB bandwidth sets
// the sine amplitude and the rise time of edges) and its delay, its gain (the
// gain error of the volts/division setting, plus the channel's own error and
// drift), the variable gain (VAR 0 is calibrated, 100 leaves 40 %) and the
// invert switch, then adds the position. ADD is CH1 + CH2 so formed. The CCD
// then compresses toward the ends of its range (a fifth-power term set by the
// channel's linearity figure) and leaves a settling tail behind each step
// (time constant 8 ns). Digitizer levels are 25 per division around 0 at the
// centre line, from -128 to 127. Each acquisition adds random noise; averaging
// N acquisitions divides the noise by the square root of N and keeps
// fractions of a level; a single acquisition is rounded to whole levels.
//
// While acquisition runs, every reading is taken from a new acquisition with
// the settings of that moment; "RUN SAVE" keeps the records of CH1, CH2 and
// ADD as they are until "RUN ACQ" or "INIT PANEL".
//
// Readings.
//   "CURS?DISP:VAL" with "CURS FUN:V.T": the volts between the waveform at the
//     two time cursors (record points), cursor two minus cursor one, on the
//     first displayed of CH1, CH2 and ADD (the cursors stand at 412 and 612
//     until they are set, and again after "INIT PANEL"); with "CURS UNI:VOL:PERC" that in
//     percent of the reference, with "...:DB" in decibels of it. "CURS NEWR"
//     takes the present reading as the reference when it spans at least one
//     division; a smaller one (mostly noise) leaves the reference as it was.
//     Without any reference, 5 divisions count as 100 %.
//     "CURS FUN:VOLTS" reads between the voltage cursors (divisions),
//     "CURS FUN:TIME" the time between the time cursors.
//   "MINI?", "MAX?": the smallest and largest level of the "DAT SOU" record
//     between "START" and "STOP", as whole levels.
// Replies carry four significant digits.
//
// Self-calibration trims the channels' gain drift to a tenth.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/sim_bench.h"

namespace kc {

// The front-panel settings that shape an acquisition and its readings.
struct ChannelPanel {
  double volts_per_div = 0.1;
  double variable = 0;
  double position = 0;
  std::string coupling = "DC";  // "AC", "DC" or "GND"
  bool fifty = false;
  bool invert = false;
  bool shown = false;
};

struct PanelState {
  std::array<ChannelPanel, 2> channel;
  bool add_shown = false;
  double sweep = 1e-3;  // seconds per division
  double horizontal_position = 512;
  double trigger_level = 0;
  bool trigger_rising = true;
  std::string trigger_source = "VERTICAL";
  std::string trigger_coupling = "DC";
  bool averaging = false;
  double averages = 32;
  std::string cursor_function = "OFF";
  std::string cursor_units = "BASE";
  double tpos_one = 412;
  double tpos_two = 612;
  double vpos_one = -1;
  double vpos_two = 1;
  std::string data_source = "CH1";
  double start = 0;
  double stop = 1023;
};

enum class Trace { kCh1, kCh2, kAdd };

class MeasurementModel {
 public:
  static constexpr int kRecordPoints = 1024;
  static constexpr double kPointsPerDivision = 100;
  static constexpr double kLevelsPerDivision = 25;
  static constexpr double kLowestLevel = -128;
  static constexpr double kHighestLevel = 127;
  // The CCD's settling time constant.
  static constexpr double kTailSeconds = 8e-9;

  MeasurementModel(std::string model, InstrumentTraits traits, std::uint64_t seed);

  // The bench whose sources drive the inputs; nothing is connected without one.
  void SetBench(const SourceBench* bench) { bench_ = bench; }

  // One acquisition of `trace` (or the kept record after "RUN SAVE"), in
  // digitizer levels.
  std::vector<double> Record(const PanelState& panel, Trace trace);
  // The trace as the eye makes it out on the screen: no noise, no rounding,
  // always live. Levels.
  std::vector<double> EyeTrace(const PanelState& panel, Trace trace);

  // Replies to the reading queries.
  std::string CursorReadout(const PanelState& panel);
  std::string Minimum(const PanelState& panel) { return Extreme(panel, false); }
  std::string Maximum(const PanelState& panel) { return Extreme(panel, true); }

  // Instrument operations.
  void NewReference(const PanelState& panel);
  void Save(const PanelState& panel);
  void Resume() { saved_.reset(); }
  void Reset();
  void SelfCalibrate() { selfcalibrated_ = true; }

  // The channel's (1 or 2) whole gain error in percent at `volts_per_div` now.
  double GainErrorPercent(int channel, double volts_per_div) const;
  const InstrumentTraits& traits() const { return traits_; }
  bool saved() const { return saved_.has_value(); }
  std::optional<double> reference() const { return reference_; }

 private:
  struct Lock {
    BenchSource source;
    double time;  // phase time of the source at the trigger point
  };
  std::optional<Lock> TriggerLock(const PanelState& panel) const;
  // One channel's way from its input to the CCD, worked out once for an
  // acquisition.
  struct ChannelPath {
    SourceSignal signal;  // at the input, after termination and coupling
    double response = 1;  // of a sine at its frequency
    double sigma = 0;     // of the edges, seconds
    double delay = 0;
    double gain = 1;  // divisions per volt, signed
    double position = 0;
  };
  ChannelPath Path(const PanelState& panel, int channel, const SourceSignal& arriving) const;
  // The channel's trace in divisions (position included) before the CCD at
  // time `t` from the trigger point, its source being at phase time `phase`
  // there.
  double Divisions(const ChannelPath& path, double t, double phase) const;
  std::vector<double> Acquire(const PanelState& panel, Trace trace, bool noisy);
  double Ccd(int channel, double divisions) const;
  // The V.T reading in volts and in levels on the cursor trace.
  double VoltsBetweenCursors(const PanelState& panel, double* levels);
  std::string Extreme(const PanelState& panel, bool maximum);
  double Gaussian();
  double Uniform(std::mt19937_64& engine);

  std::string model_;
  InstrumentTraits traits_;
  std::mt19937_64 random_;
  // The trace drawn for a person (EyeTrace) takes its phases from here, so
  // that looking at the screen never changes the readings of a seeded run.
  std::mt19937_64 display_random_;
  const SourceBench* bench_ = nullptr;
  std::optional<std::array<std::vector<double>, 3>> saved_;
  std::optional<double> reference_;
  bool selfcalibrated_ = false;
  std::array<double, 2> ccd_coefficient_{};
  double tail_scale_ = 0;
};

// The first displayed of CH1, CH2 and ADD; CH1 when none is.
Trace CursorTrace(const PanelState& panel);

// A reading as the instrument replies: four significant digits.
std::string ReadingText(double value);

}  // namespace kc
