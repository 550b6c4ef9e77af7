// The platform the fuzz targets run the checkout on: a virtual clock that
// moves in coarse steps (a delay of a second is a handful of pumps), message
// boxes answered by a function, and a bound on virtual time so that a loop
// that only waits is caught as a hang.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/platform.h"

namespace kc::fuzz {

// Stops the fuzzer with a message: libFuzzer reports the input as a crash.
[[noreturn]] inline void Finding(const std::string& what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::abort();
}

class FuzzPlatform : public Platform {
 public:
  // Virtual seconds a run may take before it counts as a hang.
  static constexpr double kMaxSeconds = 200000;

  FuzzPlatform() : clock_(9 * 3600.0) {}

  Clock& clock() override { return clock_; }
  void PumpEvents() override {
    RaiseDue();
    DeliverEvents();
    clock_.Pass(tick);
    Bound();
  }
  bool WaitIdle(double max_seconds) override {
    double step = max_seconds > 0 ? max_seconds : 0;
    // A wait is cut short by a close request due during it.
    if (close_at >= 0 && close_at - clock_.Elapsed() < step) step = close_at - clock_.Elapsed();
    clock_.Pass(step > 0 ? step : 0);
    RaiseDue();
    Bound();
    return close_pending();
  }
  void SetCaption(const std::string& text) override { (void)text; }
  void SetHint(const std::string& text) override { (void)text; }
  void ShowIntro(const std::string& text) override { (void)text; }
  void HideIntro() override {}
  MsgAnswer MessageBox(const std::string& prompt, const std::string& title, MsgIcon icon,
                       MsgButtons buttons) override {
    (void)icon;
    ++boxes;
    if (prompt.empty() || title.empty()) Finding("a message box without prompt or title");
    MsgAnswer answer = answer_box ? answer_box(buttons) : MsgAnswer::kOk;
    if (buttons == MsgButtons::kOk) answer = MsgAnswer::kOk;
    if (answer == MsgAnswer::kCancel) cancelled = true;
    return answer;
  }

  // Step of the virtual clock per pump.
  double tick = 0.05;
  // A close request once the clock's elapsed time reaches this (none when
  // negative).
  double close_at = -1;
  bool close_requested = false;
  std::function<MsgAnswer(MsgButtons)> answer_box;
  int boxes = 0;
  // Cancel was chosen in a box: the program must end without touching the
  // instrument again.
  bool cancelled = false;

 private:
  void RaiseDue() {
    if (close_at >= 0 && clock_.Elapsed() >= close_at) {
      close_at = -1;
      close_requested = true;
      RequestClose();
    }
  }
  void Bound() {
    if (clock_.Elapsed() > kMaxSeconds) Finding("the run does not end (virtual time)");
  }

  VirtualClock clock_;
};

}  // namespace kc::fuzz
