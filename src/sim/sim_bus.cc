#include "sim/sim_bus.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kc {

namespace {

constexpr int kMaxAddress = 30;
// Longest address list FindLstn reads before giving up on a missing NOADDR.
constexpr int kMaxAddressList = 1024;
// Smallest step of time passed while waiting, so that a wait always moves on.
constexpr double kMinStep = 1e-6;
// How long an open-ended wait idles between looks at the keyboard.
constexpr double kIdleStep = 0.05;
// Bound on the technician's due actions done in one go.
constexpr int kMaxDueActions = 1000;

}  // namespace

SimBus::SimBus(Platform& platform) : platform_(platform) {}

SimBus::~SimBus() = default;

void SimBus::Attach(int pad, std::unique_ptr<SimDevice> device) {
  if (pad < 1 || pad > kMaxAddress) {
    throw std::invalid_argument("GPIB address " + std::to_string(pad) + " is not from 1 to 30");
  }
  devices_[pad] = std::move(device);
  pending_.erase(pad);
}

SimDevice* SimBus::device(int pad) const {
  auto it = devices_.find(pad);
  return it == devices_.end() ? nullptr : it->second.get();
}

void SimBus::InjectFault(const BusFault& fault) {
  faults_.push_back({fault, calls(fault.call), 0});
}

void SimBus::StopAnswering(int pad, long after_calls) {
  stop_after_[pad] = total_calls_ + std::max(after_calls, 0L);
}

SimDevice* SimBus::Reachable(int pad) const {
  auto stop = stop_after_.find(pad);
  if (stop != stop_after_.end() && total_calls_ > stop->second) return nullptr;
  return device(pad);
}

void SimBus::Enter() {
  // Counted after what falls due has been done, so that a device switched off
  // by it misses this call already.
  Tick();
  ++total_calls_;
}

std::optional<BusFault> SimBus::Faulted(BusCall kind) {
  long made = ++calls_[static_cast<std::size_t>(kind)];
  for (ArmedFault& armed : faults_) {
    if (armed.fault.call != kind || made - armed.start <= armed.fault.after) continue;
    if (armed.fault.count >= 0 && armed.used >= armed.fault.count) continue;
    ++armed.used;
    return armed.fault;
  }
  return std::nullopt;
}

int SimBus::FailInjected(const BusFault& fault, const Descriptor& descriptor) {
  int status = gpib::ERR;
  if (fault.timeout) {
    PassTimeout(descriptor);
    Tick();
    status |= gpib::TIMO;
  }
  return Report(status, fault.iberr, 0);
}

void SimBus::Tick() {
  double now = Now();
  for (auto& [pad, device] : devices_) device->Tick(now);
  if (technician_ == nullptr) return;
  int actions = 0;
  while (actions < kMaxDueActions && technician_->ActIfDue(now)) ++actions;
}

bool SimBus::PassTime(double seconds) {
  seconds = std::max(seconds, kMinStep);
  Clock& clock = platform_.clock();
  double before = clock.Elapsed();
  bool close = platform_.WaitIdle(seconds);
  // A platform that returns at once (a close request already pending) must
  // not stall a virtual clock.
  if (clock.is_virtual() && clock.Elapsed() <= before) clock.Pass(seconds);
  return close;
}

void SimBus::PassTimeout(const Descriptor& descriptor) {
  double deadline = Now() + gpib::TimeoutSeconds(descriptor.tmo);
  while (Now() < deadline) {
    if (PassTime(deadline - Now())) {
      // A pending close request does not shorten a read: the rest of the
      // time-out passes as a plain wait.
      double rest = deadline - Now();
      if (rest > 0) platform_.clock().Pass(rest);
      break;
    }
  }
}

void SimBus::SendIFC(int board) {
  Enter();
  if (board != 0) {
    Fail(gpib::ENEB);
    return;
  }
  Report(gpib::CMPL, 0, 0);
}

int SimBus::ibsre(int board, int v) {
  (void)v;
  Enter();
  if (board != 0) return Fail(gpib::ENEB);
  return Report(gpib::CMPL, 0, 0);
}

void SimBus::FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) {
  Enter();
  if (!ListenerSearchArguments(board, pads, results, limit)) return;
  std::vector<Addr4882_t> list;
  bool any_device = false;
  for (int i = 0; i < kMaxAddressList && pads[i] != gpib::NOADDR; ++i) {
    list.push_back(pads[i]);
    // The low byte is the primary address, the high byte a secondary one.
    if (Reachable(pads[i] & 0xFF) != nullptr) any_device = true;
  }
  std::vector<Addr4882_t> found;
  for (Addr4882_t address : list) {
    int pad = address & 0xFF;
    // The controller itself listens whenever any device takes part.
    bool listens = pad == 0 ? any_device : Reachable(pad) != nullptr;
    if (listens) found.push_back(address);
  }
  if (found.empty()) {
    Fail(gpib::EBUS);
    return;
  }
  std::size_t stored = std::min(found.size(), static_cast<std::size_t>(limit));
  std::copy_n(found.begin(), stored, results);
  if (found.size() > stored) {
    Report(gpib::ERR, gpib::ETAB, static_cast<long>(stored));
    return;
  }
  Report(gpib::CMPL, 0, static_cast<long>(found.size()));
}

int SimBus::ibclr(int ud) {
  Enter();
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (auto fault = Faulted(BusCall::kClear)) return FailInjected(*fault, *descriptor);
  SimDevice* target = Reachable(descriptor->pad);
  if (target == nullptr) return Fail(gpib::ENOL);
  pending_.erase(descriptor->pad);
  target->Clear();
  return Report(gpib::CMPL, 0, 0);
}

int SimBus::ibrsp(int ud, char* spr) {
  Enter();
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (spr == nullptr) return Fail(gpib::EARG);
  if (auto fault = Faulted(BusCall::kSerialPoll)) return FailInjected(*fault, *descriptor);
  SimDevice* target = Reachable(descriptor->pad);
  if (target == nullptr) {
    // Nobody sends the status byte: the poll times out.
    PassTimeout(*descriptor);
    Tick();
    return Report(gpib::ERR | gpib::TIMO, gpib::EABO, 0);
  }
  spr[0] = static_cast<char>(target->SerialPoll());
  return Report(gpib::CMPL, 0, 1);
}

int SimBus::ibwrt(int ud, const void* buf, long count) {
  Enter();
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (count < 0 || (buf == nullptr && count > 0)) return Fail(gpib::EARG);
  if (auto fault = Faulted(BusCall::kWrite)) return FailInjected(*fault, *descriptor);
  SimDevice* target = Reachable(descriptor->pad);
  if (target == nullptr) return Fail(gpib::ENOL);
  pending_.erase(descriptor->pad);
  std::string data(static_cast<const char*>(buf), static_cast<std::size_t>(count));
  target->Write(data);
  return Report(gpib::CMPL, 0, count);
}

int SimBus::ibrd(int ud, void* buf, long count) {
  Enter();
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (buf == nullptr || count < 1) return Fail(gpib::EARG);
  if (auto fault = Faulted(BusCall::kRead)) return FailInjected(*fault, *descriptor);
  int pad = descriptor->pad;
  auto unread = pending_.find(pad);
  if (unread != pending_.end() && Reachable(pad) == nullptr) {
    // A device that stopped answering sends no more of its reply.
    pending_.erase(unread);
    unread = pending_.end();
  }
  if (unread == pending_.end()) {
    SimDevice* target = Reachable(pad);
    std::optional<std::string> reply = target ? target->Talk() : std::nullopt;
    if (!reply) {
      PassTimeout(*descriptor);
      Tick();
      return Report(gpib::ERR | gpib::TIMO, gpib::EABO, 0);
    }
    unread = pending_.emplace(pad, std::move(*reply)).first;
  }
  std::string& rest = unread->second;
  std::size_t n = std::min(rest.size(), static_cast<std::size_t>(count));
  std::memcpy(buf, rest.data(), n);
  rest.erase(0, n);
  int status = gpib::CMPL;
  if (rest.empty()) {
    pending_.erase(unread);
    status |= gpib::END;
  }
  return Report(status, 0, static_cast<long>(n));
}

int SimBus::ibwait(int ud, int mask) {
  Enter();
  Descriptor* descriptor = Find(ud);
  if (descriptor == nullptr) return Fail(gpib::EDVR);
  if (auto fault = Faulted(BusCall::kWait)) return FailInjected(*fault, *descriptor);
  if ((mask & gpib::RQS) == 0) return Report(gpib::CMPL, 0, 0);
  return WaitForService(*descriptor, mask);
}

int SimBus::WaitForService(const Descriptor& descriptor, int mask) {
  std::optional<double> deadline;
  if ((mask & gpib::TIMO) != 0 && descriptor.tmo != gpib::TNONE) {
    deadline = Now() + gpib::TimeoutSeconds(descriptor.tmo);
  }
  bool interactive = technician_ != nullptr && technician_->interactive();
  while (true) {
    Tick();
    SimDevice* target = Reachable(descriptor.pad);
    if (target != nullptr && target->RequestingService()) {
      return Report(gpib::RQS | gpib::CMPL, 0, 0);
    }
    // A request to close the window gives up the wait (no RQS); the program
    // sees the request when it next lets window events run.
    if (platform_.close_pending()) return Report(gpib::CMPL, 0, 0);
    double now = Now();
    if (deadline && now >= *deadline) return Report(gpib::TIMO | gpib::CMPL, 0, 0);
    // The next thing that happens on its own: a device finishing an
    // operation, a delayed script token, or the end of the wait's time-out.
    std::optional<double> next = deadline;
    auto consider = [&next](std::optional<double> at) {
      if (at && (!next || *at < *next)) next = at;
    };
    for (auto& [pad, device] : devices_) consider(device->NextEventTime());
    if (technician_ != nullptr) consider(technician_->NextTimedAction());
    if (interactive) {
      // A person may press a key at any moment: idle in short steps.
      if (PassTime(next ? std::min(kIdleStep, *next - now) : kIdleStep)) {
        return Report(gpib::CMPL, 0, 0);
      }
      continue;
    }
    if (next) {
      if (PassTime(*next - now)) return Report(gpib::CMPL, 0, 0);
      continue;
    }
    if (technician_ == nullptr) {
      throw ProgramEnd{kExitOperatorDone,
                       "Nobody stands at the simulated instrument to answer a bezel-button wait."};
    }
    if (!technician_->ActOnWait(now)) {
      throw ProgramEnd{kExitOperatorDone,
                       "The simulated technician's script ran out while the program waited for "
                       "a bezel button."};
    }
  }
}

}  // namespace kc
