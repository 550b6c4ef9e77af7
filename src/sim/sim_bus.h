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

#include "link/descriptor_driver.h"
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

// The kinds of driver call that faults can be injected into.
enum class BusCall { kWrite, kRead, kSerialPoll, kWait, kClear };

// A fault injected into the driver calls of one kind, for tests of the error
// paths. Once `after` calls of the kind have gone through (counted from the
// injection), the next `count` calls of it fail (every one from then on when
// `count` is negative): ERR with `iberr`, and with `timeout` the descriptor's
// time-out passes first and TIMO is set as well. A failed call reaches no
// device: a failed write delivers nothing, a failed read takes nothing from
// the reply, a failed poll leaves the status byte unread.
struct BusFault {
  BusCall call = BusCall::kWrite;
  int iberr = gpib::EDVR;
  int after = 0;
  int count = 1;
  bool timeout = false;
};

class SimBus : public DescriptorDriver {
 public:
  explicit SimBus(Platform& platform);
  ~SimBus() override;

  void Attach(int pad, std::unique_ptr<SimDevice> device);
  SimDevice* device(int pad) const;
  void SetTechnician(SimTechnician* technician) { technician_ = technician; }

  // Fault injection (see BusFault). Faults of the same kind are tried in the
  // order they were injected.
  void InjectFault(const BusFault& fault);
  void ClearFaults() { faults_.clear(); }
  // The device at `pad` stops answering after `after_calls` more driver calls
  // (of any kind): from then on it neither listens nor talks, answers no
  // serial poll and requests no service, as if it had been switched off.
  void StopAnswering(int pad, long after_calls = 0);
  // The device at `pad` answers again (switched back on, its state kept).
  void ResumeAnswering(int pad) { stop_after_.erase(pad); }
  // Calls of a kind made so far, and driver calls of every kind.
  long calls(BusCall call) const { return calls_[static_cast<std::size_t>(call)]; }
  long total_calls() const { return total_calls_; }

  // Driver calls.
  void SendIFC(int board) override;
  int ibsre(int board, int v) override;
  void FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) override;
  int ibclr(int ud) override;
  int ibrsp(int ud, char* spr) override;
  int ibwrt(int ud, const void* buf, long count) override;
  int ibrd(int ud, void* buf, long count) override;
  int ibwait(int ud, int mask) override;

 private:
  struct ArmedFault {
    BusFault fault;
    long start = 0;  // calls of the kind made before the injection
    int used = 0;
  };
  // Counts a driver call and lets the bus catch up (Tick).
  void Enter();
  void EnterDescriptorCall() override { Enter(); }
  // Counts a call of `kind`; the injected fault it meets, if any.
  std::optional<BusFault> Faulted(BusCall kind);
  // Fails the call as `fault` says.
  int FailInjected(const BusFault& fault, const Descriptor& descriptor);
  // The device at `pad` while it answers; nullptr when there is none or it
  // has stopped answering.
  SimDevice* Reachable(int pad) const;
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
  // The unread rest of each device's reply, by primary address.
  std::map<int, std::string> pending_;
  std::vector<ArmedFault> faults_;
  long calls_[5] = {};
  long total_calls_ = 0;
  // Devices that stop answering, by primary address: the total call count
  // after which they are silent.
  std::map<int, long> stop_after_;
};

}  // namespace kc
