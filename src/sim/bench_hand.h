// The technician's hands on the bench: whatever the oscilloscope's message
// lines ask for in the way of cables and source settings is done as soon as it
// is shown, reading the instrument's front panel (volts/division, 50-ohm
// inputs, displayed channels, sweep speed) where a setting depends on it. The
// bezel buttons are left to the operator's script or the keyboard.
//
// Instructions understood (as shown, glyphs read as a person reads them):
//   CONNECT <source> TO CH1 [AND CH2|EXT1] [THRU ... X5 ATT+TERM ...]
//     sources: PG 506, <amplitude> STANDARD AMPLITUDE; PG 506 FAST RISE,
//     <frequency>; PG 506, HI AMP, <frequency>; SG 503|SG 504, <frequency>;
//     THE CALIBRATOR SIGNAL; TIMEMARK GENERATOR. A new connection replaces
//     every cable on the bench.
//   SET PG 506 TO <amplitude>
//   ADJUST AMPLITUDE FOR|TO [A] <n> DIVISION(S)|DIVS ...: the source last
//     named gets the amplitude for n divisions on the displayed channel it
//     drives.
//   CHANGE [THE] FREQUENCY [BACK] TO <frequency>; ADJUST FREQ FOR <n> CYCLES
//     OVER THE SCREEN
//   MOVE [THE] SIGNAL [FROM <input>] TO <input>
//   SET|CHANGE TIMEMARKERS TO <period>
// An instruction is done once while it stays on the screen; shown anew (after
// the lines were cleared or rewritten) it is done again.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/sim_bench.h"
#include "sim/sim_scope.h"

namespace kc {

class BenchHand {
 public:
  // Watches `scope`'s screen from now on and works `bench`.
  BenchHand(SimScope& scope, SourceBench& bench);
  ~BenchHand();
  BenchHand(const BenchHand&) = delete;
  BenchHand& operator=(const BenchHand&) = delete;

  // Reads the screen and does what is new on it (called on every change).
  void Look();

  // What has been done, one line each, such as
  // "CONNECT SG 503, 50 kHz, TO CH1: SG 503 50 kHz 0.6 V -> CH1".
  const std::vector<std::string>& log() const { return log_; }

  // Does one instruction written as the screen shows it (glyphs rendered);
  // false when it asks for nothing the hand does.
  bool Do(const std::string& instruction);

 private:
  bool Connect(const std::string& what, const std::string& inputs, const std::string& rest);
  bool Adjust(double divisions);
  bool SetFrequency(double hertz);
  bool Move(const std::string& from, const std::string& to);

  SimScope& scope_;
  SourceBench& bench_;
  std::shared_ptr<bool> alive_;
  std::optional<BenchSource> current_;
  std::set<std::string> done_;
  int clears_seen_ = 0;
  std::vector<std::string> log_;
};

// The technician's hands on the VAR bezel buttons in the common-mode adjust
// loop: looks at the size of the ADD trace after each press and decides the
// next press. CH1's VAR is tried first (button 1 lowers its gain), and kept
// while the trace shrinks; a press that does not help is undone (button 2),
// and CH2 (buttons 4 and 5) is tried when CH1 never helped. Button 3 ends.
class VarTrimmer {
 public:
  static constexpr int kMaxPresses = 400;

  // The button to press next, given the trace's peak-to-peak size now.
  int Next(double residue);
  void Restart();

 private:
  enum class Phase { kLook, kTry, kUndone };
  Phase phase_ = Phase::kLook;
  int button_ = 1;
  double last_ = 0;
  bool improved_ = false;
  int presses_ = 0;
};

// Largest minus smallest value; 0 for an empty trace.
double PeakToPeak(const std::vector<double>& trace);

}  // namespace kc
