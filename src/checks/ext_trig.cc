// External triggers: the A trigger fed from EXT1 and then from EXT2. For each
// input the level walks through seven one-division steps with positive and then
// negative slope, then the four couplings are shown one by one with where the
// trigger mark must sit.
#include <string>

#include "shell/main_form.h"

namespace kc {

void MainForm::ExtTrig() {
  Title("      *** EXTERNAL TRIGS CHECK ***");
  Send("MESS CLR;CH1 VOL:.2,FIF");
  Send("HOR ASEC:2E-6;ATR SOU:EXT1;VMO CH1");
  MessClr(16, "CONNECT SG 503, 50 \\4H\\&, TO CH1 AND EXT1");
  Mess(15, "ADJUST AMPLITUDE TO");
  Mess(14, "7 DIVISIONS P-P");

  for (Integer k = 1; k <= 2; ++k) {
    if (!Ready()) return;
    Send("MESS CLR");
    if (k == 2) {
      Mess(16, " MOVE THE SIGNAL FROM EXT1 TO EXT2");
      if (!Ready()) return;
      Send("ATR LEV:0,COU:DC,SLO:PLUS,SOU:EXT2");
    }

    // Levels -.6 to .6 in steps of .2.
    Mess(1, "CHECK TRIG T MOVING ONE DIV AT THE TIME");
    WalkTriggerLevel("ATR", 5);
    if (!GoOn()) return;
    if (!ShowTriggerCouplings("ATR")) return;
  }

  BackToMenu();
}

}  // namespace kc
