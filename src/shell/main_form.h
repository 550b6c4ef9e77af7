// The main window: the shared state of the checkout and every procedure of the
// shell, the result display and the checks (each check in its own unit under
// src/checks).
#pragma once

#include <string>

#include "link/instrument_ops.h"
#include "platform/platform.h"
#include "platform/types.h"

namespace kc {

class MainForm {
 public:
  explicit MainForm(InstrumentOps& ops);

  // Load, then activation; ends only by throwing ProgramEnd.
  [[noreturn]] void Run();

  // Start-up, intro, menu, closing.
  void Form_Load();
  void Intro(Integer& seconds);
  [[noreturn]] void Form_Activate();
  [[noreturn]] void Form_Unload();

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

  static constexpr const char* kModelTable = "    2430 2430A2431L2432 2432A2439L2440";
  static constexpr const char* kReleaseMark = " (2026-12)";

  InstrumentOps& ops() { return ops_; }

 protected:
  // Screen-line helpers shared by the checks.
  // "MESS" + Str(n) + ":" + Q + text + Q
  void Mess(int line, const std::string& text);
  // "MESS CLR," + n + ":" + Q + text + Q
  void MessClr(int line, const std::string& text);
  void Send(const std::string& command) { ops_.WriteDev(dev, command); }
  std::string Query(const std::string& command) { return ops_.QueryDev(dev, command); }
  void Delay(Single seconds) { ops_.Delay(seconds); }
  // SRQWait then xEvent: the technician's answer.
  Integer WaitForTechnician();

 private:
  InstrumentOps& ops_;
  Platform& platform_;
};

inline constexpr char Q = '"';

}  // namespace kc
