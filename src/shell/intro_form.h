// The intro window: shows the program's title for a few seconds, or until it
// is clicked, whichever comes first.
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/types.h"

namespace kc {

class IntroForm {
 public:
  explicit IntroForm(Platform& platform) : platform_(platform) {}

  // Shows the window modally with `text` for `interval_ms` milliseconds (the
  // timer interval); returns when the window has been unloaded.
  void ShowModal(const std::string& text, Integer interval_ms);

  void Form_Activate();
  void Form_Click() { Label1_Click(); }
  void Label1_Click();
  void Timer1_Timer() { Label1_Click(); }

 private:
  Platform& platform_;
  std::string label1_;
  Integer timer1_interval_ = 0;
  bool timer1_enabled_ = false;
  double timer1_started_ = 0;
  bool loaded_ = false;
};

}  // namespace kc
