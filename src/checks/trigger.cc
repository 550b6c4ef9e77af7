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
  const std::string go_on = "   PRESS ANY BEZEL BUTTON TO CONTINUE";
  const std::string near_t = "CHECK TRIGGER T APPROXIMATELY";

  MessClr(9, "         *** " + L + "-TRIGGER CHECK ***");
  Delay(2);
  Send("CH1 VOL:.05,FIF;CH2 VOL:.05,FIF");
  if (button == 1) {
    Send("VMO CH1;HOR ASEC:2E-6");
  } else {
    Send("VMO CH2;HOR ASEC:5E-6,BSEC:2E-6,MODE:BSW");
    Send("DLYT DLY1:10E-6;BTR MOD:TRI,SOU:CH2;ATR ABSE:B;MESS CLR");
  }
  MessClr(16, "CONNECT SG 503, 50 \\4H\\&, TO CH" + PlainNumber(static_cast<long>(button)));
  Mess(15, "ADJUST AMPLITUDE TO");
  Mess(14, "7 DIVISIONS P-P");
  Mess(1, "    PRESS ANY BEZEL BUTTON WHEN READY");
  if (WaitForTechnician() > 200) return;

  // Levels -.15 to .15 in steps of .05, counted in whole steps so that the
  // middle one is exactly 0.
  MessClr(1, "CHECK TRIG T MOVING ONE DIV AT THE TIME");
  for (int step = -3; step <= 3; ++step) {
    Send(L + "TR LEV:" + PlainNumber(static_cast<Single>(step) / 20.0f));
    Delay(1);
  }
  Send(L + "TR SLO:MINUS");
  for (int step = 3; step >= -3; --step) {
    Send(L + "TR LEV:" + PlainNumber(static_cast<Single>(step) / 20.0f));
    Delay(1);
  }
  Mess(1, go_on);
  if (WaitForTechnician() > 200) return;

  Send(L + "TR LEV:0,SLO:PLUS");
  MessClr(16, "CHECK TRIG T AT CENTER");
  Mess(15, "HORIZONTAL LINE");
  Mess(13, "*** DC ***");
  Mess(1, go_on);
  if (WaitForTechnician() > 200) return;

  Send(L + "TR COU:AC");
  MessClr(16, near_t);
  Mess(15, "AT CENTER HORIZONTAL LINE");
  Mess(13, "*** AC ***");
  Mess(1, go_on);
  if (WaitForTechnician() > 200) return;

  Send(L + "TR COU:HFR");
  MessClr(16, near_t);
  Mess(15, "2 DIVS ABOVE CENTER");
  Mess(14, "HORIZONTAL LINE");
  Mess(12, "*** HF REJECT ***");
  Mess(1, go_on);
  if (WaitForTechnician() > 200) return;

  Send(L + "TR COU:LFR");
  MessClr(16, near_t);
  Mess(15, " 3 DIVS BELOW CENTER");
  Mess(14, "   HORIZONTAL LINE");
  Mess(12, "     *** LF REJECT ***");

  Mess(1, "  PRESS ANY BEZEL BUTTON FOR MAIN MENU");
  SRQWait();
}

}  // namespace kc
