#include "link_real/scripted_adapter.h"

#include <asio/error.hpp>
#include <thread>

#include "support/dialogue_files.h"

namespace kc::testing {

bool ScriptedAdapter::IsAdapterLine(const std::string& first_word) {
  return std::string(" > < << ~ drop refuse repeat ").find(" " + first_word + " ") !=
         std::string::npos;
}

ScriptedAdapter::ScriptedAdapter(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::string kind = line.substr(0, line.find(' '));
    std::string bytes =
        line.size() > kind.size() ? harness::DialogueBytes(line.substr(kind.size() + 1)) : "";
    if (kind == ">") bytes += "\n";
    if (kind == "<") bytes += "\r\n";
    steps_.push_back({kind, bytes});
  }
  Answer();
}

std::error_code ScriptedAdapter::Open(Deadline) {
  if (refusing_) return std::make_error_code(std::errc::connection_refused);
  open_ = true;
  closed_by_peer_ = false;
  input_.clear();
  trickle_.clear();
  ClearBuffer();
  return {};
}

std::string ScriptedAdapter::Expected() const {
  std::string expected = met_;
  for (std::size_t i = next_; i < steps_.size(); ++i) {
    if (steps_[i].kind == ">" && !(repeating_ && i == repeat_from_)) expected += steps_[i].bytes;
  }
  return expected;
}

std::error_code ScriptedAdapter::WriteSome(std::string_view data, Deadline, std::size_t* sent) {
  *sent = 0;
  if (closed_by_peer_) return std::make_error_code(std::errc::connection_reset);
  *sent = data.size();
  received_.append(data);
  Play();
  return {};
}

void ScriptedAdapter::Play() {
  while (!derailed_ && next_ < steps_.size() && steps_[next_].kind == ">") {
    const std::string& line = steps_[next_].bytes;
    if (received_.size() < met_.size() + line.size()) return;
    if (received_.compare(met_.size(), line.size(), line) != 0) {
      derailed_ = true;
      return;
    }
    met_ += line;
    repeat_from_ = next_++;
    Answer();
  }
}

void ScriptedAdapter::Answer() {
  for (; next_ < steps_.size() && steps_[next_].kind != ">"; ++next_) {
    const Step& step = steps_[next_];
    if (step.kind[0] == '<') input_.push_back(step.bytes);
    if (step.kind == "~") trickle_ = step.bytes;
    closed_by_peer_ = closed_by_peer_ || step.kind == "drop";
    refusing_ = refusing_ || step.kind == "refuse";
    if (step.kind == "repeat") {
      next_ = repeat_from_;
      repeating_ = true;
      return;
    }
  }
}

std::error_code ScriptedAdapter::ReadSome(Deadline deadline, std::string* out) {
  if (!input_.empty()) {
    out->append(input_.front());
    input_.pop_front();
    return {};
  }
  if (!trickle_.empty()) {
    // A read that only takes what has come (a drain) gets the rest at once.
    if (deadline <= std::chrono::steady_clock::now()) {
      out->append(trickle_);
      trickle_.clear();
      return {};
    }
    std::this_thread::sleep_until(
        std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(30)));
    if (std::chrono::steady_clock::now() >= deadline) return TimedOut();
    out->push_back(trickle_.front());
    trickle_.erase(0, 1);
    return {};
  }
  if (closed_by_peer_) return asio::error::eof;
  return TimedOut();
}

}  // namespace kc::testing
