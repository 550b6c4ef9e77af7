// Vertical accuracy: both channels at eleven volts/division settings from
// 2 mV to 5 V, each reading of the PG 506 standard amplitude judged against
// +/-2.0 % of the amplitude +/-0.04 division, with a table of all errors at
// the end. An optional self-calibration of the instrument comes first.
#include <cfloat>
#include <cmath>
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

namespace {

// Marks of a failed reading in `ResultTable`: the error plus 1000. An error
// of -200 % or below (a reading of the inverted signal) would land at or below
// 800 that way and read back as a pass, so it is marked minus 1000 instead;
// errors of readings within the limits stay far from both marks.
constexpr Single kFailMark = 1000;
constexpr Single kMarkThreshold = 800;

Single MarkFailed(Single err) {
  return err > -200 ? err + kFailMark : err - kFailMark;
}

}  // namespace

void MainForm::VertAcc() {
  // Opening and self-calibration.
  Title("    *** VERTICAL ACCURACY CHECK ***");
  Mess(9, "DO YOU WANT A SELFCAL TO BE PERFORMED ?");
  Mess(1, "  YES      NO");
  do {
    LastButton = WaitForTechnician();
    if (LastButton == 1) {
      Send(std::string("MESS CLR;MESS 9:") + Q + "          SELFCAL IN PROGRESS " + Q);
      Send("TESTT SELFC;EXE");
      SRQWait();
    }
  } while (LastButton >= 3);

  // Set-up.
  Send("VMO CH1;CH1 POS:-2.5,VOL:0.002;HOR ASEC:2E-4;ATR LEV:0.005,COU:HFR;RUN ACQ");
  MessClr(16, "CONNECT PG 506, 10\\;V STANDARD AMPLITUDE");
  Mess(15, "TO CH1 AND CH2");
  if (!Ready()) return;
  Send("CH2 POS:-2.5");
  Send("ATR MODE:SGL;HOR ASEC:5E-5;MEN;USE ON");
  ClearEvents();

  // Measurement: 1, 2, 5 times each decade, from 2 mV/div.
  Integer average_exponent = 9;
  for (Integer e = -3; e <= 0; ++e) {
    for (Integer k = 0; k <= 2; ++k) {
      if (e == -3 && k == 0) continue;
      const int row = 3 * e + k + 9;

      if (average_exponent > 5) --average_exponent;
      const std::string average = Whole(1L << average_exponent);
      Send("ACQ NUMAV:" + average);

      const double decade = std::pow(10.0, e);
      const Single vdiv = static_cast<Single>(std::floor(std::pow(2.25, k)) * decade);
      const Single ampl = static_cast<Single>(std::floor(std::pow(2.0, k)) * 5 * decade);

      // "SET PG 506 TO" amplitude, in millivolts below 100 mV/div.
      std::string ampl_text =
          e < -1 ? Str(static_cast<Single>(static_cast<double>(ampl) * 1000)) + "\\;V" + Q
                 : Str(ampl) + "V" + Q;
      if (Val(ampl_text) < 1) ampl_text = " 0" + ampl_text.substr(ampl_text.find_first_not_of(' '));

      Single level = static_cast<Single>(0.8 * static_cast<double>(ampl));
      Single level_format = 1.3f;
      CmdText = "CH1 VOL:" + PlainNumber(vdiv) + ";CH2 VOL:" + PlainNumber(vdiv) +
                ";ATR LEV:" + NrToStr(level, level_format) + ";MEN";
      Send(CmdText);
      ClearEvents();

      if (vdiv != 0.002f) {
        Send("BELL;MESS CLR;INTENSI REA:65");
        Send(std::string("MESS 9:") + Q + "          SET PG 506 TO" + ampl_text);
      }
      for (int i = 0; i < 2; ++i) {
        Send("RUN ACQ");
        if (!Pressed()) return;
      }
      Send("ACQ MOD:AVG;CURS FUN:V.T;MEN");
      ClearEvents();

      for (int ch = 1; ch <= 2; ++ch) {
        Send("VMO CH" + Whole(ch) + ",CH" + Whole(3 - ch) + ":OFF;RUN ACQ");
        Mess(1, "    TEST RUNNING WITH AVERAGE = " + average);
        SRQWait();
        Send("MEN");
        ClearEvents();
        const Single meas = ToSingle(Val(Query("CURS?DISP:VAL")));
        Single err = ToSingle(static_cast<double>(meas) * 100 / static_cast<double>(ampl) - 100);
        const Single low = static_cast<Single>(static_cast<double>(ampl) * 0.98 -
                                               static_cast<double>(vdiv) * 0.04);
        const Single high = static_cast<Single>(static_cast<double>(ampl) * 1.02 +
                                                static_cast<double>(vdiv) * 0.04);
        if (!(low <= meas && meas <= high)) {
          ResultTable[12][1] = 1;
          err = MarkFailed(err);
        }
        ResultTable[row][ch] = err;
      }
      Send("CURS FUN:OFF;INTENSI REA:0;VMO CH2:OFF;ACQ MOD:NOR;MEN");
      ClearEvents();
    }
  }

  // Result screen.
  Send("INTENSI REA:65");
  VerdictLine("MESS 16:", "          \\v\\e\\r\\t\\i\\c\\a\\l\\0\\a\\c\\c\\u\\r\\a\\c\\y     ",
              ResultTable[12][1]);
  Mess(15, "  \\v\\o\\l\\t\\?\\d\\i\\v   \\c\\h\\A" + std::string(11, ' ') + "\\c\\h\\B");
  for (Integer e = -3; e <= 0; ++e) {
    for (Integer k = 0; k <= 2; ++k) {
      if (e == -3 && k == 0) continue;
      const int row = 3 * e + k + 9;
      const double steps = std::floor(std::pow(2.25, k)) * std::pow(10.0, e);
      const std::string number =
          e <= -1 ? Str(static_cast<Single>(steps * 1000)) : Str(static_cast<Single>(steps));
      const std::string label = number + (e <= -1 ? "\\;" : "\\$");
      CmdText = "   " + (label + "V" + "  ").substr(0, 6);
      for (int ch = 1; ch <= 2; ++ch) {
        Single v = ResultTable[row][ch];
        const Single margin = std::fabs(v) - kMarkThreshold;
        if (v > kMarkThreshold) v -= kFailMark;
        if (v < -kMarkThreshold) v += kFailMark;
        Single format = 6.1f;
        const std::string error_text = NrToStr(v, format);
        CmdText += error_text + "% " + PassFail(margin);
        RecordReading("CH" + Whole(ch) + number + (e <= -1 ? " mV/div" : " V/div"), Val(error_text),
                      margin);
      }
      Mess(15 - row, CmdText);
    }
  }
  Mess(2, "       LIMIT: +/-2.0% +/-0.04 DIV");
  BackToMenu();
}

}  // namespace kc
