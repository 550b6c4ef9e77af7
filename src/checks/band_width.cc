// Bandwidth: for each channel the amplitude at the reference frequency (50 kHz,
// set to 6 divisions) and at the model's test frequency (150 or 300 MHz) are
// read back; the high-frequency amplitude must stay at 70 % of the reference
// for the overall verdict and at 70.8 % (rounded measurement) on the channel's
// own line.
#include <cfloat>
#include <limits>
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

void MainForm::BandWidth() {
  // Peak-to-peak amplitude of the selected source from its extremes, in
  // divisions x 4.
  auto amplitude = [this] {
    const double minimum = Val(Query("MINI?"));
    const double maximum = Val(Query("MAX?"));
    return ToSingle((maximum - minimum) * 4);
  };

  Title("         *** BANDWIDTH CHECK ***");
  std::string frequency;
  if (ModelIndex >= 3) {
    CmdText = "SG 504";
    frequency = "300";
  } else {
    CmdText = "SG 503";
    frequency = "150";
  }
  Send("MESS CLR;VMO CH1;CH1 FIF;CH2 FIF");
  Send("HOR ASEC:5E-6;ACQ REP:ON;DAT SOU:CH1");
  CmdText = std::string("MESS CLR,16:") + Q + "CONNECT " + CmdText + ", 50 \\4H\\&, TO CH1" + Q;
  Send(CmdText);
  Mess(15, "ADJUST AMPLITUDE FOR 6 DIVISIONS P-P");

  for (Integer ch = 1; ch <= 2; ++ch) {
    if (!Ready()) return;
    Send("DAT SOU:CH" + Whole(ch));
    ResultTable[1][ch] = amplitude();

    CmdText = ModelIndex < 3 ? "5" : "2";
    Send("HOR ASEC:" + CmdText + "E-9;ACQ REP:OFF");
    MessClr(16, "CHANGE THE FREQUENCY TO " + frequency + " MH\\&");
    if (!Ready()) return;
    Send("MESS CLR;ACQ REP:ON");
    BarGraph(6, 9, 16, "PLEASE WAIT ");
    // The 2430 settles more slowly at the test frequency.
    if (ModelIndex == 1) BarGraph(6, 9, 16, "PLEASE WAIT ");
    Send("RUN SAVE");
    ResultTable[2][ch] = amplitude();

    // A channel without a reference amplitude has no ratio: it fails.
    if (ResultTable[1][ch] == 0) {
      ResultTable[3][1] = 1;
    } else {
      const Single ratio = ResultTable[2][ch] / ResultTable[1][ch];
      if (ratio < 0.7f) ResultTable[3][1] = 1;
    }
    Send("VMO CH" + Whole(ch) + ":OFF");
    Send("RUN ACQ");

    if (ch == 1) {
      Send("VMO CH1:OFF;HOR ASEC:5E-6");
      MessClr(9, "           MOVE SIGNAL TO CH2");
      if (!Ready()) return;
      Send("VMO CH2;ATR SOU:CH2");
      MessClr(16, "CHANGE THE FREQUENCY TO 50 \\4H\\&");
      Mess(15, "ADJUST AMPLITUDE FOR 6 DIVS");
    }
  }

  VerdictLine(
      "MESS CLR,12:", std::string(12, ' ') + "\\b\\a\\n\\d\\w\\i\\d\\t\\h" + std::string(11, ' '),
      ResultTable[3][1]);
  Mess(10, "            \\l\\i\\m\\i\\t\\    \\m\\e\\a\\s\\u\\r\\e\\d");

  for (Integer ch = 1; ch <= 2; ++ch) {
    // The limit is a copy; the measured amplitude is rounded in the table.
    Single limit = ToSingle(static_cast<double>(ResultTable[1][ch]) * 0.708);
    Single limit_format = 4;
    Single measured_format = 7;
    const std::string limit_text = NrToStr(limit, limit_format);
    const std::string measured_text = NrToStr(ResultTable[2][ch], measured_format);
    // Without a reference amplitude the channel fails on its own line too,
    // and has no ratio.
    Single margin = 1;
    double ratio = std::numeric_limits<double>::quiet_NaN();
    if (ResultTable[1][ch] != 0) {
      ratio = static_cast<double>(ResultTable[2][ch] / ResultTable[1][ch]);
      margin = ToSingle(0.708 - ratio);
    }
    CmdText = "MESS " + Whole(9 - ch) + ":" + Q + "    CH" + Whole(ch) + ":   " + limit_text +
              " \\;V" + measured_text + " \\;V    " + PassFail(margin) + Q;
    Send(CmdText);
    RecordReading("CH" + Whole(ch) + " bandwidth ratio", ratio, margin);
  }

  BackToMenu();
}

}  // namespace kc
