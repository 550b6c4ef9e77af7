// The simulated rig: the simulated bus with its oscilloscope, the sources and
// cables beside it, the technician's hands on them, the extra devices and
// whoever presses the buttons. Both programs and the tests build it from the
// same plain description.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/bench_hand.h"
#include "sim/sim_bench.h"
#include "sim/sim_bus.h"
#include "sim/sim_scope.h"

namespace kc {

struct SimRigSetup {
  std::string model = "2440";
  // The oscilloscope's GPIB address.
  int address = 1;
  // Extra devices, as on the command line ("5=silent", "9=scope:2430A",
  // "11=id:AB/2430,V1").
  std::vector<std::string> extra_devices;
  // The scripted technician ("b1,b2@3.5,leave"); absent: the keyboard when
  // `keyboard` is set, else nobody.
  std::optional<std::string> operator_script;
  // Faults of the oscilloscope, as on the command line ("ch1-gain=3").
  std::vector<std::string> faults;
  // Seed of the oscilloscope's noise; absent: a new one each time.
  std::optional<std::uint64_t> seed;
  // A terminal's keyboard reaches the front panel (keys 1-5 and M).
  bool keyboard = false;
};

class SimRig {
 public:
  // Builds the rig on `platform`: the oscilloscope's screen is shown there,
  // its readings come from the measurement model with the faults and the
  // seed's noise. Throws std::invalid_argument for a bad device, fault or
  // script, or an address used twice.
  SimRig(const SimRigSetup& setup, Platform& platform);
  ~SimRig();
  SimRig(const SimRig&) = delete;
  SimRig& operator=(const SimRig&) = delete;

  SimBus& bus() { return *bus_; }
  SimScope& scope() { return *scope_; }
  const SimScope& scope() const { return *scope_; }
  SourceBench& sources() { return *sources_; }
  BenchHand& hand() { return *hand_; }
  // Who presses the buttons; null when nobody does.
  SimTechnician* technician() { return technician_.get(); }
  int address() const { return address_; }

  // A scripted technician playing `script` from now on, in place of whoever
  // stood there.
  void SetScript(const std::string& script);

 private:
  Platform& platform_;
  int address_;
  std::unique_ptr<SimBus> bus_;
  SimScope* scope_ = nullptr;
  std::unique_ptr<SourceBench> sources_;
  std::unique_ptr<BenchHand> hand_;
  std::unique_ptr<SimTechnician> technician_;
  // The keys were given to the front panel beside a script.
  bool keys_taken_ = false;
};

}  // namespace kc
