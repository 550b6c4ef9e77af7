// The simulated GPIB bus: a driver back end with devices at primary addresses
// 1 to 30, descriptors, addressing, device clear, serial poll, service
// requests and time-outs on the platform clock.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/gpib_driver.h"
#include "platform/platform.h"
#include "sim/sim_device.h"

namespace kc {

// Whoever stands at the instrument during a service-request wait.
class SimTechnician {
 public:
  virtual ~SimTechnician() = default;
  // Time (bus clock) of the next action that happens on its own, if any
  // (a delayed script token).
  virtual std::optional<double> NextTimedAction() const = 0;
  // Does what is due at `now`; returns true when something was done.
  virtual bool ActIfDue(double now) = 0;
  // The program waits for a service request that nothing else will end: act
  // now. Returns false when the technician has nothing more to do.
  virtual bool ActOnWait(double now) = 0;
  // True when the technician is a person at a keyboard (waits are open-ended).
  virtual bool interactive() const = 0;
};

class SimBus : public GpibDriverBase {
 public:
  explicit SimBus(Platform& platform);
  ~SimBus() override;

  void Attach(int pad, std::unique_ptr<SimDevice> device);
  SimDevice* device(int pad) const;
  void SetTechnician(SimTechnician* technician) { technician_ = technician; }

  // Driver calls.
  void SendIFC(int board) override;
  int ibsre(int board, int v) override;
  void FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) override;
  int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override;
  int ibpad(int ud, int pad) override;
  int ibclr(int ud) override;
  int ibrsp(int ud, char* spr) override;
  int ibwrt(int ud, const void* buf, long count) override;
  int ibrd(int ud, void* buf, long count) override;
  int ibtmo(int ud, int v) override;
  int ibask(int ud, int option, int* value) override;
  int ibwait(int ud, int mask) override;

 private:
  struct Descriptor;
  Descriptor* Find(int ud);
  // Lets devices catch up with the clock and the technician do what is due.
  void Tick();
  double Now() { return platform_.clock().Elapsed(); }
  // Lets `seconds` of bus time pass; true when a close request is pending.
  bool PassTime(double seconds);
  // Lets the descriptor's time-out pass in full.
  void PassTimeout(const Descriptor& descriptor);
  int WaitForService(const Descriptor& descriptor, int mask);

  Platform& platform_;
  SimTechnician* technician_ = nullptr;
  std::map<int, std::unique_ptr<SimDevice>> devices_;
  std::vector<std::unique_ptr<Descriptor>> descriptors_;
  // The unread rest of each device's reply, by primary address.
  std::map<int, std::string> pending_;
};

}  // namespace kc
