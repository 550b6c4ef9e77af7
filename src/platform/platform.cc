#include "platform/platform.h"

namespace kc {

std::vector<MsgAnswer> BoxAnswers(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::kOkCancel:
      return {MsgAnswer::kOk, MsgAnswer::kCancel};
    case MsgButtons::kVerdict:
      return {MsgAnswer::kPass, MsgAnswer::kFail, MsgAnswer::kNotJudged};
    case MsgButtons::kOk:
      break;
  }
  return {MsgAnswer::kOk};
}

MsgAnswer UnattendedAnswer(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::kOkCancel:
      return MsgAnswer::kCancel;
    case MsgButtons::kVerdict:
      return MsgAnswer::kNotJudged;
    case MsgButtons::kOk:
      break;
  }
  return MsgAnswer::kOk;
}

void Platform::DeliverEvents() {
  if (click_pending_) {
    click_pending_ = false;
    // A copy: the handler may replace itself (the intro window unloads).
    if (auto handler = on_click_) handler();
  }
  if (close_pending_ && !closing_) {
    closing_ = true;
    close_pending_ = false;
    if (auto handler = on_close_) handler();
    // Without a close handler the window simply goes away.
    EndProcess(kExitClosed);
  }
  // A close request while the closing sequence runs changes nothing.
  close_pending_ = false;
}

}  // namespace kc
