// CCD charge transfer efficiency (2430, 2430A) or position effect (the other
// models): a fast-rise pulse is measured in percent with the voltage cursors
// after the trace has been moved by a fixed offset; the reading must not
// exceed the model's limit on either channel.
#include <cfloat>
#include <cmath>
#include <string>

#include "display/number_text.h"
#include "shell/main_form.h"

namespace kc {

namespace {

struct CteVariant {
  const char* title;
  Integer first_cursor;
  Integer second_cursor;
  Single offset;
  Single limit;
  const char* label;
  const char* item;  // in the record, after the channel
};

constexpr CteVariant kChargeTransfer = {
    "* CCD CHARGE TRANSFER EFFICIENCY CHECK *",
    10,
    30,
    -3.9f,
    4.0f,
    "\\c\\c\\d\\0\\c\\h\\a\\r\\g\\e\\0\\t\\r\\a\\n\\s\\f\\e\\r\\0\\e\\f\\f\\i\\c\\i\\e\\n\\c\\y",
    " charge transfer"};
constexpr CteVariant kPositionEffect = {"     *** POSITION EFFECT CHECK ***",
                                        5,
                                        20,
                                        -3.5f,
                                        8.0f,
                                        "    \\p\\o\\s\\i\\t\\i\\o\\n\\0\\e\\f\\f\\e\\c\\t",
                                        " position effect"};

// Largest reading x 10 that the one-decimal rounding can hold (16 bits).
constexpr double kMaxTenths = 32767;

// The time-cursor position of a cursor index, as a whole number text.
std::string CursorPosition(MainForm& form, Integer index) {
  Single position = static_cast<Single>(index * 10.24 + 511);
  Single format = 3.0f;
  return form.NrToStr(position, format);
}

}  // namespace

void MainForm::CCDcte() {
  const CteVariant& variant = ModelIndex < 3 ? kChargeTransfer : kPositionEffect;
  const Single limit = variant.limit;

  CmdText = std::string("MESS CLR,9:") + Q + variant.title + Q;
  Send(CmdText);
  Delay(2);
  Send("MESS CLR;CH1 VOL:.01,FIF,POS:2.5");
  Send("CH2 VOL:.01,FIF,POS:2.5;VMO CH1");
  Send("ATR LEV:-.01;HOR ASEC:1E-7;ACQ MOD:AVG,NUMAV:4");
  Mess(16, "CONNECT PG 506 FAST RISE, 1 MH\\&, TO CH1");
  Mess(15, "ADJUST AMPLITUDE TO A 5 DIVISION DISPLAY");
  if (!Ready()) return;
  Send("HOR ASEC:5E-9;ACQ NUMAV:256");

  for (Integer ch = 1; ch <= 2; ++ch) {
    Send("MESS CLR;HOR POS:512;CURS FUN:V.T,UNI:VOL:PERC");
    Send("CURS TPOS:ONE:307,TPOS:TWO:717;ACQ REP");
    BarGraph(10, 9, 16, "PLEASE WAIT ");
    Send("CURS NEWR;HOR POS:615");
    Send("CURS TPOS:ONE:" + CursorPosition(*this, variant.first_cursor));
    Send("CURS NEWR,TPOS:TWO:" + CursorPosition(*this, variant.second_cursor));
    Send("ACQ REP:OFF");
    Send("MESS CLR;CH" + Whole(ch) + " POS:" + PlainNumber(variant.offset) + ";ACQ REP");
    BarGraph(10, 9, 16, "PLEASE WAIT ");
    Send("MESS CLR");

    const std::string reply = Query("CURS?DISP:VAL");
    const Single reading = static_cast<Single>(Val(reply));
    if (reading > limit) ResultTable[2][1] = 1;
    // Kept to one decimal; a reading too large for that is kept as read and
    // counts as failed.
    const double tenths = std::nearbyint(Val(reply) * 10);
    if (std::fabs(tenths) > kMaxTenths) {
      ResultTable[2][1] = 1;
      ResultTable[1][ch] = reading;
    } else {
      ResultTable[1][ch] = static_cast<Single>(tenths / 10);
    }

    Send("CURS FUN:OFF;VMO CH" + Whole(ch) + ":OFF;MESS CLR;ACQ REP:OFF");
    if (ch == 1) {
      Mess(9, "           MOVE SIGNAL TO CH2");
      if (!Ready()) return;
      Send("VMO CH2");
    }
  }

  VerdictLine("MESS CLR,11:", std::string("  ") + variant.label + "  ", ResultTable[2][1]);

  for (Integer ch = 1; ch <= 2; ++ch) {
    Single format = 3.1f;
    // The table cell becomes the rounded magnitude; the verdict is taken on it.
    const std::string reading_text = NrToStr(ResultTable[1][ch], format);
    const Single margin = ResultTable[1][ch] - limit;
    CmdText = "MESS " + Whole(10 - ch) + ":" + Q + std::string(12, ' ') + "CH" + Whole(ch) + ":" +
              reading_text + "% " + PassFail(margin) + Q;
    Send(CmdText);
    RecordReading("CH" + Whole(ch) + variant.item, Val(reading_text), margin);
  }

  Single shown_limit = limit;
  Single limit_format = 2.1f;
  const std::string limit_line = "          LIMIT: " + NrToStr(shown_limit, limit_format) + "%";
  Mess(6, limit_line);
  BackToMenu();
}

}  // namespace kc
