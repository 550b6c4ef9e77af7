#include "support/checkout_bench.h"

namespace kc {

namespace {

// An empty script is still a technician: one that has nothing to do.
SimRigSetup RigSetup(const BenchOptions& options) {
  return {.model = options.model,
          .address = options.address,
          .extra_devices = options.extra_devices,
          .operator_script = options.operator_script,
          .faults = options.faults,
          .seed = options.seed};
}

}  // namespace

CheckoutBench::CheckoutBench(BenchOptions options)
    : options_(std::move(options)), rig_(RigSetup(options_), platform_) {
  gpib_ = std::make_unique<GpibBinding>(rig_.bus());
  ops_ = std::make_unique<InstrumentOps>(*gpib_, platform_);
  form_ = std::make_unique<MainForm>(*ops_);
}

CheckoutBench::~CheckoutBench() = default;

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
  return rig_.scope().received();
}

void CheckoutBench::ClearReceived() {
  rig_.scope().ClearReceived();
}

void CheckoutBench::SetScript(const std::string& script) {
  rig_.SetScript(script);
}

}  // namespace kc
