// A scriptable GPIB driver: it records every call with its arguments as a
// line of text ("ibwrt(7,\"ID?\")") and answers from queues of scripted
// outcomes, one queue per call name; a call without a scripted outcome
// completes (ibdev hands out 32, 33, ...; ibask the time-out T3s).
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

namespace kc::fakes {

struct Outcome {
  int status = gpib::CMPL;
  int error = 0;
  std::string data;            // ibrd: the bytes delivered; ibrsp: the poll byte
  int value = 0;               // ibask: the value; ibdev: the descriptor
  std::vector<int> addresses;  // FindLstn: the results from entry 0 on
};

inline Outcome Error(int error, int status = gpib::ERR) {
  return {status, error, {}, 0, {}};
}
inline Outcome Reply(std::string bytes, int status = gpib::CMPL | gpib::END) {
  return {status, 0, std::move(bytes), 0, {}};
}
inline Outcome Value(int value) {
  return {gpib::CMPL, 0, {}, value, {}};
}
inline Outcome Found(std::vector<int> addresses, int status = gpib::CMPL, int error = 0) {
  return {status, error, {}, 0, std::move(addresses)};
}

class FakeDriver : public GpibDriverBase {
 public:
  // With a clock, the time of every call is kept in `times`.
  explicit FakeDriver(Clock* clock = nullptr) : clock_(clock) {}

  std::vector<std::string> calls;
  std::vector<double> times;
  // Every text handed to ibwrt, and every buffer handed to ibrd as it came in.
  std::vector<std::string> written;
  std::vector<std::string> buffers_seen;
  // Results of the registrations in order; when empty, the base registers.
  std::deque<int> register_results;

  FakeDriver& Script(const std::string& name, Outcome outcome) {
    script_[name].push_back(std::move(outcome));
    return *this;
  }
  void Clear() {
    calls.clear();
    times.clear();
  }

  int RegisterGpibGlobalsForThread(std::int32_t* status, std::int32_t* error, std::int32_t* count,
                                   std::int32_t* count_long) override {
    Record("Register");
    const bool scripted = !register_results.empty();
    const int result = scripted ? register_results.front() : 0;
    if (scripted) register_results.pop_front();
    if (result != 0 && result != 1) return result;
    int base = GpibDriverBase::RegisterGpibGlobalsForThread(status, error, count, count_long);
    return scripted ? result : base;
  }
  int UnregisterGpibGlobalsForThread() override {
    Record("Unregister");
    return GpibDriverBase::UnregisterGpibGlobalsForThread();
  }
  void SendIFC(int board) override { Answer("SendIFC", {board}); }
  int ibsre(int board, int v) override { return Answer("ibsre", {board, v}); }
  void FindLstn(int board, const Addr4882_t* pads, Addr4882_t* results, int limit) override {
    std::string list;
    for (const Addr4882_t* pad = pads;; ++pad) {
      list += (list.empty() ? "" : ",") + Hex(*pad);
      if (*pad == gpib::NOADDR) break;
    }
    Record("FindLstn(" + std::to_string(board) + ",[" + list + "]," + std::to_string(limit) + ")");
    Outcome outcome = Next("FindLstn");
    std::size_t n = std::min(outcome.addresses.size(), static_cast<std::size_t>(limit));
    std::copy_n(outcome.addresses.begin(), n, results);
    Report(outcome.status, outcome.error, static_cast<long>(outcome.addresses.size()));
  }
  int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) override {
    Record("ibdev(" + Args({board, pad, sad, tmo, eot, eos}) + ")");
    Outcome outcome = Next("ibdev", Value(next_ud_++));
    Report(outcome.status, outcome.error, 0);
    return outcome.value;
  }
  int ibpad(int ud, int pad) override { return Answer("ibpad", {ud, pad}); }
  int ibclr(int ud) override { return Answer("ibclr", {ud}); }
  int ibtmo(int ud, int v) override { return Answer("ibtmo", {ud, v}); }
  int ibrsp(int ud, char* spr) override {
    Record("ibrsp(" + std::to_string(ud) + ")");
    Outcome outcome = Next("ibrsp");
    if (!outcome.data.empty()) spr[0] = outcome.data[0];
    return Report(outcome.status, outcome.error, 0);
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
  int ibask(int ud, int option, int* value) override {
    Record("ibask(" + Args({ud, option}) + ")");
    Outcome outcome = Next("ibask", Value(gpib::T3s));
    if (!(outcome.status & gpib::ERR)) *value = outcome.value;
    return Report(outcome.status, outcome.error, 0);
  }
  int ibwait(int ud, int mask) override {
    Record("ibwait(" + std::to_string(ud) + "," + Hex(static_cast<unsigned>(mask)) + ")");
    Outcome outcome = Next("ibwait");
    return Report(outcome.status, outcome.error, 0);
  }

 private:
  void Record(std::string call) {
    calls.push_back(std::move(call));
    times.push_back(clock_ != nullptr ? clock_->Elapsed() : 0.0);
  }
  Outcome Next(const std::string& name, Outcome fallback = {}) {
    std::deque<Outcome>& queue = script_[name];
    if (queue.empty()) return fallback;
    Outcome outcome = std::move(queue.front());
    queue.pop_front();
    return outcome;
  }
  // A call that only records its arguments and reports its outcome.
  int Answer(const std::string& name, std::initializer_list<int> args) {
    Record(name + "(" + Args(args) + ")");
    Outcome outcome = Next(name);
    return Report(outcome.status, outcome.error, 0);
  }
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
  int next_ud_ = 32;
  std::map<std::string, std::deque<Outcome>> script_;
};

}  // namespace kc::fakes
