// The steps and endings the checks share: screen lines, the title, the
// prompts on line 1 with the technician's answer, the verdict line, the way
// back to the menu, and the walk through the trigger levels and couplings.
#include <string>

#include "display/number_text.h"
#include "record/run_recorder.h"
#include "shell/main_form.h"

namespace kc {

namespace {

constexpr const char* kNearTriggerMark = "CHECK TRIGGER T APPROXIMATELY";

}  // namespace

void MainForm::Mess(int line, const std::string& text) {
  if (line == 1) question_ = text;
  Send("MESS" + Str(line) + ":" + Q + text + Q);
}

void MainForm::MessClr(int line, const std::string& text) {
  if (line == 1) question_ = text;
  Send("MESS CLR," + Whole(line) + ":" + Q + text + Q);
}

void MainForm::Title(const std::string& text) {
  MessClr(9, text);
  Delay(2);
}

Integer MainForm::WaitForTechnician() {
  SRQWait();
  const Integer event = xEvent();
  RecordPress(event);
  return event;
}

bool MainForm::Pressed() {
  return WaitForTechnician() <= 200;
}

bool MainForm::Ready() {
  Mess(1, kReadyPrompt);
  return Pressed();
}

bool MainForm::GoOn() {
  Mess(1, kContinuePrompt);
  return Pressed();
}

void MainForm::VerdictLine(const std::string& head, const std::string& text, Single fail) {
  CmdText = head + Q + text + PassFail(fail) + Q;
  if (fail != 0) CmdText += ";BELL";
  Send(CmdText);
  if (recorder != nullptr) recorder->SetCheckVerdict(fail != 0 ? Verdict::kFail : Verdict::kPass);
}

void MainForm::BackToMenu() {
  Mess(1, kMenuPrompt);
  // Everything the check shows is on the screen: it is complete, whether or
  // not the technician comes back to the menu.
  FinishCheck(true);
  SRQWait();
}

void MainForm::WalkTriggerLevel(const std::string& trigger, Single steps_per_volt) {
  // Counted in whole steps, so that the middle level is exactly 0.
  for (int step = -3; step <= 3; ++step) {
    Send(trigger + " LEV:" + PlainNumber(static_cast<Single>(step) / steps_per_volt));
    Delay(1);
  }
  Send(trigger + " SLO:MINUS");
  for (int step = 3; step >= -3; --step) {
    Send(trigger + " LEV:" + PlainNumber(static_cast<Single>(step) / steps_per_volt));
    Delay(1);
  }
}

bool MainForm::ShowTriggerCouplings(const std::string& trigger) {
  Send(trigger + " LEV:0,SLO:PLUS");
  MessClr(16, "CHECK TRIG T AT CENTER");
  Mess(15, "HORIZONTAL LINE");
  Mess(13, "*** DC ***");
  if (!GoOn()) return false;

  Send(trigger + " COU:AC");
  MessClr(16, kNearTriggerMark);
  Mess(15, "AT CENTER HORIZONTAL LINE");
  Mess(13, "*** AC ***");
  if (!GoOn()) return false;

  Send(trigger + " COU:HFR");
  MessClr(16, kNearTriggerMark);
  Mess(15, "2 DIVS ABOVE CENTER");
  Mess(14, "HORIZONTAL LINE");
  Mess(12, "*** HF REJECT ***");
  if (!GoOn()) return false;

  Send(trigger + " COU:LFR");
  MessClr(16, kNearTriggerMark);
  Mess(15, " 3 DIVS BELOW CENTER");
  Mess(14, "   HORIZONTAL LINE");
  Mess(12, "     *** LF REJECT ***");
  return true;
}

}  // namespace kc
