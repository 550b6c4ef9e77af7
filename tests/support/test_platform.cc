#include "support/test_platform.h"

namespace kc {

void TestPlatform::RaiseDue() {
  double now = clock_.Elapsed();
  if (close_at >= 0 && now >= close_at) {
    close_at = -1;
    RequestClose();
  }
  if (click_at >= 0 && now >= click_at) {
    click_at = -1;
    Click();
  }
}

void TestPlatform::PumpEvents() {
  ++pumps;
  RaiseDue();
  DeliverEvents();
  clock_.Pass(tick);
}

bool TestPlatform::WaitIdle(double max_seconds) {
  // Stop at a scheduled close request so the wait can be cut short there.
  double step = max_seconds;
  if (close_at >= 0 && close_at - clock_.Elapsed() < step) step = close_at - clock_.Elapsed();
  clock_.Pass(step);
  RaiseDue();
  return close_pending();
}

void TestPlatform::ShowIntro(const std::string& text) {
  intro_text = text;
  intro_shown = true;
  intro_opened_at = clock_.Elapsed();
}

void TestPlatform::HideIntro() {
  intro_shown = false;
  intro_closed_at = clock_.Elapsed();
}

MsgAnswer TestPlatform::MessageBox(const std::string& prompt, const std::string& title,
                                   MsgIcon icon, MsgButtons buttons) {
  MsgAnswer answer = MsgAnswer::kOk;
  if (buttons == MsgButtons::kOkCancel) {
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    } else {
      answer = default_answer;
    }
  } else if (!answers.empty()) {
    answers.pop_front();
  }
  boxes.push_back({prompt, title, icon, buttons, answer});
  return answer;
}

}  // namespace kc
