// Timing: the A and B sweeps checked against a time-mark generator at six
// speeds, 1 ms down to 10 ns per division, with the delta-delay view of the B
// sweep at the four slower ones. The 2431L has no B sweep and gets the A-sweep
// check alone.
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

void MainForm::Timing() {
  const std::string one_marker = "    CHECK FOR 1 MARKER PER DIVISION";

  Title("          *** TIMING CHECK ***");
  Send("VMO CH1;CH1 VOL:5E-1,POS:-1.36,FIF;ATR MOD:NORM,LEV:.5;HOR ASEC:.5E-3");
  MessClr(16, "CONNECT TIMEMARK GENERATOR TO CH1");
  Mess(15, "SET TIMEMARKERS TO 1 \\;S / ONE EVERY TWO DIVS");
  if (!Ready()) return;

  for (Integer i = 1; i <= 6; ++i) {
    const std::string a_speed = "HOR ASEC:1E-" + Whole(i + 2) + ",";
    const std::string b_speed = "BSEC:1E-" + Whole(i + 2);
    const std::string delayed_b_speed = "BSEC:5E-" + Whole(i + 5);
    const std::string first_delay = ";DLYT DLY1:1E-" + Whole(i + 2);
    const std::string second_delay = ",DLY2:1.096E-" + Whole(i + 1);

    Send(a_speed + b_speed + ";MESS CLR");
    if (i > 1) {
      // A new marker period: 100, 10, 1 microseconds, then 100, 10 nanoseconds.
      Send("VMO CH1:OFF;ATR LEV:-.5;BTR LEV:-.5");
      Send("HOR POS:512,MOD:ASW;BTR POS:16;DLYT DELT:OFF");
      const std::string period = i < 5
                                     ? std::string(static_cast<std::size_t>(4 - i), '0') + " \\<S"
                                     : std::string(static_cast<std::size_t>(7 - i), '0') + " \\=S";
      Send(std::string("MESS CLR, 9:") + Q + "       CHANGE TIMEMARKERS TO 1" + period + Q);
      if (!Ready()) return;
      Send("MESS CLR;VMO CH1;ATR LEV:.5");
    }
    if (i == 4) Send("ACQ REP");
    MessClr(16, one_marker);
    Mess(14, std::string(12, ' ') + "*** A-SWEEP ***");

    if (ModelIndex != 3) {
      if (!GoOn()) return;
      Send("HOR MOD:BSW;BTR LEV:.5,MOD:TRI");
      MessClr(16, one_marker);
      Mess(14, std::string(12, ' ') + "*** B-SWEEP ***");
      if (i <= 4) {
        if (!GoOn()) return;
        Send("HOR " + delayed_b_speed + ",POS:456;BTR POS:8,MODE:RUNS;DLYT DELT");
        Send(first_delay + second_delay);
        MessClr(16, "    CHECK FOR 8 DIV BETWEEN MARKERS");
      }
    }

    if (i < 6 && !GoOn()) return;
  }

  BackToMenu();
}

}  // namespace kc
