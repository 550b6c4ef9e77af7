#include "app/checkout/tui/front_panel_link.h"

#include <utility>
#include <vector>

#include "sim/sim_bus.h"
#include "sim/sim_scope.h"

namespace kc {

FrontPanelLink::FrontPanelLink(CursesPlatform& platform, SimBus& bus, SimScope& scope, int address,
                               const SourceBench* sources)
    : platform_(platform), bus_(bus), scope_(scope), address_(address), sources_(sources) {
  platform_.ShowFrontPanel(
      scope_.model(),
      [this] {
        CursesPlatform::PanelProbe probe;
        probe.settings = ReadSettings(scope_);
        if (sources_ != nullptr) probe.bench = DescribeBench(*sources_);
        if (scope_.measurement() != nullptr) {
          // What the screen shows: the displayed traces as acquired.
          std::vector<AcquiredTrace> traces;
          const InstrumentSettings& settings = probe.settings;
          if (settings.channels[0].shown) traces.push_back({0, scope_.EyeTrace(Trace::kCh1)});
          if (settings.channels[1].shown) traces.push_back({1, scope_.EyeTrace(Trace::kCh2)});
          if (settings.add_shown) traces.push_back({2, scope_.EyeTrace(Trace::kAdd)});
          probe.acquired = std::move(traces);
        }
        if (scope_.selfcal_running()) {
          probe.instrument_busy = "The instrument calibrates itself";
        } else if (scope_.acquisition_running() &&
                   probe.settings.acquire_mode.rfind("AVG", 0) == 0) {
          probe.instrument_busy = "The instrument averages its acquisitions";
        }
        probe.service_request = plugged_ && scope_.RequestingService();
        probe.cable_plugged = plugged_;
        return probe;
      },
      [this] { ToggleCable(); });
}

FrontPanelLink::~FrontPanelLink() {
  platform_.ForgetBench();
  if (!plugged_) ToggleCable();
}

void FrontPanelLink::ToggleCable() {
  if (plugged_) {
    bus_.StopAnswering(address_, 0);
  } else {
    bus_.ResumeAnswering(address_);
  }
  plugged_ = !plugged_;
}

}  // namespace kc
