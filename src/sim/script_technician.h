// Who stands at the simulated oscilloscope: a script that presses bezel
// buttons, or a person at the keyboard.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/platform.h"
#include "sim/bench_hand.h"
#include "sim/sim_bus.h"
#include "sim/sim_scope.h"

namespace kc {

// Plays a script of comma-separated tokens:
//   b1 .. b5  presses bezel button 1 to 5 (counted from the left);
//   leave     presses MENU OFF twice (the leave event);
//   trim      in the common-mode adjust loop, presses the VAR buttons while
//             the ADD trace gets straighter, then CONTINUE (button 3); it
//             takes one wait per press and no delay.
// A token without a delay is done when the program waits for a service
// request that nothing else will end. A token with "@seconds" (a decimal
// number, 0 or more) is done on its own that many seconds of program time
// after the previous action (or after the script was set), whatever the
// program is doing: "b1,b3@2.5,leave".
class ScriptTechnician : public SimTechnician {
 public:
  struct Step {
    enum class Action { kBezel, kLeave, kTrim };
    Action action = Action::kBezel;
    int button = 0;  // 1..5 for kBezel
    std::optional<double> delay;
    std::string token;  // as written, blanks trimmed
  };
  struct Done {
    double time;
    std::string token;
  };

  // Reads a script; nullopt and a description in `error` when a token is bad.
  static std::optional<std::vector<Step>> Parse(const std::string& script, std::string* error);
  // The description of what is wrong with a script; empty when it is good.
  static std::string Check(const std::string& script);

  // Throws std::invalid_argument (with Check's text) for a bad script.
  ScriptTechnician(SimScope& scope, Clock& clock, const std::string& script);

  // Replaces what is left of the script; delays count from now.
  void SetScript(const std::string& script);

  std::optional<double> NextTimedAction() const override;
  bool ActIfDue(double now) override;
  // Does the next token; a delayed one is done at once (the bus passes the
  // time before it asks). False when the script is used up.
  bool ActOnWait(double now) override;
  bool interactive() const override { return false; }

  std::size_t remaining() const { return steps_.size() - next_; }
  // The tokens done so far with their times (bus clock).
  const std::vector<Done>& done() const { return done_; }

 private:
  void Act(const Step& step, double now);

  SimScope& scope_;
  Clock& clock_;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  double last_action_ = 0;
  // Since when the program has kept calling without waiting for a button,
  // and its last call (bus clock).
  double idle_since_ = 0;
  double last_call_ = 0;
  std::vector<Done> done_;
  VarTrimmer trimmer_;
};

// A person at the terminal: keys 1..5 press the bezel buttons, m or M presses
// MENU OFF (twice in a row to leave). The keys reach the instrument through
// the platform's key handler; service-request waits are open-ended.
class KeyboardTechnician : public SimTechnician {
 public:
  KeyboardTechnician(Platform& platform, SimScope& scope);
  ~KeyboardTechnician() override;
  KeyboardTechnician(const KeyboardTechnician&) = delete;
  KeyboardTechnician& operator=(const KeyboardTechnician&) = delete;

  std::optional<double> NextTimedAction() const override { return std::nullopt; }
  bool ActIfDue(double now) override {
    (void)now;
    return false;
  }
  bool ActOnWait(double now) override {
    (void)now;
    return true;
  }
  bool interactive() const override { return true; }

  // What a key does at the front panel; false for keys that do nothing there.
  static bool Press(SimScope& scope, int key);

 private:
  Platform& platform_;
};

}  // namespace kc
