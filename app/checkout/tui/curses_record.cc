// The full-screen window's part in the checkout record: the identity form
// before the intro, the results dialog and the saved-record status line.
#include <algorithm>

#include "app/checkout/tui/curses_platform.h"

// Last, and functions only: curses defines ERR and OK, and its macros would
// clash with ordinary names.
#define NCURSES_NOMACROS
#include <curses.h>

namespace kc {

namespace {

// How long the form waits for input between redraws.
constexpr double kFormPoll = 0.1;
constexpr int kEscape = 27;
constexpr int kBackspace = 8;
constexpr int kDelete = 127;

}  // namespace

void CursesPlatform::AskIdentity(std::string& serial, std::string& technician) {
  TakeSignals();
  IdentityForm form(serial, technician);
  if (form.done() || gone_ || close_pending()) return;
  view_.identity = std::move(form);
  dirty_ = true;
  while (!view_.identity->done()) {
    Refresh();
    DrawIfNeeded();
    ReadInput(kFormPoll);
    TakeSignals();
    // Closed while asking: what was accepted stands, the rest is unknown.
    if (gone_ || close_pending()) view_.identity->Skip();
  }
  serial = view_.identity->serial();
  technician = view_.identity->technician();
  view_.identity.reset();
  dirty_ = true;
}

void CursesPlatform::HandleFormKey(int key) {
  IdentityForm& form = *view_.identity;
  switch (key) {
    case '\r':
    case '\n':
    case '\t':
    case KEY_ENTER:
      form.Accept();
      break;
    case kEscape:
      form.Skip();
      break;
    case KEY_BACKSPACE:
    case kBackspace:
    case kDelete:
      form.Erase();
      break;
    default:
      // Function keys and the like are above the byte range and left out.
      form.Type(key);
      break;
  }
  dirty_ = true;
}

void CursesPlatform::HandleResultsKey(int key) {
  ResultsView& results = *view_.results;
  int page = std::max(1, layout_.results_page);
  int last = std::max(0, static_cast<int>(results.lines.size()) - page);
  auto scroll_to = [&results, last](int top) { results.top = std::clamp(top, 0, last); };
  switch (key) {
    case KEY_UP:
      scroll_to(results.top - 1);
      break;
    case KEY_DOWN:
      scroll_to(results.top + 1);
      break;
    case KEY_PPAGE:
      scroll_to(results.top - page);
      break;
    case KEY_NPAGE:
    case ' ':
      scroll_to(results.top + page);
      break;
    case KEY_HOME:
      scroll_to(0);
      break;
    case KEY_END:
      scroll_to(last);
      break;
    case kEscape:
    case '\r':
    case '\n':
    case KEY_ENTER:
    case 'r':
    case 'R':
    case 'q':
    case 'Q':
      view_.results.reset();
      break;
    default:
      break;
  }
  dirty_ = true;
}

void CursesPlatform::SetResultsSource(std::function<const RunRecord*()> results,
                                      std::function<std::filesystem::path()> saved_file) {
  results_source_ = std::move(results);
  saved_file_ = std::move(saved_file);
  view_.results_key = static_cast<bool>(results_source_);
  if (!results_source_) view_.results.reset();
  checks_ended_ = 0;
  record_events_ = 0;
  dirty_ = true;
}

void CursesPlatform::ShowRecordSaved(const std::filesystem::path& file) {
  view_.record_saved = file.string();
  dirty_ = true;
}

void CursesPlatform::WatchRecord() {
  if (!results_source_) return;
  const RunRecord* run = results_source_();
  int ended = 0;
  std::size_t events = 0;
  if (run != nullptr) {
    events = 1 + run->checks.size();
    for (const CheckRecord& check : run->checks) {
      events += check.readings.size() + check.presses.size();
      if (check.end) ++ended;
    }
    events += static_cast<std::size_t>(ended);
  }
  if (events == record_events_ && ended == checks_ended_) return;
  record_events_ = events;
  if (ended != checks_ended_) {
    checks_ended_ = ended;
    if (ended > 0) ShowRecordSaved(saved_file_ ? saved_file_() : std::filesystem::path());
  }
  if (view_.results) view_.results->lines = ResultsLines(run);
  dirty_ = true;
}

}  // namespace kc
