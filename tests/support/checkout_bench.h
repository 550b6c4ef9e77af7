// A whole checkout on the simulated bus in virtual time: test platform, bus,
// simulated oscilloscope, scripted technician, binding, instrument operations
// and the main window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/gpib_binding.h"
#include "link/instrument_ops.h"
#include "shell/main_form.h"
#include "sim/rig.h"
#include "support/test_platform.h"

namespace kc {

struct BenchOptions {
  std::string model = "2440";
  int address = 1;
  // Script of the simulated technician ("b1,b2@3.5,leave").
  std::string operator_script{};
  // Extra devices, as on the command line ("5=silent", "9=scope:2430A", "11=id:AB/2430,V1").
  std::vector<std::string> extra_devices{};
  // Faults of the oscilloscope, as on the command line ("ch1-gain=3").
  std::vector<std::string> faults{};
  // Seed of the oscilloscope's noise.
  std::uint64_t seed = 1;
};

class CheckoutBench {
 public:
  explicit CheckoutBench(BenchOptions options = {});
  ~CheckoutBench();

  // Runs the whole program (load, menu, ...) until it ends; the exit code.
  int Run();
  // Runs the start-up (Form_Load) and the menu's preparation of the instrument
  // ("INIT GPI;PATH OFF;USE;BELL", an emptied event queue), so that a check can
  // be called next; false when the program ended during it.
  bool Load();
  // Runs `body` (for example a single check on the loaded form) and catches the
  // end of the program; the exit code, or -1 when `body` returned.
  template <typename F>
  int Call(F&& body) {
    try {
      body();
      return -1;
    } catch (const ProgramEnd& end) {
      end_message_ = end.message;
      return end.code;
    }
  }

  // Every message the oscilloscope at `options.address` received, in order.
  const std::vector<std::string>& received() const;
  // Forgets what was received so far (to compare the stream of one step).
  void ClearReceived();

  TestPlatform& platform() { return platform_; }
  SimBus& bus() { return rig_.bus(); }
  SimScope& scope() { return rig_.scope(); }
  GpibBinding& gpib() { return *gpib_; }
  InstrumentOps& ops() { return *ops_; }
  MainForm& form() { return *form_; }
  const std::string& end_message() const { return end_message_; }
  // Replaces the technician's script (from the current time on).
  void SetScript(const std::string& script);

 private:
  BenchOptions options_;
  TestPlatform platform_;
  SimRig rig_;
  std::unique_ptr<GpibBinding> gpib_;
  std::unique_ptr<InstrumentOps> ops_;
  std::unique_ptr<MainForm> form_;
  std::string end_message_;
};

}  // namespace kc
