// External triggers: the A trigger fed from EXT1 and then from EXT2. For each
// input the level walks through seven one-division steps with positive and then
// negative slope, then the four couplings are shown one by one with where the
// trigger mark must sit.
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

void MainForm::ExtTrig() {
  const std::string ready = "    PRESS ANY BEZEL BUTTON WHEN READY";
  const std::string go_on = "   PRESS ANY BEZEL BUTTON TO CONTINUE";
  const std::string near_t = "CHECK TRIGGER T APPROXIMATELY";

  MessClr(9, "      *** EXTERNAL TRIGS CHECK ***");
  Delay(2);
  Send("MESS CLR;CH1 VOL:.2,FIF");
  Send("HOR ASEC:2E-6;ATR SOU:EXT1;VMO CH1");
  MessClr(16, "CONNECT SG 503, 50 \\4H\\&, TO CH1 AND EXT1");
  Mess(15, "ADJUST AMPLITUDE TO");
  Mess(14, "7 DIVISIONS P-P");

  for (Integer k = 1; k <= 2; ++k) {
    Mess(1, ready);
    if (WaitForTechnician() > 200) return;
    Send("MESS CLR");
    if (k == 2) {
      Mess(16, " MOVE THE SIGNAL FROM EXT1 TO EXT2");
      Mess(1, ready);
      if (WaitForTechnician() > 200) return;
      Send("ATR LEV:0,COU:DC,SLO:PLUS,SOU:EXT2");
    }

    // Levels -.6 to .6 in steps of .2, counted in whole steps so that the
    // middle one is exactly 0.
    Mess(1, "CHECK TRIG T MOVING ONE DIV AT THE TIME");
    for (int step = -3; step <= 3; ++step) {
      Send("ATR LEV:" + PlainNumber(static_cast<Single>(step) / 5.0f));
      Delay(1);
    }
    Send("ATR SLO:MINUS");
    for (int step = 3; step >= -3; --step) {
      Send("ATR LEV:" + PlainNumber(static_cast<Single>(step) / 5.0f));
      Delay(1);
    }
    Mess(1, go_on);
    if (WaitForTechnician() > 200) return;

    Send("ATR LEV:0,SLO:PLUS");
    MessClr(16, "CHECK TRIG T AT CENTER");
    Mess(15, "HORIZONTAL LINE");
    Mess(13, "*** DC ***");
    Mess(1, go_on);
    if (WaitForTechnician() > 200) return;

    Send("ATR COU:AC");
    MessClr(16, near_t);
    Mess(15, "AT CENTER HORIZONTAL LINE");
    Mess(13, "*** AC ***");
    Mess(1, go_on);
    if (WaitForTechnician() > 200) return;

    Send("ATR COU:HFR");
    MessClr(16, near_t);
    Mess(15, "2 DIVS ABOVE CENTER");
    Mess(14, "HORIZONTAL LINE");
    Mess(12, "*** HF REJECT ***");
    Mess(1, go_on);
    if (WaitForTechnician() > 200) return;

    Send("ATR COU:LFR");
    MessClr(16, near_t);
    Mess(15, " 3 DIVS BELOW CENTER");
    Mess(14, "   HORIZONTAL LINE");
    Mess(12, "     *** LF REJECT ***");
  }

  Mess(1, "  PRESS ANY BEZEL BUTTON FOR MAIN MENU");
  SRQWait();
}

}  // namespace kc
