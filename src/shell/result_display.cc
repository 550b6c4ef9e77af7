// The main window's result presentation: the display texts written to the
// window's instrument.
#include "display/result_format.h"
#include "shell/main_form.h"

namespace kc {

std::string MainForm::NrToStr(Single& value, Single& format) {
  return kc::NrToStr(value, format);
}

std::string MainForm::PassFail(Single margin) {
  std::string verdict = kc::PassFail(margin);
  ++(verdict == "PASS" ? passes_shown : fails_shown);
  return verdict;
}

void MainForm::BarGraph(Integer steps, Integer indent, Integer line, const std::string& text) {
  // One step a second, each built in the command buffer.
  for (int step = 1; step <= steps; ++step) {
    CmdText = BarGraphCommand(steps, indent, line, text, step);
    Send(CmdText);
    Delay(1);
  }
}

}  // namespace kc
