// Attenuator compensation: the technician adjusts the input attenuator of
// channel 1 and then channel 2 while the channel flips between 0.05 and 0.1 V
// per division once a second, until a bezel button is pressed.
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

void MainForm::AttenComp() {
  Title("    *** ATTENUATOR CHECK/ADJUST ***");
  Send("VMO CH1;HOR ASEC:1E-4;ATR LEV:-0.05;CH1 POS:2");
  MessClr(16, "CONNECT PG 506, HI AMP, 1 \\4H\\&, TO CH1");
  Mess(15, "THRU A 50\\J X5 ATT+TERM+15\\>F NORMALIZER");
  Mess(14, "ADJUST AMPLITUDE TO A 5 DIVISION DISPLAY");
  if (!Ready()) return;
  MessClr(1, "     PRESS ANY BEZEL BUTTON FOR CH2");

  for (Integer ch = 1; ch <= 2; ++ch) {
    const std::string channel = "CH" + Whole(ch);
    Mess(9, "    CHECK/ADJUST ATTENUATOR COMP FOR");
    Mess(8, "        EQUAL UPPER FRONT CORNER");
    // The event queue is polled, not waited on: "EVE?" reports 0 (an ev of
    // -449) while nothing is pressed, and the channel keeps flipping. Each
    // half-cycle shows its setting for a second, then reads the queue.
    auto half_cycle = [&](const char* volts) {
      Send(channel + " VOL:" + volts);
      Delay(1);
      LastButton = xEvent();
      RecordPress(LastButton);
      return LastButton;
    };
    Integer ev = 0;
    do {
      ev = half_cycle("0.05");
      if (ev > 200) return;
      if (ev < 0) {
        ev = half_cycle("0.1");
        if (ev > 200) return;
      }
    } while (ev <= 0);

    if (ch == 1) {
      Send("VMO CH1:OFF,CH2;CH2 POS:2");
      MessClr(9, "           MOVE SIGNAL TO CH2");
      if (!Ready()) return;
      // The last prompt, answered by the adjustment loop's polls.
      Mess(1, kMenuPrompt);
    }
  }
}

}  // namespace kc
