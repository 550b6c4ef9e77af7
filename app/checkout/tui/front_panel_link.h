// The full-screen window's link to the simulated bench.
#pragma once

#include "app/checkout/tui/curses_platform.h"

namespace kc {

class SimBus;
class SimScope;
class SourceBench;

// Ties the front panel of a curses window to the simulated instrument at
// `address` on `bus` for as long as it lives: the settings, the traces the
// instrument acquires, the service-request indicator, what `sources` (may be
// null: nothing) has connected, and the GPIB cable (U pulls it, so that the
// instrument neither listens nor talks, and plugs it in again).
class FrontPanelLink {
 public:
  FrontPanelLink(CursesPlatform& platform, SimBus& bus, SimScope& scope, int address,
                 const SourceBench* sources);
  // Forgets the window's hooks and plugs the cable back in.
  ~FrontPanelLink();
  FrontPanelLink(const FrontPanelLink&) = delete;
  FrontPanelLink& operator=(const FrontPanelLink&) = delete;

  void ToggleCable();
  bool plugged() const { return plugged_; }

 private:
  CursesPlatform& platform_;
  SimBus& bus_;
  SimScope& scope_;
  int address_;
  const SourceBench* sources_;
  bool plugged_ = true;
};

}  // namespace kc
