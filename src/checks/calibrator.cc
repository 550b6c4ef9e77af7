// Calibrator signal: the amplitude of the instrument's own calibrator output,
// measured through CH1 against a gain reference taken from the PG 506's
// 500 mV standard amplitude, must lie between 396 and 404 mV.
#include <cfloat>
#include <cmath>
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

namespace {

// The gain factor from the reading of the 500 mV reference. A reading of 0 (an
// empty reply after a time-out, no signal) or one so small that the factor
// would not fit a Single gives no usable reference: the factor is 0, so the
// calibrator value comes out as 0 and fails the limits.
Single GainFactor(double reference) {
  if (reference == 0) return 0;
  const double factor = 0.5 / reference;
  if (!std::isfinite(factor) || std::fabs(factor) > FLT_MAX) return 0;
  return static_cast<Single>(factor);
}

}  // namespace

void MainForm::Calibrator() {
  // Gain reference.
  Title("    *** CALIBRATOR SIGNAL CHECK ***");
  Send("VMO CH1;HOR ASEC:.1E-3;ATR LEV:0.25;CH1 POS:-2.5");
  MessClr(16, "CONNECT PG 506, 500\\;V STANDARD AMPLITUDE");
  Mess(15, "TO CH1");
  if (!Ready()) return;
  Send("MESS CLR;CURS FUN:V.T");
  Send("CURS TPOS:ONE:387,TPOS:TWO:637");
  Send("ACQ MOD:AVG,NUMAV:128");
  BarGraph(5, 12, 16, "PLEASE WAIT ");
  const double reference = Val(Query("CURS?DISP:VAL"));
  const Single gain = GainFactor(reference);

  // Calibrator.
  Send("CURS FUN:OFF;ACQ MOD:NOR;CH1 POS:-2");
  MessClr(16, "CONNECT THE CALIBRATOR SIGNAL TO CH1");
  Mess(15, "VIA A X1 PROBE OR APPROPRIATE ADAPTER");
  if (!Ready()) return;
  Send("VMO CH1;HOR ASEC:.5E-3;ACQ MOD:AVG;ATR LEV:0.2");
  Send("MESS CLR;CURS FUN:V.T");
  Send("CURS TPOS:ONE:462,TPOS:TWO:562");
  BarGraph(5, 12, 16, "PLEASE WAIT ");
  const Single value = ToSingle(Val(Query("CURS?DISP:VAL")) * static_cast<double>(gain));

  // Verdict: both limits count as inside.
  constexpr Single kLow = 0.396f;
  constexpr Single kHigh = 0.404f;
  if (!(kLow <= value && value <= kHigh)) ResultTable[1][1] = 1;

  Send("VMO CH1:OFF;CURS FUN:OFF;MESS CLR");
  VerdictLine("MESS 10:", "         \\c\\a\\l\\b\\r\\a\\t\\o\\r\\0\\s\\i\\g\\n\\a\\l  ",
              ResultTable[1][1]);
  Single shown = ToSingle(static_cast<double>(value) * 1000.0);
  Single format = 3.1f;
  const std::string calculated = NrToStr(shown, format);
  CmdText = std::string("MESS 8:") + Q + "         CALCULATED: " + calculated + "\\;V" + Q;
  Send(CmdText);
  RecordReading("calibrator amplitude", Val(calculated), ResultTable[1][1]);
  CmdText = std::string("MESS 6:") + Q + std::string(9, ' ') + "LIMIT: 396.0 - 404.0 \\;V" + Q;
  Send(CmdText);
  BackToMenu();
}

}  // namespace kc
