// A whole checkout in one go: the checks of a list run one after another,
// each started as the technician would start it from the menu. At each of the
// menu's waits for a press the sequence presses the button itself: it turns
// the pages a technician would turn and chooses the check. Everything the
// instrument receives is what the same choices made by hand would bring, the
// event query of each choice included, so that the press that answered the
// last check's final prompt is read and gone before the next check asks
// anything; only the waits for the presses are left out.
//
// While it runs the PC window's hint says "check 4 of 12: ..."; a check left
// with MENU OFF twice asks on the PC whether to skip it or stop; at the end a
// PC message box sums up every check's verdict and the menu is the
// technician's again.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/types.h"

namespace kc {

class MainForm;

// The checks of a full performance checkout, in its order: the menu's order,
// page by page. "ccd-cte" stands for the menu's second entry, which is
// "pos-effect" on the models that show that check instead.
const std::vector<std::string>& FullCheckout();

// The names of a --sequence list, separated by commas ("calibrator,timing"),
// or an error text naming the checks there are.
std::variant<std::vector<std::string>, std::string> ParseSequenceList(std::string_view text);

class Sequence {
 public:
  // `names` as ParseSequenceList gives them; none: no sequence runs.
  Sequence(MainForm& form, const std::vector<std::string>& names);

  bool running() const { return running_; }

  // At the menu's wait for a press, with `menu_page` shown: the button the
  // sequence presses instead, after reading the event a press would have
  // left. Nothing once no sequence runs: the technician chooses.
  std::optional<Integer> Choose(Integer menu_page);

 private:
  struct Step {
    std::string name;   // as on this model's menu
    std::string title;  // "Calibrator signal"
    long menu_code = 0;
    std::string outcome = "not run";
  };

  // What the check just run showed, and whether the sequence goes on.
  bool TakeOutcome();
  std::string CompletedOutcome(const Step& step) const;
  // The summary box, and the hint back as the menu has it.
  void Finish(bool stopped);

  MainForm& form_;
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  bool running_ = false;
  // A check was chosen at the last wait and has returned since.
  bool check_out_ = false;
  int passes_before_ = 0;
  int fails_before_ = 0;
  std::size_t records_before_ = 0;
};

}  // namespace kc
