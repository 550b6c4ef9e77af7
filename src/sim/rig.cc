#include "sim/rig.h"

#include <random>
#include <set>
#include <stdexcept>

#include "sim/faults.h"
#include "sim/measurement.h"
#include "sim/screen_text.h"
#include "sim/script_technician.h"
#include "sim/sim_devices.h"

namespace kc {

SimRig::SimRig(const SimRigSetup& setup, Platform& platform)
    : platform_(platform), address_(setup.address) {
  bus_ = std::make_unique<SimBus>(platform);
  auto scope = std::make_unique<SimScope>(setup.model, platform.clock());
  scope_ = scope.get();
  SimScope* shown = scope_;
  shown->SetScreenListener([shown, &platform] {
    std::vector<std::string> lines;
    lines.reserve(shown->screen().size());
    for (const std::string& line : shown->screen()) lines.push_back(RenderScreenText(line));
    platform.ShowInstrumentScreen(lines, shown->bells());
  });
  bus_->Attach(setup.address, std::move(scope));
  // The oscilloscope measures what the bench's sources feed it; the hands
  // connect and set the sources as its screen asks.
  sources_ = std::make_unique<SourceBench>();
  auto model =
      std::make_unique<MeasurementModel>(setup.model, TraitsWithFaults(setup.model, setup.faults),
                                         setup.seed ? *setup.seed : std::random_device{}());
  model->SetBench(sources_.get());
  shown->SetMeasurement(std::move(model));
  hand_ = std::make_unique<BenchHand>(*shown, *sources_);

  std::set<int> taken = {setup.address};
  for (const std::string& text : setup.extra_devices) {
    std::string error;
    std::optional<DeviceSpec> described = ParseDeviceSpec(text, &error);
    if (!described) throw std::invalid_argument(error);
    if (!taken.insert(described->address).second) {
      throw std::invalid_argument("device \"" + text + "\": address " +
                                  std::to_string(described->address) + " is already taken");
    }
    bus_->Attach(described->address, MakeDevice(*described, platform.clock()));
  }

  if (setup.operator_script) {
    SetScript(*setup.operator_script);
    // The keys still work at a terminal: the script and a person share the
    // front panel.
    if (setup.keyboard) {
      platform.SetKeyHandler([shown](int key) { KeyboardTechnician::Press(*shown, key); });
      keys_taken_ = true;
    }
  } else if (setup.keyboard) {
    technician_ = std::make_unique<KeyboardTechnician>(platform, *shown);
    bus_->SetTechnician(technician_.get());
  }
  // Headless without a script: nobody stands at the instrument, and the first
  // wait for a bezel button ends the run.
}

SimRig::~SimRig() {
  if (keys_taken_) platform_.SetKeyHandler(nullptr);
  bus_->SetTechnician(nullptr);
}

void SimRig::SetScript(const std::string& script) {
  auto technician = std::make_unique<ScriptTechnician>(*scope_, platform_.clock(), script);
  bus_->SetTechnician(technician.get());
  technician_ = std::move(technician);
}

}  // namespace kc
