// The main window: the shared state of the checkout and every procedure of the
// shell, the result display and the checks (each check in its own unit under
// src/checks).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/instrument_ops.h"
#include "platform/platform.h"
#include "platform/types.h"

namespace kc {

class RunRecorder;

class MainForm {
 public:
  explicit MainForm(InstrumentOps& ops);

  // Load, then activation; ends only by throwing ProgramEnd.
  [[noreturn]] void Run();

  // Start-up, intro, menu, closing.
  void Form_Load();
  void Intro(Integer& seconds);
  [[noreturn]] void Form_Activate();
  // The closing sequence, then the end with `exit_code`: kExitClosed for QUIT
  // and MENU OFF twice in the menu.
  [[noreturn]] void Form_Unload(int exit_code = kExitClosed);
  // A close request (Ctrl-C, a closed terminal, the window's close mark): the
  // closing sequence, ended with kExitInterrupted; at once, with nothing sent,
  // while no instrument is open.
  [[noreturn]] void CloseRequested();

  // Bezel-button events.
  void SRQWait();
  Integer xEvent();
  void ClearEvents();

  // Result presentation.
  std::string NrToStr(Single& value, Single& format);
  std::string PassFail(Single margin);
  void BarGraph(Integer steps, Integer indent, Integer line, const std::string& text);

  // The checks.
  void AttenComp();
  void BandWidth();
  void Calibrator();
  void CCDcte();
  void CCDlin();
  void CMRR();
  void ExtTrig();
  void SamplSkew();
  void Timing();
  void Trigger(Integer& button);
  void VertAcc();

  // Shared state.
  Integer dev = 0;
  std::string TitleText;
  std::string VersionText;
  std::string PeriodText;
  std::string CreditText;
  std::string ModelText;
  Integer ModelIndex = 0;
  Integer LastButton = 0;
  std::string CmdText;
  Single ResultTable[13][3] = {};
  // Checks to run in one go from the menu (shell/sequence.h); empty: none.
  std::vector<std::string> sequence_list;
  // The last event number xEvent read.
  Integer last_event = 0;
  // Verdicts shown so far (PassFail's texts): passes and fails.
  int passes_shown = 0;
  int fails_shown = 0;

  // The hint line under the caption: the model and its GPIB address.
  std::string Hint();

  // The checkout record of this run; null when recording is off. Set, with
  // the bus's name, before Run.
  RunRecorder* recorder = nullptr;
  std::string BusText;

  static constexpr const char* kModelTable = "    2430 2430A2431L2432 2432A2439L2440";
  static constexpr const char* kReleaseMark = " (2026-12)";

  InstrumentOps& ops() { return ops_; }

 protected:
  // The prompts on line 1 that the checks share.
  static constexpr const char* kReadyPrompt = "    PRESS ANY BEZEL BUTTON WHEN READY";
  static constexpr const char* kContinuePrompt = "   PRESS ANY BEZEL BUTTON TO CONTINUE";
  static constexpr const char* kMenuPrompt = "  PRESS ANY BEZEL BUTTON FOR MAIN MENU";

  // Steps and endings shared by the checks (check_steps.cc).
  // "MESS" + Str(n) + ":" + Q + text + Q
  void Mess(int line, const std::string& text);
  // "MESS CLR," + n + ":" + Q + text + Q
  void MessClr(int line, const std::string& text);
  void Send(const std::string& command) { ops_.WriteDev(dev, command); }
  std::string Query(const std::string& command) { return ops_.QueryDev(dev, command); }
  void Delay(Single seconds) { ops_.Delay(seconds); }
  // The check's title on line 9 of a cleared screen, left up for two seconds.
  void Title(const std::string& text);
  // SRQWait then xEvent: the technician's answer.
  Integer WaitForTechnician();
  // The technician's answer: true for a press, false when they leave the
  // check (an event above 200).
  bool Pressed();
  // The ready prompt on line 1, then the answer as Pressed gives it.
  bool Ready();
  // The same with the prompt to continue.
  bool GoOn();
  // A check's verdict line, composed in CmdText and sent: `head` ("MESS 10:",
  // "MESS CLR,12:"), then in quotes `text` and PassFail(fail), and ";BELL"
  // behind when `fail` is not 0.
  void VerdictLine(const std::string& head, const std::string& text, Single fail);
  // The end of a check: the main-menu prompt on line 1 and SRQWait alone (the
  // press is left for the menu).
  void BackToMenu();

  // The trigger checks' shared steps. The level of trigger `trigger` ("ATR",
  // "BTR") walks through seven one-division steps of 1/`steps_per_volt` V up
  // with positive slope, then down with negative slope, one a second.
  void WalkTriggerLevel(const std::string& trigger, Single steps_per_volt);
  // The four couplings, each with where the trigger mark must sit; a wait to
  // continue after each but the last. False when the technician leaves.
  bool ShowTriggerCouplings(const std::string& trigger);

  // The run's record (check_record.cc); each does nothing while recording
  // is off. A verdict line of the screen: `item` as the record names it, the
  // reading as shown and the margin PassFail judged the line by.
  void RecordReading(const std::string& item, double shown, Single margin);
  // A technician's event at a question of a check judged by eye: a button
  // (1 to 5) or MENU OFF (above 200); other events are no press.
  void RecordPress(Integer event);

 private:
  // One check chosen from the menu, recorded from its start to its end.
  void RunCheck(std::string_view name, const std::function<void()>& check);
  // The check has ended, `completed` or left; a completed check judged by eye
  // first asks the technician for their verdict. Once per check.
  void FinishCheck(bool completed);

  InstrumentOps& ops_;
  Platform& platform_;
  // The running check, for its record: whether it is judged by eye, whether
  // it has been ended and the question on line 1.
  bool check_by_eye_ = false;
  bool check_finished_ = true;
  std::string question_;
};

inline constexpr char Q = '"';

}  // namespace kc
