// A platform for tests: a virtual clock, message boxes recorded and answered
// from a list, caption, hint and intro recorded, close requests and clicks at
// chosen times.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kc {

struct RecordedBox {
  std::string prompt;
  std::string title;
  MsgIcon icon;
  MsgButtons buttons;
  MsgAnswer answer;
};

class TestPlatform : public Platform {
 public:
  // The virtual run starts at `start` seconds after midnight.
  explicit TestPlatform(double start = 9 * 3600.0) : clock_(start) {}

  Clock& clock() override { return clock_; }
  VirtualClock& virtual_clock() { return clock_; }
  void PumpEvents() override;
  bool WaitIdle(double max_seconds) override;
  void SetCaption(const std::string& text) override { caption = text; }
  void SetHint(const std::string& text) override { hint = text; }
  void ShowIntro(const std::string& text) override;
  void HideIntro() override;
  MsgAnswer MessageBox(const std::string& prompt, const std::string& title, MsgIcon icon,
                       MsgButtons buttons) override;

  // Answers for the boxes in order; when exhausted, OK/Cancel boxes get
  // `default_answer` and OK boxes OK.
  std::deque<MsgAnswer> answers;
  MsgAnswer default_answer = MsgAnswer::kOk;
  // A close request raised once the clock's elapsed time reaches this.
  double close_at = -1;
  // A click on the intro window at this elapsed time.
  double click_at = -1;
  // Step of the virtual clock per PumpEvents.
  double tick = 0.001;

  std::string caption;
  std::string hint;
  std::string intro_text;
  bool intro_shown = false;
  double intro_opened_at = -1;
  double intro_closed_at = -1;
  std::vector<RecordedBox> boxes;
  int pumps = 0;

 private:
  void RaiseDue();
  VirtualClock clock_;
};

}  // namespace kc
