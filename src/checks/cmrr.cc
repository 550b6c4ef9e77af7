// Common mode rejection: the same sine wave on both channels, one inverted,
// the sum displayed. At 50 kHz the technician trims either channel's variable
// gain with the bezel buttons for the straightest trace; at 50 MHz the
// peak-to-peak residue of the averaged sum must stay within 50 mV. First with
// CH1 inverted, then with CH2 inverted.
#include <cfloat>
#include <cstdlib>
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

namespace {

constexpr Single kLimit = 50;

}  // namespace

void MainForm::CMRR() {
  Title("  *** COMMON MODE REJECTION CHECK ***");
  Send("VMO CH1;CH1 FIF;CH2 FIF;ATR SOU:CH1;ACQ NUMAV:32,REP;HOR ASEC:10E-6");
  Send("START 256;STOP 768;DAT SOU:ADD");
  MessClr(16, "CONNECT SG 503, 50 \\4H\\&, TO CH1 AND CH2");
  Mess(15, "ADJUST AMPLITUDE FOR 5 DIVISIONS P-P");
  if (!Ready()) return;

  // The adjustment selected by the last adjust button; kept from press to
  // press and from the first pass into the second. Empty until one of the
  // buttons 1, 2, 4 or 5 is pressed.
  std::string var_channel;
  Integer sign = 0;
  Integer end_value = 0;

  for (Integer ch = 1; ch <= 2; ++ch) {
    const int other = std::abs(ch - 3);
    Send("VMO CH1:OFF,ADD");
    Send("CH" + Whole(ch) + " VOL:.05,INV;CH" + Whole(other) + " VOL:.05,INV:OFF");
    Send("HOR ASEC:50E-6;MESS CLR");
    Mess(11, "    TESTING CH" + Whole(ch) + " INVERTED, CH" + Whole(other) + " NORMAL");
    Mess(6, "  IF NECESSARY USE THE ASSIGNED BEZEL");
    Mess(5, "    BUTTONS TO ADJUST CH1 AND/OR CH2");
    Mess(4, "VARIABLE FOR STRAIGHTEST POSSIBLE TRACE");
    Mess(2, "   \\0\\0\\0\\0\\c\\h\\A\\0\\0\\0\\0" + std::string(13, ' ') +
                "\\0\\0\\0\\0\\c\\h\\B\\0\\0\\0\\0");
    Mess(1, "    \\_       \\^   CONTINUE    \\_       \\^");

    // Buttons 1 and 2 move CH1 VAR up and down, 4 and 5 CH2 VAR; 3 continues.
    for (;;) {
      SRQWait();
      const Integer code = xEvent();
      LastButton = code;
      if (code > 200) return;
      if (code == 3) break;
      switch (code) {
        case 1:
          var_channel = "1";
          sign = 1;
          end_value = 100;
          break;
        case 2:
          var_channel = "1";
          sign = -1;
          end_value = 0;
          break;
        case 4:
          var_channel = "2";
          sign = 1;
          end_value = 100;
          break;
        case 5:
          var_channel = "2";
          sign = -1;
          end_value = 0;
          break;
        default:
          break;  // the previous adjustment again
      }
      // Nothing selected yet: there is no channel to adjust.
      if (var_channel.empty()) continue;
      const double var = Val(Query("CH" + var_channel + "?VAR"));
      if (var != end_value) {
        Send("CH" + var_channel + " VAR:" + Str(ToSingle(var + sign * 0.5)));
      }
    }

    Send("VMO ADD:OFF;HOR ASEC:20E-9");
    MessClr(9, "       CHANGE FREQUENCY TO 50 MH\\&");
    if (!Ready()) return;
    Send("VMO ADD;ACQ MODE:AVG;MESS CLR");
    BarGraph(10, 9, 16, "PLEASE WAIT ");
    Send("RUN SAVE;VMO ADD:OFF");
    const Single maximum = ToSingle(Val(Query("MAX?")));
    const Single minimum = ToSingle(Val(Query("MINI?")));
    ResultTable[1][ch] = ToSingle(2 * (static_cast<double>(maximum) - minimum));
    if (ResultTable[1][ch] > kLimit) ResultTable[2][1] = 1;

    if (ch == 1) {
      MessClr(9, "    CHANGE FREQUENCY BACK TO 50 \\4H\\&");
      if (!Ready()) return;
      Send("CH1 VAR:0;CH2 VAR:0;ACQ MODE:NORM;HOR ASEC:10E-6;RUN ACQ");
    }
  }

  VerdictLine(
      "MESS CLR,11:",
      "  \\c\\o\\m\\m\\o\\n\\0\\m\\o\\d\\e\\0\\r\\e\\j\\e\\c\\t\\i\\o\\n\\0\\r\\a\\t\\i\\o    ",
      ResultTable[2][1]);

  // Each line's verdict is taken on the residue as rounded for its text.
  const char* const line_heads[] = {"  CH1 INVERTED, CH2 NORMAL:", "  CH1 NORMAL, CH2 INVERTED:"};
  const char* const items[] = {"CH1 inverted, CH2 normal", "CH1 normal, CH2 inverted"};
  for (Integer ch = 1; ch <= 2; ++ch) {
    Single format = 3;
    const std::string residue = NrToStr(ResultTable[1][ch], format);
    Mess(10 - ch, line_heads[ch - 1] + residue + "\\;V " + PassFail(ResultTable[1][ch] - kLimit));
    RecordReading(items[ch - 1], Val(residue), ResultTable[1][ch] - kLimit);
  }
  Mess(6, std::string(21, ' ') + "LIMIT: 50\\;V");
  BackToMenu();
}

}  // namespace kc
