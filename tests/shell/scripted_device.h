// A device for the shell tests whose answers are set by the test: replies per
// query in order (then a default), serial-poll bytes in order (then 0), and a
// service request that stays asserted.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_device.h"

namespace kc {

class ScriptedDevice : public SimDevice {
 public:
  void Write(const std::string& data) override {
    received.push_back(data);
    pending_ = data;
  }
  std::optional<std::string> Talk() override {
    if (!pending_) return std::nullopt;
    std::string query = *pending_;
    pending_.reset();
    auto it = replies.find(query);
    if (it != replies.end() && !it->second.empty()) {
      std::string reply = it->second.front();
      it->second.pop_front();
      return reply;
    }
    auto fallback = defaults.find(query);
    if (fallback != defaults.end()) return fallback->second;
    return std::nullopt;
  }
  std::uint8_t SerialPoll() override {
    ++polls;
    if (poll_bytes.empty()) return 0;
    std::uint8_t byte = poll_bytes.front();
    poll_bytes.pop_front();
    return byte;
  }
  void Clear() override { ++clears; }
  bool RequestingService() const override { return true; }

  std::map<std::string, std::deque<std::string>> replies;
  std::map<std::string, std::string> defaults;
  std::deque<std::uint8_t> poll_bytes;
  int polls = 0;
  int clears = 0;
  std::vector<std::string> received;

 private:
  std::optional<std::string> pending_;
};

}  // namespace kc
