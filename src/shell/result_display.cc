// The main window's result presentation: the display functions with the
// window's instrument, descriptor and command buffer.
#include "display/result_format.h"
#include "shell/main_form.h"

namespace kc {

std::string MainForm::NrToStr(Single& value, Single& format) {
  return kc::NrToStr(value, format);
}

std::string MainForm::PassFail(Single margin) {
  return kc::PassFail(margin);
}

void MainForm::BarGraph(Integer steps, Integer indent, Integer line, const std::string& text) {
  kc::BarGraph(ops(), dev, CmdText, steps, indent, line, text);
}

}  // namespace kc
