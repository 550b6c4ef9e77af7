// A scriptable GPIB driver for the link tests: it records every call with its
// arguments as a line of text ("ibwrt(7,\"ID?\")") and answers from queues of
// scripted outcomes, one queue per call name.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "link/gpib_driver.h"
#include "platform/clock.h"

namespace kc::linktest {

struct Outcome {
  int status = gpib::CMPL;
  int error = 0;
  // ibrd: the bytes delivered; ibrsp: the first byte is the poll byte.
  std::string data;
  // ibask: the value handed back; ibdev: the descriptor.
  int value = 0;
  // FindLstn: the addresses written from result entry 0 on.
  std::vector<int> addresses;
};

inline Outcome Ok(int status = gpib::CMPL) {
  return Outcome{status, 0, {}, 0, {}};
}
inline Outcome Error(int error, int status = gpib::ERR) {
  return Outcome{status, error, {}, 0, {}};
}
inline Outcome Reply(std::string bytes, int status = gpib::CMPL | gpib::END) {
  return Outcome{status, 0, std::move(bytes), 0, {}};
}
inline Outcome Value(int value) {
  return Outcome{gpib::CMPL, 0, {}, value, {}};
}
inline Outcome Found(std::vector<int> addresses) {
  return Outcome{gpib::CMPL, 0, {}, 0, std::move(addresses)};
}

class FakeDriver : public GpibDriverBase {
 public:
  // With a clock, the time of every call is kept in `times`.
  explicit FakeDriver(Clock* clock = nullptr) : clock_(clock) {}

  std::vector<std::string> calls;
  std::vector<double> times;
  // Results of RegisterGpibGlobalsForThread in order; when empty, the cells are
  // registered and the base's answer (0, or 1 when registered before) given.
  std::deque<int> register_results;
  // Descriptor handed out by ibdev when its queue is empty.
  int next_ud = 32;

  // Appends an outcome for the call `name`.
  FakeDriver& Script(const std::string& name, Outcome outcome) {
    script_[name].push_back(std::move(outcome));
    return *this;
  }

  // The calls recorded since the last Clear.
  void Clear() {
    calls.clear();
    times.clear();
  }

  int RegisterGpibGlobalsForThread(std::int32_t* status, std::int32_t* error, std::int32_t* count,
                                   std::int32_t* count_long) override {
    Record("Register");
    if (register_results.empty()) {
      return GpibDriverBase::RegisterGpibGlobalsForThread(status, error, count, count_long);
    }
    int result = register_results.front();
    register_results.pop_front();
    if (result == 0 || result == 1) {
      GpibDriverBase::RegisterGpibGlobalsForThread(status, error, count, count_long);
    }
    return result;
  }
  int UnregisterGpibGlobalsForThread() override {
    Record("Unregister");
    return GpibDriverBase::UnregisterGpibGlobalsForThread();
  }

  void SendIFC(int board) override {
    Record("SendIFC(" + std::to_string(board) + ")");
    Answer(Next("SendIFC"));
  }
  int ibsre(int board, int v) override {
    Record("ibsre(" + Args({board, v}) + ")");
    return Answer(Next("ibsre"));
  }
  void FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) override {
    std::string list;
    for (const Addr4882_t* pad = pads;; ++pad) {
      list += (list.empty() ? "" : ",") + Hex(*pad);
      if (*pad == gpib::NOADDR) break;
    }
    Record("FindLstn(" + std::to_string(board) + ",[" + list + "]," + std::to_string(limit) + ")");
    Outcome outcome = Next("FindLstn");
    for (std::size_t i = 0; i < outcome.addresses.size() && static_cast<int>(i) < limit; ++i) {
      results[i] = static_cast<Addr4882_t>(outcome.addresses[i]);
    }
    Report(outcome.status, outcome.error, static_cast<long>(outcome.addresses.size()));
  }
  int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override {
    Record("ibdev(" + Args({board, pad, sad, tmo, eot, eos}) + ")");
    Outcome outcome = Next("ibdev", Value(next_ud++));
    Answer(outcome);
    return outcome.value;
  }
  int ibpad(int ud, int pad) override {
    Record("ibpad(" + Args({ud, pad}) + ")");
    return Answer(Next("ibpad"));
  }
  int ibclr(int ud) override {
    Record("ibclr(" + std::to_string(ud) + ")");
    return Answer(Next("ibclr"));
  }
  int ibrsp(int ud, char* spr) override {
    Record("ibrsp(" + std::to_string(ud) + ")");
    Outcome outcome = Next("ibrsp");
    if (!outcome.data.empty()) spr[0] = outcome.data[0];
    return Answer(outcome);
  }
  int ibwrt(int ud, const void* buf, long count) override {
    std::string text(static_cast<const char*>(buf), static_cast<std::size_t>(count));
    Record("ibwrt(" + std::to_string(ud) + ",\"" + text + "\")");
    written.push_back(text);
    Outcome outcome = Next("ibwrt");
    return Report(outcome.status, outcome.error, count);
  }
  int ibrd(int ud, void* buf, long count) override {
    Record("ibrd(" + Args({ud, static_cast<int>(count)}) + ")");
    buffers_seen.emplace_back(static_cast<const char*>(buf), static_cast<std::size_t>(count));
    Outcome outcome = Next("ibrd");
    std::size_t n = std::min(outcome.data.size(), static_cast<std::size_t>(count));
    outcome.data.copy(static_cast<char*>(buf), n);
    return Report(outcome.status, outcome.error, static_cast<long>(n));
  }
  int ibtmo(int ud, int v) override {
    Record("ibtmo(" + Args({ud, v}) + ")");
    return Answer(Next("ibtmo"));
  }
  int ibask(int ud, int option, int* value) override {
    Record("ibask(" + Args({ud, option}) + ")");
    Outcome outcome = Next("ibask", Value(gpib::T3s));
    if (!(outcome.status & gpib::ERR)) *value = outcome.value;
    return Answer(outcome);
  }
  int ibwait(int ud, int mask) override {
    Record("ibwait(" + std::to_string(ud) + "," + Hex(mask) + ")");
    return Answer(Next("ibwait"));
  }

  // Every text handed to ibwrt, and every buffer handed to ibrd as it came in.
  std::vector<std::string> written;
  std::vector<std::string> buffers_seen;

 private:
  void Record(std::string call) {
    calls.push_back(std::move(call));
    times.push_back(clock_ != nullptr ? clock_->Elapsed() : 0.0);
  }
  Outcome Next(const std::string& name, Outcome fallback = Ok()) {
    auto& queue = script_[name];
    if (queue.empty()) return fallback;
    Outcome outcome = std::move(queue.front());
    queue.pop_front();
    return outcome;
  }
  int Answer(const Outcome& outcome) { return Report(outcome.status, outcome.error, 0); }
  static std::string Args(std::initializer_list<int> values) {
    std::string text;
    for (int v : values) text += (text.empty() ? "" : ",") + std::to_string(v);
    return text;
  }
  static std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
  }

  Clock* clock_;
  std::map<std::string, std::deque<Outcome>> script_;
};

}  // namespace kc::linktest
