// The platform as a full-screen terminal window: the caption and hint at the
// top, the intro as a centred panel, message boxes as centred modal dialogs,
// and below the hint either the simulated instrument's front panel or the
// mirror of the message lines written to a real one (window.h draws it).
//
// Keys: 1..5 press the bezel buttons, M pressed twice is MENU OFF twice, U
// pulls or replugs the simulated instrument's GPIB cable, R shows the run's
// results so far (when a record is kept); in a dialog the arrow keys and Tab
// choose a button, Enter takes it, Esc is Cancel (OK when there is no
// Cancel). Any key or click closes the intro. The mouse presses
// the bezel buttons (or their labels), MENU OFF, the dialog buttons and the
// caption's close mark.
//
// Ctrl-C, SIGINT, SIGHUP (the terminal closed) and a click on the close mark
// are the window's close request; Ctrl-C again while closing ends at once.
// The terminal is restored on every way out, SIGTERM included.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/checkout/tui/activity.h"
#include "app/checkout/tui/window.h"
#include "platform/headless_platform.h"
#include "platform/platform.h"
#include "platform/terminal_rescue.h"

// The curses screen, declared as curses does.
struct screen;
typedef struct screen SCREEN;  // NOLINT(modernize-use-using)

namespace kc {

class CursesPlatform : public Platform {
 public:
  // What the simulated front panel shows besides the message lines, read
  // again a few times a second while the window looks at the instrument.
  struct PanelProbe {
    InstrumentSettings settings;
    BenchStatus bench;
    std::optional<std::vector<AcquiredTrace>> acquired;
    bool service_request = false;
    bool cable_plugged = true;
    // What the instrument is doing by itself ("" when nothing that takes
    // long): self-calibration, averaging.
    std::string instrument_busy;
  };

  // Takes over the terminal on standard input and output; nullptr when it
  // cannot (no terminal description, not a terminal).
  static std::unique_ptr<CursesPlatform> Open(Clock& clock);
  ~CursesPlatform() override;
  CursesPlatform(const CursesPlatform&) = delete;
  CursesPlatform& operator=(const CursesPlatform&) = delete;

  Clock& clock() override { return clock_; }
  void PumpEvents() override;
  bool WaitIdle(double max_seconds) override;
  void SetCaption(const std::string& text) override;
  void SetHint(const std::string& text) override;
  void ShowIntro(const std::string& text) override;
  void HideIntro() override;
  MsgAnswer MessageBox(const std::string& prompt, const std::string& title, MsgIcon icon,
                       MsgButtons buttons) override;
  // Lines with their glyphs already rendered.
  void ShowInstrumentScreen(const std::vector<std::string>& lines, int bells) override;
  // A line as sent (escapes rendered here); line 1..16.
  void MirrorMessageLine(int line, const std::string& text) override;
  void NoteOwnWait(double seconds) override;

  // The panel below the hint is the simulated instrument's front panel.
  // `probe` is asked for the settings, the bench and the indicators;
  // `toggle_cable` pulls or replugs the instrument's GPIB cable (may be empty).
  void ShowFrontPanel(std::string model, std::function<PanelProbe()> probe,
                      std::function<void()> toggle_cable);
  // The panel below the hint mirrors a real instrument's message lines.
  void ShowMirror();
  // A one-line notice under the panel (an adapter's fault line): standard
  // error would scribble over the window.
  void ShowNote(const std::string& text);
  // Drops the hooks into the run's bench (before the bench goes away).
  void ForgetBench();

  // Before the intro, a form asks for each of the two left empty (Enter
  // accepts a field, an empty one stays unknown; Esc skips the rest). Returns
  // at once when both are known, and when the window closes.
  void AskIdentity(std::string& serial, std::string& technician);
  // The run's record: `results` gives it for the R key (null while nothing is
  // recorded), `saved_file` where it was last saved (empty when the last
  // filing failed). Each check that ends puts that file on the status line.
  // Both nullptr: no record is kept (before the recorder goes away).
  void SetResultsSource(std::function<const RunRecord*()> results,
                        std::function<std::filesystem::path()> saved_file);
  // The status line: the run's record was saved to `file` (empty: no line).
  void ShowRecordSaved(const std::filesystem::path& file);

 private:
  using UiClock = std::chrono::steady_clock;

  explicit CursesPlatform(Clock& clock);
  bool Start();

  // Reads and handles input for up to `seconds` of real time; true when a
  // key or click was handled. Returns early on any input.
  bool ReadInput(double seconds);
  void HandleKey(int key);
  void HandleFormKey(int key);
  void HandleResultsKey(int key);
  // Looks at the run's record: a check ended, results changed.
  void WatchRecord();
  void HandleMouse();
  void PressButton(int button);
  void OnCtrlC();
  // The terminal went away (hang-up, end of input): the window closes.
  void MarkGone();
  void TakeSignals();
  // Reads the probe; marks the window for drawing when anything changed.
  void Refresh();
  void Draw();
  void DrawIfNeeded();

  Clock& clock_;
  SCREEN* screen_ = nullptr;
  bool started_ = false;
  bool utf8_ = true;
  bool colours_ = false;
  bool gone_ = false;  // the terminal went away
  bool closing_ = false;
  bool dirty_ = true;
  WindowView view_;
  Layout layout_;
  std::function<PanelProbe()> probe_;
  std::function<void()> toggle_cable_;
  std::function<const RunRecord*()> results_source_;
  std::function<std::filesystem::path()> saved_file_;
  // What the record held at the last look: checks ended, and a count that
  // changes with every check, reading and ending.
  int checks_ended_ = 0;
  std::size_t record_events_ = 0;
  int bells_seen_ = -1;
  int pressed_ = 0;
  // Real-time ends of the short visual effects.
  UiClock::time_point flash_until_{};
  UiClock::time_point press_until_{};
  UiClock::time_point next_probe_{};
  // What goes on by itself, on the program's clock.
  ActivityWatch activity_;
  // The dialog being answered, set by the mouse or the keys.
  std::optional<MsgAnswer> dialog_answer_;
  std::optional<TerminalRescue> rescue_;
  InterruptWatch interrupts_;
};

}  // namespace kc
