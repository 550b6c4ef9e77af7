// CCD linearity: with a 0.2 V standard amplitude on both channels, each
// channel's reference is taken at position -1, then the trace is moved to a
// lower and an upper position where the cursor readout (in percent of the
// reference) must reach the model's limit.
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

void MainForm::CCDlin() {
  // Position span and limit by model.
  Single k = 2.0f;
  Single limit = 94.0f;
  if (ModelIndex == 1 || ModelIndex == 2) {
    k = 2.8f;
  } else if (ModelIndex == 6 || ModelIndex == 7) {
    k = 2.8f;
    limit = 95.0f;
  }

  Title("      *** CCD LINEARITY CHECK ***");
  Send("VMO CH1;CH1 POS:-1;ATR LEV:0.1");
  MessClr(16, "CONNECT PG 506, 0.2V STANDARD AMPLITUDE");
  Mess(15, "TO CH1 AND CH2");
  if (!Ready()) return;
  Send("HOR ASE:.5E-4;ATR MOD:SGL;ACQ MOD:AVG;ATR LEV:.1;MEN");
  ClearEvents();
  Send("CURS FUN:V.T;CURS UNI:VOL:PERC");

  for (Integer ch = 1; ch <= 2; ++ch) {
    Mess(12, "           SETTING CH" + Whole(ch) + " REFERENCE");
    Send("VMO CH" + Whole(ch) + ",CH" + Whole(std::abs(ch - 3)) + ":OFF");
    Send("CH" + Whole(ch) + " POS:-1;ACQ NUMAV:128;RUN ACQ");
    if (!Pressed()) return;
    Send("CURS NEWR;ACQ NUMAV:64;MEN");
    ClearEvents();

    // Two passes in single precision: the lower position -2 - k, then k.
    const Single step = 2.0f * k + 2.0f;
    for (Single pos = -2.0f - k; pos <= k; pos += step) {
      Mess(9, "              RUNNING TEST");
      Send("CH" + Whole(ch) + " POS:" + PlainNumber(pos));
      Send("RUN ACQ");
      // The end of the single-sequence acquisition.
      SRQWait();
      Send("MEN");
      ClearEvents();
      const std::string reply = Query("CURS?DISP:VAL");
      // One decimal, cut toward minus infinity.
      const Single reading = ToSingle(std::floor(Val(reply) * 10) / 10);
      if (reading < limit) ResultTable[3][1] = 1;
      // Row 1 for the lower position, 2 for the upper.
      const double row = (std::floor(std::fabs(pos)) - std::floor(k)) * -0.5 + 2;
      ResultTable[static_cast<int>(std::nearbyint(row))][ch] = reading;
    }
  }

  Send("VMO CH2:OFF;CURS FUN:OFF;MESS CLR");
  VerdictLine("MESS 12:", std::string(9, ' ') + "\\c\\c\\d\\0\\l\\i\\n\\e\\a\\r\\i\\t\\y     ",
              ResultTable[3][1]);

  for (Integer ch = 1; ch <= 2; ++ch) {
    for (Single j = 1.0f; j <= 2.0f; j += 1.0f) {
      const Single line = 13.0f - (2.0f * ch + j);
      const int row = static_cast<int>(j);
      CmdText = "MESS " + PlainNumber(line) + ":";
      CmdText += Q + std::string(9, ' ') + "CH" + Whole(ch);
      CmdText += j == 1.0f ? " LOWER:" : " UPPER:";
      Single format = 4.1f;
      // The table cell becomes the rounded magnitude; the verdict is taken on it.
      const std::string reading_text = NrToStr(ResultTable[row][ch], format);
      CmdText += reading_text + "% ";
      const Single margin = limit - ResultTable[row][ch];
      CmdText += PassFail(margin) + Q;
      Send(CmdText);
      RecordReading("CH" + Whole(ch) + (row == 1 ? " lower" : " upper") + " linearity",
                    Val(reading_text), margin);
    }
  }

  Single shown_limit = limit;
  Single limit_format = 2.1f;
  const std::string limit_line =
      std::string(13, ' ') + "LIMIT:  " + NrToStr(shown_limit, limit_format) + "%";
  Mess(5, limit_line);
  BackToMenu();
}

}  // namespace kc
