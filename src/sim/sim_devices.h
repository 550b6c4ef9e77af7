// The other devices a simulated bus can hold, and the device descriptions of
// the command line: "5=silent", "9=scope:2430A", "11=id:AB/2430,V1".
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/sim_device.h"

namespace kc {

// Listens and never answers: every read from it times out.
class SilentListener : public SimDevice {
 public:
  void Write(const std::string& data) override { received_.push_back(data); }
  std::optional<std::string> Talk() override { return std::nullopt; }
  std::uint8_t SerialPoll() override { return 0; }
  void Clear() override {}
  bool RequestingService() const override { return false; }

  const std::vector<std::string>& received() const { return received_; }

 private:
  std::vector<std::string> received_;
};

// Answers "ID?" with a fixed identity (and a line end); nothing else.
class IdDevice : public SimDevice {
 public:
  explicit IdDevice(std::string identity) : identity_(std::move(identity)) {}
  void Write(const std::string& data) override;
  std::optional<std::string> Talk() override;
  std::uint8_t SerialPoll() override { return 0; }
  void Clear() override { reply_.reset(); }
  bool RequestingService() const override { return false; }

  const std::string& identity() const { return identity_; }
  const std::vector<std::string>& received() const { return received_; }

 private:
  std::string identity_;
  std::optional<std::string> reply_;
  std::vector<std::string> received_;
};

struct DeviceSpec {
  enum class Kind { kSilent, kScope, kId };
  int address = 0;
  Kind kind = Kind::kSilent;
  // The model of a scope, the identity of an id device.
  std::string argument;
};

// Reads ADDRESS=KIND with ADDRESS 1..30 and KIND "silent", "scope:MODEL"
// (a model of the family) or "id:TEXT" (any identity, commas included).
// nullopt with a description in `error` for anything else.
std::optional<DeviceSpec> ParseDeviceSpec(const std::string& text, std::string* error);

std::unique_ptr<SimDevice> MakeDevice(const DeviceSpec& described, Clock& clock);

}  // namespace kc
