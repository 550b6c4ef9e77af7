#include "sim/sim_devices.h"

#include <cctype>

#include "link/scope_syntax.h"
#include "sim/sim_scope.h"

namespace kc {

void IdDevice::Write(const std::string& data) {
  received_.push_back(data);
  reply_.reset();
  if (ToUpper(TrimBlanks(data)) == "ID?") reply_ = identity_ + "\n";
}

std::optional<std::string> IdDevice::Talk() {
  std::optional<std::string> reply = std::move(reply_);
  reply_.reset();
  return reply;
}

std::optional<DeviceSpec> ParseDeviceSpec(const std::string& text, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<DeviceSpec> {
    if (error != nullptr) *error = "device \"" + text + "\": " + why;
    return std::nullopt;
  };
  std::size_t equals = text.find('=');
  if (equals == std::string::npos) {
    return fail("expected ADDRESS=KIND, for example 5=silent, 9=scope:2430A or 11=id:AB/2430,V1");
  }
  std::string address(TrimBlanks(std::string_view(text).substr(0, equals)));
  bool digits = !address.empty() && address.size() <= 2;
  for (char c : address) {
    if (!std::isdigit(static_cast<unsigned char>(c))) digits = false;
  }
  int pad = digits ? std::stoi(address) : 0;
  if (pad < 1 || pad > 30) return fail("the address must be a whole number from 1 to 30");

  DeviceSpec described;
  described.address = pad;
  std::string kind(TrimBlanks(std::string_view(text).substr(equals + 1)));
  std::size_t colon = kind.find(':');
  std::string name = colon == std::string::npos ? kind : kind.substr(0, colon);
  std::string argument = colon == std::string::npos ? "" : kind.substr(colon + 1);
  if (name == "silent") {
    if (colon != std::string::npos) return fail("a silent listener takes no argument");
    described.kind = DeviceSpec::Kind::kSilent;
  } else if (name == "scope") {
    std::string models;
    for (const std::string& model : SimScope::Models()) {
      if (model == argument) {
        described.kind = DeviceSpec::Kind::kScope;
        described.argument = argument;
        return described;
      }
      models += (models.empty() ? "" : ", ") + model;
    }
    return fail("unknown model \"" + argument + "\" (one of " + models + ")");
  } else if (name == "id") {
    if (argument.empty()) return fail("the identity after \"id:\" is empty");
    described.kind = DeviceSpec::Kind::kId;
    described.argument = argument;
  } else {
    return fail("unknown kind \"" + name + "\" (silent, scope:MODEL or id:TEXT)");
  }
  return described;
}

std::unique_ptr<SimDevice> MakeDevice(const DeviceSpec& described, Clock& clock) {
  switch (described.kind) {
    case DeviceSpec::Kind::kScope:
      return std::make_unique<SimScope>(described.argument, clock);
    case DeviceSpec::Kind::kId:
      return std::make_unique<IdDevice>(described.argument);
    case DeviceSpec::Kind::kSilent:
      break;
  }
  return std::make_unique<SilentListener>();
}

}  // namespace kc
