// Sample skew: a reference display at a low frequency, then a high one that
// depends on the model, then a fast sweep on which the technician adjusts the
// skew between the channels for minimum noise. Four models have no such
// adjustment and only get a notice.
#include <string>

#include "shell/main_form.h"

namespace kc {

void MainForm::SamplSkew() {
  if (ModelIndex == 3 || ModelIndex > 4) {
    Send(std::string("BELL;MESS CLR,9:") + Q + "   THIS TEST NOT APPLICABLE TO " + ModelText + Q);
    Mess(7, "        CHECK THE SERVICE MANUAL");
    Mess(6, "        FOR THE CORRECT PROCEDURE");
    BackToMenu();
    return;
  }

  Title("    *** SAMPLE SKEW CHECK/ADJUST ***");
  Send("VMO CH1;CH1 FIF;CH2 FIF;HOR ASEC:1E-5");
  MessClr(16, "CONNECT SG 503, 50 \\4H\\&, TO CH1 AND CH2");
  Mess(15, "ADJUST AMPLITUDE FOR 3 DIVISIONS P-P");
  if (!Ready()) return;

  // 200 MHz for the faster models, 100 MHz for the others.
  const char* hundreds = ModelIndex >= 3 ? "2" : "1";
  CmdText = std::string("MESS CLR,16:") + Q + "CHANGE FREQUENCY TO " + hundreds + "00 MH\\&" + Q;
  Send(CmdText);
  Mess(3, " NOTE THAT SIGNALS WILL APPEAR UNSTABLE");
  if (!Ready()) return;

  Send("VMO CH2;CH1 POS:1.5;CH2 POS:-1.5 ;HOR ASEC:0.5E-6");
  Send("MESS CLR");
  Mess(16, "ADJUST FREQ FOR 2 CYCLES OVER THE SCREEN");
  Mess(15, "CHECK/ADJUST SAM SKEW FOR MIN NOISE");
  BackToMenu();
}

}  // namespace kc
