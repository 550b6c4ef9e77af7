#include "platform/platform.h"

namespace kc {

void Platform::DeliverEvents() {
  if (click_pending_) {
    click_pending_ = false;
    if (on_click_) on_click_();
  }
  if (close_pending_ && !closing_) {
    closing_ = true;
    close_pending_ = false;
    if (on_close_) on_close_();
    // Without a close handler the window simply goes away.
    EndProcess(kExitClosed);
  }
  close_pending_ = false;
}

}  // namespace kc
