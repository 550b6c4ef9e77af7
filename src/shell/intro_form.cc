#include "shell/intro_form.h"

namespace kc {

void IntroForm::ShowModal(const std::string& text, Integer interval_ms) {
  label1_ = text;
  timer1_interval_ = interval_ms;
  loaded_ = true;
  platform_.SetClickHandler([this] { Form_Click(); });
  platform_.ShowIntro(label1_);
  Form_Activate();
  Clock& clock = platform_.clock();
  while (loaded_) {
    platform_.PumpEvents();
    if (loaded_ && timer1_enabled_ &&
        (clock.Elapsed() - timer1_started_) * 1000.0 >= timer1_interval_) {
      Timer1_Timer();
    }
  }
}

void IntroForm::Form_Activate() {
  platform_.PumpEvents();
  if (!loaded_) return;  // clicked away while the first events ran
  timer1_enabled_ = true;
  timer1_started_ = platform_.clock().Elapsed();
}

void IntroForm::Label1_Click() {
  if (!loaded_) return;
  timer1_enabled_ = false;
  loaded_ = false;
  platform_.SetClickHandler(nullptr);
  platform_.HideIntro();
}

}  // namespace kc
