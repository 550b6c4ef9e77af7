#include "sim/script_technician.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "platform/platform.h"
#include "link/scope_syntax.h"

namespace kc {

namespace {

// Times that fall due within this of now are due (the clock may have been
// moved by exactly the remaining time).
constexpr double kTimeSlack = 1e-9;
// Program time the technician waits, with nothing timed to do, for the program
// to wait for a button. A program that only polls the event register (the
// attenuator adjustment) never does: the run ends instead of polling for ever.
// The patience counts only while the program keeps the bus busy: a pause in
// its calls longer than kPause (nobody connected to a served bus) starts it
// afresh.
constexpr double kPatience = 600;
constexpr double kPause = 5;
// Every token the script takes, for the message on a bad one.
constexpr const char* kValidTokens =
    "expected b1 to b5 (a bezel button), leave (MENU OFF twice) or trim (the common-mode VAR "
    "adjustment); b1 to b5 and leave may take a delay in seconds after @, as in b2@3.5";

std::optional<double> ParseSeconds(const std::string& text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.') return std::nullopt;
  }
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::vector<ScriptTechnician::Step>> ScriptTechnician::Parse(
    const std::string& script, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<std::vector<Step>> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  std::vector<Step> steps;
  if (TrimBlanks(script).empty()) return steps;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = script.find(',', start);
    std::string token(TrimBlanks(std::string_view(script).substr(
        start, comma == std::string::npos ? std::string::npos : comma - start)));
    Step step;
    step.token = token;
    std::string action = token;
    std::size_t at = token.find('@');
    if (at != std::string::npos) {
      action = std::string(TrimBlanks(std::string_view(token).substr(0, at)));
      std::string delay(TrimBlanks(std::string_view(token).substr(at + 1)));
      step.delay = ParseSeconds(delay);
      if (!step.delay) {
        return fail("script token \"" + token +
                    "\": the delay after \"@\" must be a number of seconds, 0 or more");
      }
    }
    if (action.size() == 2 && action[0] == 'b' && action[1] >= '1' && action[1] <= '5') {
      step.action = Step::Action::kBezel;
      step.button = action[1] - '0';
    } else if (action == "leave") {
      step.action = Step::Action::kLeave;
    } else if (action == "trim") {
      if (step.delay) return fail("script token \"" + token + "\": trim takes no delay");
      step.action = Step::Action::kTrim;
    } else if (token.empty()) {
      return fail("the script has an empty token");
    } else {
      return fail("script token \"" + token + "\": " + kValidTokens);
    }
    steps.push_back(step);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return steps;
}

std::string ScriptTechnician::Check(const std::string& script) {
  std::string error;
  return Parse(script, &error) ? std::string() : error;
}

ScriptTechnician::ScriptTechnician(SimScope& scope, Clock& clock, const std::string& script)
    : scope_(scope), clock_(clock) {
  SetScript(script);
}

void ScriptTechnician::SetScript(const std::string& script) {
  std::string error;
  auto steps = Parse(script, &error);
  if (!steps) throw std::invalid_argument(error);
  steps_ = std::move(*steps);
  next_ = 0;
  last_action_ = clock_.Elapsed();
}

std::optional<double> ScriptTechnician::NextTimedAction() const {
  if (next_ >= steps_.size() || !steps_[next_].delay) return std::nullopt;
  return last_action_ + *steps_[next_].delay;
}

bool ScriptTechnician::ActIfDue(double now) {
  std::optional<double> due = NextTimedAction();
  if (now - last_call_ > kPause || last_action_ > idle_since_) idle_since_ = now;
  last_call_ = now;
  if (!due && now - idle_since_ > kPatience) {
    if (next_ >= steps_.size()) {
      throw ProgramEnd{kExitOperatorDone,
                       "The simulated technician's script ran out while the program polled for a "
                       "bezel button."};
    }
    const std::string& token = steps_[next_].token;
    throw ProgramEnd{kExitOperatorDone,
                     "The simulated technician's next step (" + token +
                         ") waits for the program to wait for a bezel button, but the program "
                         "has only polled for one for ten minutes: give the step a delay, e.g. " +
                         token + "@3."};
  }
  if (!due || now + kTimeSlack < *due) return false;
  Act(steps_[next_], now);
  return true;
}

bool ScriptTechnician::ActOnWait(double now) {
  if (next_ >= steps_.size()) return false;
  if (steps_[next_].action == Step::Action::kTrim) {
    // One press per wait, judged by the ADD trace as it looks now.
    int button = trimmer_.Next(PeakToPeak(scope_.EyeTrace(Trace::kAdd)));
    if (button == 3) ++next_;
    last_action_ = now;
    done_.push_back({now, "trim:b" + std::to_string(button)});
    scope_.PressBezel(button);
    return true;
  }
  Act(steps_[next_], now);
  return true;
}

void ScriptTechnician::Act(const Step& step, double now) {
  ++next_;
  last_action_ = now;
  done_.push_back({now, step.token});
  if (step.action == Step::Action::kBezel) {
    scope_.PressBezel(step.button);
  } else {
    scope_.PressMenuOff();
    scope_.PressMenuOff();
  }
}

KeyboardTechnician::KeyboardTechnician(Platform& platform, SimScope& scope) : platform_(platform) {
  platform_.SetKeyHandler([&scope](int key) { Press(scope, key); });
}

KeyboardTechnician::~KeyboardTechnician() {
  platform_.SetKeyHandler(nullptr);
}

bool KeyboardTechnician::Press(SimScope& scope, int key) {
  if (key >= '1' && key <= '5') {
    scope.PressBezel(key - '0');
    return true;
  }
  if (key == 'm' || key == 'M') {
    scope.PressMenuOff();
    return true;
  }
  return false;
}

}  // namespace kc
