// A and B trigger: one procedure behind the two menu entries. The trigger level
// walks through seven one-division steps with positive and then negative slope
// while the technician watches the trigger mark, then the four couplings are
// shown one by one with where the mark must sit.
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

void MainForm::Trigger(Integer& button) {
  // "A" for button 1, "B" for button 2: ATR ... or BTR ... commands.
  const std::string L(1, static_cast<char>(64 + button));

  Title("         *** " + L + "-TRIGGER CHECK ***");
  Send("CH1 VOL:.05,FIF;CH2 VOL:.05,FIF");
  if (button == 1) {
    Send("VMO CH1;HOR ASEC:2E-6");
  } else {
    Send("VMO CH2;HOR ASEC:5E-6,BSEC:2E-6,MODE:BSW");
    Send("DLYT DLY1:10E-6;BTR MOD:TRI,SOU:CH2;ATR ABSE:B;MESS CLR");
  }
  MessClr(16, "CONNECT SG 503, 50 \\4H\\&, TO CH" + Whole(button));
  Mess(15, "ADJUST AMPLITUDE TO");
  Mess(14, "7 DIVISIONS P-P");
  if (!Ready()) return;

  // Levels -.15 to .15 in steps of .05.
  MessClr(1, "CHECK TRIG T MOVING ONE DIV AT THE TIME");
  WalkTriggerLevel(L + "TR", 20);
  if (!GoOn()) return;
  if (!ShowTriggerCouplings(L + "TR")) return;

  BackToMenu();
}

}  // namespace kc
