#include "support/checkout_bench.h"

#include <set>
#include <stdexcept>

#include "sim/faults.h"
#include "sim/measurement.h"
#include "sim/script_technician.h"
#include "sim/sim_devices.h"

namespace kc {

CheckoutBench::CheckoutBench(BenchOptions options) : options_(std::move(options)) {
  bus_ = std::make_unique<SimBus>(platform_);
  auto scope = std::make_unique<SimScope>(options_.model, platform_.clock());
  scope_ = scope.get();
  // The oscilloscope measures what the bench's sources feed it.
  auto model = std::make_unique<MeasurementModel>(
      options_.model, TraitsWithFaults(options_.model, options_.faults), options_.seed);
  model->SetBench(&sources_);
  scope_->SetMeasurement(std::move(model));
  hand_ = std::make_unique<BenchHand>(*scope_, sources_);
  scope_->SetScreenListener(
      [this] { platform_.ShowInstrumentScreen(scope_->screen(), scope_->bells()); });
  bus_->Attach(options_.address, std::move(scope));
  std::set<int> taken = {options_.address};
  for (const std::string& text : options_.extra_devices) {
    std::string error;
    std::optional<DeviceSpec> described = ParseDeviceSpec(text, &error);
    if (!described) throw std::invalid_argument(error);
    if (!taken.insert(described->address).second) {
      throw std::invalid_argument("device \"" + text + "\": address " +
                                  std::to_string(described->address) + " is already taken");
    }
    bus_->Attach(described->address, MakeDevice(*described, platform_.clock()));
  }
  SetScript(options_.operator_script);
  gpib_ = std::make_unique<GpibBinding>(*bus_);
  ops_ = std::make_unique<InstrumentOps>(*gpib_, platform_);
  form_ = std::make_unique<MainForm>(*ops_);
}

CheckoutBench::~CheckoutBench() {
  if (bus_) bus_->SetTechnician(nullptr);
}

int CheckoutBench::Run() {
  return Call([this] { form_->Run(); });
}

bool CheckoutBench::Load() {
  // Start-up, then what the menu does before its first page: bare replies from
  // here on and an empty event queue, as every check finds the instrument.
  return Call([this] {
           form_->Form_Load();
           ops_->WriteDev(form_->dev, "INIT GPI;PATH OFF;USE;BELL");
           form_->ClearEvents();
         }) == -1;
}

const std::vector<std::string>& CheckoutBench::received() const {
  return scope_->received();
}

void CheckoutBench::ClearReceived() {
  scope_->ClearReceived();
}

void CheckoutBench::SetScript(const std::string& script) {
  auto technician = std::make_unique<ScriptTechnician>(*scope_, platform_.clock(), script);
  bus_->SetTechnician(technician.get());
  technician_ = std::move(technician);
}

}  // namespace kc
