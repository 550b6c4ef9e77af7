// The checks on the simulated bench, loaded as the main menu leaves it, and
// their dialogues written as transcripts (tests/transcripts): what the
// instrument receives and answers, where the technician presses and how long
// the program waits.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/checkout_bench.h"
#include "support/traced_form.h"

namespace kc {

using Stream = std::vector<std::string>;
// Replies of the instrument by query, used in order before its own answers.
using Replies = std::map<std::string, Stream>;

// The `steps` steps of a bar graph on line 16, `indent` blanks in, after
// `text`: step i shows i - 1 glyphs, then blanks up to the closing glyph in
// column `steps`.
Stream Bar(int steps, int indent, const std::string& text = "PLEASE WAIT ");

// The title screen the menu draws before each page, its pages (page 1 names
// the position effect check instead of CCD CTE from the 2431L on) and the
// closing sequence, as the instrument receives them.
Stream TitleScreen();
Stream MenuPage(int page, bool position_effect);
inline const Stream kClosing = {"MESS CLR,9:\"         *** CLOSING PROGRAM ***\"",
                                "INIT BOTH;CH1 COU:GND,POS:+.5", "VMO CH2;CH2 COU:GND,POS:-.5"};

// Every check by the name the transcripts use ("Calibrator", "TriggerA"...).
const std::map<std::string, void (*)(MainForm&)>& Checks();

// One dialogue of a check, read from a transcript file:
//   check NAME | model MODEL | leave-sweep FIRST   the run and the leave sweep
//   > MESSAGE      a message the instrument receives
//   < REPLY        its answer to the query just above
//   press TOKEN    the technician (b1..b5, leave, b2@0.5: the script's tokens)
//   wait SECONDS   the program waits that long before the next message
//   bar STEPS INDENT    the "PLEASE WAIT " bar, a second a step
//   expect WHAT    afterwards: cell ROW COL VALUE, bells N, event N,
//                  last-button N, selfcals N, elapsed SECONDS,
//                  setting NAME = VALUE, line N "TEXT" (screen line N, 1 to
//                  16, escapes as sent)
// A verdict case leaves the stream unwritten: its `reply QUERY TEXT` lines
// answer the query in order (TEXT may be empty), and what it sends is only
// held to carry no "inf" or "nan".
struct Transcript {
  std::string check;
  std::string model = "2440";
  Stream sent;
  Replies replies;
  std::vector<std::string> presses;
  // For each press, the index in `sent` of the message that follows it.
  std::vector<std::size_t> press_before;
  // Seconds between message i - 1 and message i, where the file says.
  std::map<std::size_t, double> waits;
  std::vector<std::string> expects;
  // Replies given by `reply`: the stream is not written out.
  bool verdict_case = false;
  // Leave at every press from this one (1-based) on; 0: no sweep.
  int leave_sweep = 0;
  // The first thing wrong with the file, with its line number.
  std::string error;
};

// The names of the transcript files (without ".txt"), sorted.
std::vector<std::string> TranscriptNames();
Transcript ReadTranscript(const std::string& name);

// A fixture for the checks: each run on a new bench loaded as the main menu
// leaves it (LastButton 1, as after the menu press), through a traced form so
// that every command is seen with its time. A run fails the test when the
// instrument reports a command it could not read or answer.
class CheckTest : public ::testing::Test {
 protected:
  // Runs `check`; the exit code, -1 when the check returned.
  int RunCheck(const std::string& check, const std::string& model, const std::string& script,
               const Replies& replies = {});
  // Runs the transcript and compares the whole stream, its waits and its
  // expectations; then leaves at every press of its sweep.
  void ExpectTranscript(const Transcript& transcript);

  // A close request this many seconds into each run (none when negative); it
  // runs the closing sequence, as the main window does.
  double close_after_ = -1;

  CheckoutBench& bench() { return *bench_; }
  MainForm& form() { return traced_->form(); }
  SimScope& scope() { return bench_->scope(); }
  const Stream& received() const { return bench_->received(); }
  int new_bells() const { return bench_->scope().bells() - bells_before_; }
  double elapsed() const { return end_ - start_; }

 private:
  void ExpectAfterwards(const std::string& expectation);
  void LeaveAtEveryPress(const Transcript& transcript);

  std::unique_ptr<CheckoutBench> bench_;
  std::unique_ptr<TracedForm> traced_;
  int bells_before_ = 0;
  double start_ = 0;
  double end_ = 0;
};

}  // namespace kc
