// A device on the simulated GPIB bus.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kc {

class SimDevice {
 public:
  virtual ~SimDevice() = default;
  // A whole message from the controller (the last byte came with EOI).
  virtual void Write(const std::string& data) = 0;
  // The device's next reply when addressed to talk; nullopt when it has nothing
  // to say (the controller's read times out).
  virtual std::optional<std::string> Talk() = 0;
  // Serial poll: the status byte; the poll clears a pending request.
  virtual std::uint8_t SerialPoll() = 0;
  // Selected device clear.
  virtual void Clear() = 0;
  virtual bool RequestingService() const = 0;
  // Time of the device's next internal event (bus clock, seconds since the
  // clock started), if one is under way; the bus lets time pass until then.
  virtual std::optional<double> NextEventTime() const { return std::nullopt; }
  // Time has passed: `now` on the bus clock.
  virtual void Tick(double now) { (void)now; }
};

}  // namespace kc
