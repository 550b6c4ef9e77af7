// The window's part in the checkout record, none of it on the instrument: the
// form before the intro that asks for the instrument's serial number and the
// technician's name, the dialog with the run's results so far (the R key),
// and the status line that says where the record was saved.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/checkout/tui/canvas.h"
#include "record/run_record.h"

namespace kc {

// The form's fields: each one the command line left empty. Enter accepts the
// field being edited (an empty one stays unknown) and goes to the next; Esc
// leaves the form, keeping the fields already accepted. Typed text arrives a
// byte at a time, so a UTF-8 character is whole once its last byte came.
class IdentityForm {
 public:
  struct Field {
    std::string label;
    std::string text;
    bool asked = false;  // false: given on the command line, not shown
  };
  // Longest text a field takes, in characters.
  static constexpr int kMaxLength = 60;

  IdentityForm(std::string serial, std::string technician);

  // True at once when both were given.
  bool done() const { return active_ >= kFields; }

  // A byte of typed text; control characters are left out.
  void Type(int byte);
  // Backspace: the last character of the field.
  void Erase();
  void Accept();
  void Skip();

  // The answers: blanks at either end trimmed, empty when unknown.
  std::string serial() const;
  std::string technician() const;

  static constexpr int kFields = 2;
  const Field& field(int n) const { return fields_[static_cast<std::size_t>(n)]; }
  // The field being edited (kFields when the form is done).
  int active() const { return active_; }

 private:
  void NextAsked(int from);

  std::vector<Field> fields_;
  int active_ = 0;
  bool dropping_ = false;  // the bytes of a character past the limit
};

// What the results dialog shows: the run's lines and the first one in view.
struct ResultsView {
  std::vector<std::string> lines;
  int top = 0;
};

// The results so far of a run (null: nothing recorded yet): its identity and
// overall verdict, then each check with its times, ending and verdict and a
// table of its readings with their limits and verdicts.
std::vector<std::string> ResultsLines(const RunRecord* run);

// The status line after a check, fitted to `width` columns by leaving out the
// start of the folder rather than the file's name.
std::string RecordSavedLine(const std::filesystem::path& file, int width);

// Drawn over the window; each returns the area of its box.
Rect DrawIdentityForm(const IdentityForm& form, Canvas& canvas);
// `page` gets the number of lines in view, for scrolling.
Rect DrawResults(const ResultsView& results, Canvas& canvas, int& page);

}  // namespace kc
