#include "app/checkout/tui/activity.h"

#include <algorithm>

namespace kc {

namespace {

// Own waits this long are shown; shorter ones only as the steps of a sweep.
constexpr double kLongWait = 2.0;
// An own wait that starts this soon after the last one ended continues it.
constexpr double kJoin = 0.3;
constexpr const char* kWaits = "The program waits";
constexpr const char* kSweeps = "The program sweeps the trigger level";

}  // namespace

void ActivityWatch::NoteOwnWait(double now, double seconds, std::optional<double> trigger_level) {
  if (!(seconds >= kShortest)) return;
  bool continues = now < own_until_ + kJoin;
  bool moved = trigger_level && level_ && *trigger_level != *level_;
  std::string what;
  if (continues && (moved || own_ == kSweeps)) {
    // A step of a sweep (the level may stay while the slope turns).
    what = kSweeps;
  } else if (seconds >= kLongWait) {
    what = kWaits;
  }
  if (what != own_ || !continues) own_since_ = now;
  own_ = what;
  own_until_ = now + seconds;
  level_ = trigger_level;
}

void ActivityWatch::NoteInstrument(double now, const std::string& busy) {
  if (busy == instrument_) return;
  instrument_ = busy;
  instrument_since_ = now;
}

std::string ActivityWatch::Line(double now) const {
  std::string what;
  double since = now;
  if (!instrument_.empty()) {
    what = instrument_;
    since = instrument_since_;
  } else if (!own_.empty() && now < own_until_ + kJoin) {
    what = own_;
    since = own_since_;
  }
  if (what.empty()) return what;
  int seconds = static_cast<int>(std::clamp(now - since, 0.0, 1e6));
  return what + " \u2026 " + std::to_string(seconds) + " s (no button press needed)";
}

}  // namespace kc
