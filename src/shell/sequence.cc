#include "shell/sequence.h"

#include <array>

#include "platform/text.h"
#include "record/check_catalogue.h"
#include "record/run_recorder.h"
#include "shell/main_form.h"

namespace kc {

namespace {

// Each check's place on the menu as the menu computes it: (page - 1) * 5 +
// button.
struct MenuEntry {
  const char* name;
  long code;
};
constexpr std::array<MenuEntry, 13> kMenu{{
    {"atten-comp", 1},
    {"ccd-cte", 2},
    {"pos-effect", 2},
    {"sampl-skew", 3},
    {"ccd-lin", 6},
    {"vert-acc", 7},
    {"cmrr", 8},
    {"bandwidth", 11},
    {"timing", 12},
    {"calibrator", 13},
    {"a-trig", 16},
    {"b-trig", 17},
    {"ext-trigs", 18},
}};

// The pages buttons 4 and 5 turn to, by page (0: no page; page 1's button 5
// is QUIT).
constexpr int kPageTurns[5][2] = {{0, 0}, {2, 0}, {3, 1}, {4, 2}, {1, 3}};

const MenuEntry* FindMenuEntry(std::string_view name) {
  for (const MenuEntry& entry : kMenu) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

// The page button to press on page `from` on the shortest way to page `to`
// (both 1 to 4).
Integer PageButton(int from, int to) {
  // The first button of the way to each page reached; 0 while not reached.
  int first[5] = {};
  int reached[5] = {from};
  int count = 1;
  first[from] = -1;
  for (int i = 0; i < count; ++i) {
    const int page = reached[i];
    for (int turn = 0; turn < 2; ++turn) {
      const int next = kPageTurns[page][turn];
      if (next == 0 || first[next] != 0) continue;
      first[next] = page == from ? 4 + turn : first[page];
      if (next == to) return static_cast<Integer>(first[next]);
      reached[count++] = next;
    }
  }
  return 4;
}

std::string Of(std::size_t number, std::size_t count) {
  return "check " + std::to_string(number) + " of " + std::to_string(count);
}

}  // namespace

const std::vector<std::string>& FullCheckout() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> list;
    for (const MenuEntry& entry : kMenu) {
      if (std::string_view(entry.name) != "pos-effect") list.emplace_back(entry.name);
    }
    return list;
  }();
  return names;
}

std::variant<std::vector<std::string>, std::string> ParseSequenceList(std::string_view text) {
  std::vector<std::string> names;
  for (std::string_view part : Split(text, ",")) {
    std::string name = Lower(TrimBlanks(part));
    if (FindMenuEntry(name) == nullptr) {
      std::string known;
      for (const MenuEntry& entry : kMenu)
        known += std::string(known.empty() ? "" : ", ") + entry.name;
      return "unknown check \"" + name + "\" (checks: " + known + ")";
    }
    names.push_back(std::move(name));
  }
  return names;
}

Sequence::Sequence(MainForm& form, const std::vector<std::string>& names) : form_(form) {
  for (const std::string& name : names) {
    const MenuEntry* entry = FindMenuEntry(name);
    if (entry == nullptr) continue;  // the command line lets none through
    Step step;
    // The menu's second entry is named after the check this model shows.
    step.name = entry->code == 2 ? (form.ModelIndex < 3 ? "ccd-cte" : "pos-effect") : name;
    step.title = CheckTitle(step.name);
    step.menu_code = entry->code;
    steps_.push_back(std::move(step));
  }
  running_ = !steps_.empty();
}

std::optional<Integer> Sequence::Choose(Integer menu_page) {
  if (!running_) return std::nullopt;
  if (check_out_) {
    check_out_ = false;
    if (!TakeOutcome()) {
      Finish(true);
      return std::nullopt;
    }
  }
  if (next_ == steps_.size()) {
    Finish(false);
    return std::nullopt;
  }
  // The event query of the choice: it takes the press that answered the last
  // check's final prompt, as the menu's own reading would.
  form_.xEvent();
  const Step& step = steps_[next_];
  const auto page = static_cast<Integer>((step.menu_code - 1) / 5 + 1);
  if (page != menu_page) return menu_page >= 1 && menu_page <= 4 ? PageButton(menu_page, page) : 4;

  ++next_;
  form_.ops().platform().SetHint(Of(next_, steps_.size()) + ": " + step.title);
  form_.last_event = 0;
  passes_before_ = form_.passes_shown;
  fails_before_ = form_.fails_shown;
  records_before_ = form_.recorder != nullptr ? form_.recorder->record().checks.size() : 0;
  check_out_ = true;
  return static_cast<Integer>((step.menu_code - 1) % 5 + 1);
}

bool Sequence::TakeOutcome() {
  Step& step = steps_[next_ - 1];
  // Every check returns at once on a leave event; a completed one has read
  // none since it began.
  if (form_.last_event <= 200) {
    step.outcome = CompletedOutcome(step);
    return true;
  }
  step.outcome = "left (MENU OFF)";
  if (next_ == steps_.size()) return true;
  const std::string prompt = "MENU OFF was pressed twice in " + Of(next_, steps_.size()) + ", " +
                             step.title + ".\n\nOK: skip it and go on with " +
                             Of(next_ + 1, steps_.size()) + ", " + steps_[next_].title +
                             ".\nCancel: stop the sequence and return to the main menu.";
  return form_.ops().platform().MessageBox(prompt, "Check left", MsgIcon::kExclamation,
                                           MsgButtons::kOkCancel) == MsgAnswer::kOk;
}

std::string Sequence::CompletedOutcome(const Step& step) const {
  const std::optional<CheckEntry> entry = FindCheckEntry(step.name, form_.ModelIndex);
  if (entry && !entry->applicable) return "not applicable";
  const bool by_eye = entry && entry->by_eye;
  // The record also holds the technician's verdict on a check judged by eye.
  if (form_.recorder != nullptr) {
    const std::vector<CheckRecord>& checks = form_.recorder->record().checks;
    if (records_before_ < checks.size() && checks[records_before_].name == step.name) {
      const CheckRecord& check = checks[records_before_];
      if (!by_eye) return CheckVerdict(check) == Verdict::kPass ? "PASS" : "FAIL";
      if (check.eye_verdict == EyeVerdict::kNotJudged) return "not judged";
      return Upper(EyeVerdictName(check.eye_verdict)) + " (by eye)";
    }
  }
  // Otherwise what its screen showed.
  if (form_.fails_shown > fails_before_) return "FAIL";
  if (form_.passes_shown > passes_before_) return "PASS";
  return by_eye ? "completed, judged by eye" : "completed";
}

void Sequence::Finish(bool stopped) {
  running_ = false;
  std::string text = "Sequence of " + std::to_string(steps_.size()) + " checks " +
                     (stopped ? "stopped after " + Of(next_, steps_.size()) : "finished") + ":\n";
  for (std::size_t i = 0; i < steps_.size(); ++i) {
    text += "\n" + std::to_string(i + 1) + ". " + steps_[i].title + ": " + steps_[i].outcome;
  }
  text += "\n\nThe main menu is back on the instrument.";
  Platform& platform = form_.ops().platform();
  platform.MessageBox(text, "Checkout sequence", MsgIcon::kInformation, MsgButtons::kOk);
  platform.SetHint(form_.Hint());
}

}  // namespace kc
