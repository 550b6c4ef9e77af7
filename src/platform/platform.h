// What the checkout needs of its surroundings: the clock, the event pump, the
// main window's caption and hint, the intro window, modal message boxes and the
// end of the process. Implementations: a terminal, a headless one for pipes and
// CI, and the test fixture.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/exit_codes.h"

namespace kc {

enum class MsgIcon { kCritical, kExclamation, kInformation };
// kVerdict asks for the technician's own verdict on a check judged by eye:
// Pass, Fail or Not judged.
enum class MsgButtons { kOk, kOkCancel, kVerdict };
enum class MsgAnswer { kOk, kCancel, kPass, kFail, kNotJudged };

// The answers a box of `buttons` offers, in the order they are shown; the
// first is the default.
std::vector<MsgAnswer> BoxAnswers(MsgButtons buttons);
// The answer when nobody is left to give one: Cancel, Not judged, or OK.
MsgAnswer UnattendedAnswer(MsgButtons buttons);

// One tick of the event pump: how long PumpEvents gives up the processor in
// real time (short, so a wait ends close to its time), and the step of a
// virtual clock.
inline constexpr double kRealPumpTick = 0.001;
inline constexpr double kVirtualPumpTick = 0.001;

// Thrown to end the program; unwinds to main(), which prints `message` (if any)
// and returns `code`. Nothing touches the instrument after it is thrown.
struct ProgramEnd {
  int code;
  std::string message;
};

class Platform {
 public:
  virtual ~Platform() = default;

  virtual Clock& clock() = 0;

  // Lets pending window events run (a close request runs the close handler,
  // which does not return) and gives up the processor for one short tick; under
  // a virtual clock the tick is a step of the clock.
  virtual void PumpEvents() = 0;

  // Called by bus back ends while blocked in the driver (a service-request wait,
  // a read): waits at most `max_seconds` for input (such as keys meant for the
  // simulated front panel) and returns true when a close request is pending.
  // Never runs the close handler itself.
  virtual bool WaitIdle(double max_seconds) = 0;

  virtual void SetCaption(const std::string& text) = 0;
  virtual void SetHint(const std::string& text) = 0;
  virtual void ShowIntro(const std::string& text) = 0;
  virtual void HideIntro() = 0;
  virtual MsgAnswer MessageBox(const std::string& prompt, const std::string& title, MsgIcon icon,
                               MsgButtons buttons) = 0;

  // Shows the simulated instrument's screen (message lines 1..16, index 0 is
  // line 1, escapes as sent) and bell count. Views without a panel ignore it.
  virtual void ShowInstrumentScreen(const std::vector<std::string>& lines, int bells) {
    (void)lines;
    (void)bells;
  }
  // Mirrors a message line the program writes to a real instrument.
  virtual void MirrorMessageLine(int line, const std::string& text) {
    (void)line;
    (void)text;
  }

  // The program is about to wait `seconds` by itself (a settling time, a step
  // of a sweep) with nothing asked of the technician; views may say so.
  virtual void NoteOwnWait(double seconds) { (void)seconds; }
  // Why the message boxes that follow are shown, when a bus back end knows
  // more than their texts say: the adapter, the address and the operating
  // system's error. Empty again once the bus works. A view shows it with
  // each box it draws while it is set; the box's own title and text stay as
  // they are.
  void SetMessageDetail(std::string text) { message_detail_ = std::move(text); }
  const std::string& message_detail() const { return message_detail_; }

  [[noreturn]] void EndProcess(int code, std::string message = {}) {
    throw ProgramEnd{code, std::move(message)};
  }

  // Window event handlers, set by the main window and the intro window.
  void SetCloseHandler(std::function<void()> handler) { on_close_ = std::move(handler); }
  void SetClickHandler(std::function<void()> handler) { on_click_ = std::move(handler); }
  // Keys for the simulated front panel ('1'..'5', 'm'/'M').
  void SetKeyHandler(std::function<void(int)> handler) { on_key_ = std::move(handler); }

  // A close request (Ctrl-C, a closed terminal, a test). Delivered by the next
  // PumpEvents; a request that arrives while the close handler runs is ignored.
  void RequestClose() { close_pending_ = true; }
  bool close_pending() const { return close_pending_; }
  // The closing sequence has begun: later close requests change nothing.
  void MarkClosing() { closing_ = true; }
  void Click() { click_pending_ = true; }

 protected:
  // Runs the handlers of pending events; implementations call it from PumpEvents.
  void DeliverEvents();
  void DeliverKey(int key) {
    if (on_key_) on_key_(key);
  }

 private:
  std::function<void()> on_close_;
  std::function<void()> on_click_;
  std::function<void(int)> on_key_;
  bool close_pending_ = false;
  bool click_pending_ = false;
  bool closing_ = false;
  std::string message_detail_;
};

}  // namespace kc
