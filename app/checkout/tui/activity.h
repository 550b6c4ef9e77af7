// What the program and the instrument are doing by themselves, for the line
// on the panel that tells the technician no press is needed: the program's
// own waits (a settling time of two seconds or more, the steps of a
// trigger-level sweep) and what the instrument reports (its
// self-calibration, averaging), each with the seconds so far.
#pragma once

#include <optional>
#include <string>

namespace kc {

class ActivityWatch {
 public:
  // Shorter own waits (the pause between a query and its read) are not
  // looked at.
  static constexpr double kShortest = 0.5;

  // The program is about to wait `seconds` by itself at `now` (clock
  // seconds); `trigger_level` is the instrument's trigger level when known.
  void NoteOwnWait(double now, double seconds, std::optional<double> trigger_level);
  // What the instrument is doing by itself as seen at `now` ("": nothing).
  void NoteInstrument(double now, const std::string& busy);
  // The line at `now`: "The program waits … 3 s (no button press needed)";
  // "" when nothing goes on by itself.
  std::string Line(double now) const;

 private:
  std::string own_;
  double own_since_ = 0;
  double own_until_ = -1;
  std::optional<double> level_;
  std::string instrument_;
  double instrument_since_ = 0;
};

}  // namespace kc
