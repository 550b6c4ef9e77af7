#include "shell/main_form.h"

#include <cmath>
#include <limits>
#include <optional>

#include "display/number_text.h"
#include "kc_version.h"
#include "record/run_recorder.h"
#include "shell/intro_form.h"
#include "shell/sequence.h"

namespace kc {

namespace {

// Longest run of status bytes the wait drains before it waits all the same: an
// instrument whose request never clears must not hold the program for ever.
constexpr int kMaxDrainPolls = 64;
// "EVE?" answers before the event queue counts as empty whatever it says.
constexpr int kMaxClearQueries = 100;

// The leading number the lenient way: leading blanks skipped, digits as far as
// they go, 0 when there are none.
long LeadingDigits(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 1000000) break;  // large enough to count as "not 0"
  }
  return value;
}

struct MenuPageText {
  const char* upper;
  const char* lower;
};

constexpr MenuPageText kPage1A = {"  ATTEN   CCD     SAMPL   PAGE    QUIT",
                                  "  COMP    CTE     SKEW    TWO"};
constexpr MenuPageText kPage1B = {"  ATTEN   POS     SAMPL   PAGE    QUIT",
                                  "  COMP   EFFECT   SKEW    TWO"};
constexpr MenuPageText kPages[] = {
    kPage1A,
    {"  CCD     VERT    CMRR    PAGE    PAGE", "  LIN     ACC             THREE   ONE"},
    {" BAND-   TIMING   CALI-   PAGE    PAGE", " WIDTH            BRATOR  FOUR    TWO  "},
    {"   A       B      EXT     PAGE    PAGE", "  TRIG    TRIG   TRIGS    ONE     THREE"},
};

}  // namespace

MainForm::MainForm(InstrumentOps& ops) : ops_(ops), platform_(ops.platform()) {}

void MainForm::Run() {
  platform_.SetCloseHandler([this] { CloseRequested(); });
  Form_Load();
  Form_Activate();
}

void MainForm::Form_Load() {
  TitleText = "Kalventa Checkout";
  VersionText = kVersion;
  PeriodText = "1994-2026";
  CreditText = "guided performance checkout over GPIB";
  platform_.SetCaption(TitleText + ", v" + VersionText + kReleaseMark);

  Integer seconds = 2;
  Intro(seconds);

  ops_.DefaultTimeout = 12;
  ops_.FindListeners(1);
  std::string id_query = "ID?";
  std::string expected = "!244";
  dev = ops_.FindDevice(id_query, expected);
  if (dev == 0) {
    id_query = "ID?";
    expected = "243";
    dev = ops_.FindDevice(id_query, expected);
  }

  std::string reply = ops_.QueryDev(dev, "ID?");
  std::size_t comma = reply.find(',');
  if (comma == std::string::npos) {
    // Without a "," the reply names no model; nothing sensible can follow.
    platform_.MessageBox("ID Query: ID?\n\nReceived Response: " + reply +
                             "\n\nThe response names no model (no \",\" after the model name).\n\n"
                             "Correct problem and restart.",
                         "Unexpected Id-response", MsgIcon::kCritical, MsgButtons::kOk);
    platform_.EndProcess(kExitFatal);
  }
  ModelText = reply.substr(0, comma);
  std::size_t slash = ModelText.find('/');
  if (slash != std::string::npos) ModelText = ModelText.substr(slash + 1);

  // Position counted from 1 (an empty name is found at 1), divided by 5 and
  // rounded half to even.
  std::string table = kModelTable;
  std::size_t found = table.find(ModelText);
  double position = found == std::string::npos ? 0.0 : static_cast<double>(found + 1);
  ModelIndex = static_cast<Integer>(std::nearbyint(position / 5.0));

  const Integer address = ops_.DeviceAddress(dev);
  platform_.SetHint(Hint());
  if (recorder != nullptr) recorder->BeginRun(BusText, address, reply);
}

std::string MainForm::Hint() {
  return "Use the Bezel Buttons of the " + ModelText + " on GPIB address" +
         Str(ops_.DeviceAddress(dev));
}

void MainForm::Intro(Integer& seconds) {
  if (seconds <= 0 || TitleText.empty()) return;
  std::string text = TitleText;
  if (!VersionText.empty()) text += ", v" + VersionText;
  if (!PeriodText.empty()) text += " / " + PeriodText;
  if (!CreditText.empty()) text += " - " + CreditText;
  // The timer counts milliseconds in 16 bits: longer intros are cut to the
  // longest interval it can hold rather than overflowing.
  long interval = static_cast<long>(seconds) * 1000;
  if (interval > std::numeric_limits<Integer>::max())
    interval = std::numeric_limits<Integer>::max();
  IntroForm intro(platform_);
  intro.ShowModal(text, static_cast<Integer>(interval));
}

void MainForm::Form_Activate() {
  platform_.PumpEvents();
  LastButton = 1;
  Integer menu_page = 1;
  // Formed in 32 bits: a wild button number must not overflow the code.
  long menu_code = 1;
  std::string frame_row(1, Q);
  for (int i = 0; i < 40; ++i) frame_row += "\\0";
  frame_row += Q;

  Send("INIT GPI;PATH OFF;USE;BELL");
  ClearEvents();
  Sequence sequence(*this, sequence_list);

  for (;;) {
    if ((LastButton < 4 && menu_code > 0) || LastButton > 200) {
      Send("INIT PANEL;VMO CH1:OFF;ATR MOD:AUTO");
      Send("MESS CLR,14:" + frame_row);
      Send(std::string("MESS 12:") + Q + "       *** KALVENTA CHECKOUT ***" + Q);
      Send(std::string("MESS 11:") + Q + "  *** " + VersionText + " / " + PeriodText + " ***" + Q);
      Send(std::string("MESS 10:") + Q + "   GUIDED CHECKOUT FOR THE 2430 FAMILY" + Q);
      Send("MESS 9:" + frame_row);
      Send(std::string("MESS 5:") + Q + "  PRESS MENU OFF TWICE TO EXIT A TEST" + Q);
    }
    for (int row = 1; row <= 12; ++row) {
      ResultTable[row][1] = 0;
      ResultTable[row][2] = 0;
    }
    const MenuPageText& page =
        menu_page == 1 ? (ModelIndex < 3 ? kPage1A : kPage1B) : kPages[menu_page - 1];
    Send(std::string("MESS 2:") + Q + page.upper + Q);
    Send(std::string("MESS 1:") + Q + page.lower + Q);

    Integer button = 0;
    if (std::optional<Integer> chosen = sequence.Choose(menu_page)) {
      button = *chosen;
    } else {
      SRQWait();
      button = xEvent();
    }
    LastButton = button;
    menu_code = (menu_page - 1) * 5L + button;

    if (menu_code > 200) Form_Unload();
    switch (menu_code) {
      case 1:
        RunCheck("atten-comp", [this] { AttenComp(); });
        break;
      case 2:
        RunCheck(ModelIndex < 3 ? "ccd-cte" : "pos-effect", [this] { CCDcte(); });
        break;
      case 3:
        RunCheck("sampl-skew", [this] { SamplSkew(); });
        break;
      case 4:
        menu_page = 2;
        break;
      case 5:
        Form_Unload();
      case 6:
        RunCheck("ccd-lin", [this] { CCDlin(); });
        break;
      case 7:
        RunCheck("vert-acc", [this] { VertAcc(); });
        break;
      case 8:
        RunCheck("cmrr", [this] { CMRR(); });
        break;
      case 9:
        menu_page = 3;
        break;
      case 10:
        menu_page = 1;
        break;
      case 11:
        RunCheck("bandwidth", [this] { BandWidth(); });
        break;
      case 12:
        RunCheck("timing", [this] { Timing(); });
        break;
      case 13:
        RunCheck("calibrator", [this] { Calibrator(); });
        break;
      case 14:
        menu_page = 4;
        break;
      case 15:
        menu_page = 2;
        break;
      case 16:  // A trigger
      case 17:  // B trigger
        RunCheck(menu_code == 16 ? "a-trig" : "b-trig", [this] { Trigger(LastButton); });
        break;
      case 18:
        RunCheck("ext-trigs", [this] { ExtTrig(); });
        break;
      case 19:
        menu_page = 1;
        break;
      case 20:
        menu_page = 3;
        break;
      default:
        break;  // no action: the menu is drawn again
    }
  }
}

void MainForm::CloseRequested() {
  // Closed before the instrument was found: nothing on the bus to rest.
  if (dev == 0) platform_.EndProcess(kExitInterrupted);
  Form_Unload(kExitInterrupted);
}

void MainForm::Form_Unload(int exit_code) {
  platform_.MarkClosing();
  Send(std::string("MESS CLR,9:") + Q + "         *** CLOSING PROGRAM ***" + Q);
  Delay(2);
  CmdText = "INIT BOTH;CH1 COU:GND,POS:+.5";
  Send(CmdText);
  Send("VMO CH2;CH2 COU:GND,POS:-.5");
  platform_.EndProcess(exit_code);
}

void MainForm::SRQWait() {
  GpibBinding& gpib = ops_.gpib();
  Integer status = 0;
  int polls = 0;
  do {
    gpib.ibrsp(dev, status);
    ops_.CheckGpibError();
  } while (status != 0 && status != 16 && ++polls < kMaxDrainPolls);
  gpib.ibwait(dev, gpib::RQS);
  ops_.CheckGpibError();
  // A close request ends the wait for the technician: let it run now.
  if (platform_.close_pending()) platform_.PumpEvents();
}

Integer MainForm::xEvent() {
  std::string reply = ops_.QueryDev(dev, "EVE?");
  double result = std::nearbyint(Val(reply) - 449);
  // A reply that is no number, or whose event code does not fit an Integer,
  // reads as the reply 0: an event without meaning.
  if (!(result >= std::numeric_limits<Integer>::min() &&
        result <= std::numeric_limits<Integer>::max())) {
    result = -449;
  }
  last_event = static_cast<Integer>(result);
  return last_event;
}

void MainForm::ClearEvents() {
  for (int i = 0; i < kMaxClearQueries; ++i) {
    if (LeadingDigits(ops_.QueryDev(dev, "EVE?")) == 0) return;
  }
}

}  // namespace kc
