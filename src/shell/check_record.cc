// The main window's part in the run's checkout record: each check chosen from
// the menu from its start to its end, the verdict lines it shows, the buttons
// pressed at the questions of a check judged by eye, and the technician's own
// verdict on such a check, asked on the PC (never on the instrument).
#include "display/result_format.h"
#include "record/check_catalogue.h"
#include "record/run_recorder.h"
#include "shell/main_form.h"

namespace kc {

namespace {

constexpr const char* kEyeVerdictTitle = "Technician's verdict";

}  // namespace

void MainForm::RunCheck(std::string_view name, const std::function<void()>& check) {
  check_finished_ = false;
  check_by_eye_ = false;
  last_event = 0;
  question_.clear();
  if (recorder != nullptr) {
    const auto entry = FindCheckEntry(name, ModelIndex);
    check_by_eye_ = entry && entry->by_eye && entry->applicable;
    recorder->BeginCheck(name);
  }
  check();
  // A check left at a wait returned on an event above 200.
  FinishCheck(last_event <= 200);
}

void MainForm::FinishCheck(bool completed) {
  if (check_finished_) return;
  check_finished_ = true;
  if (recorder == nullptr) return;
  if (completed && check_by_eye_) {
    const std::string title = CheckTitle(recorder->record().checks.back().name);
    const MsgAnswer answer = platform_.MessageBox(
        "Check completed: " + title +
            "\n\nYour verdict on what the instrument showed, for the record: Pass, Fail or "
            "Not judged.",
        kEyeVerdictTitle, MsgIcon::kInformation, MsgButtons::kVerdict);
    recorder->SetEyeVerdict(answer == MsgAnswer::kPass   ? EyeVerdict::kPass
                            : answer == MsgAnswer::kFail ? EyeVerdict::kFail
                                                         : EyeVerdict::kNotJudged);
  }
  recorder->EndCheck(completed ? CheckEnding::kCompleted : CheckEnding::kLeft);
}

void MainForm::RecordReading(const std::string& item, double shown, Single margin) {
  if (recorder == nullptr) return;
  // The very rule of PassFail, so the record never disagrees with the screen.
  recorder->AddReading(item, shown,
                       kc::PassFail(margin) == "PASS" ? Verdict::kPass : Verdict::kFail);
}

void MainForm::RecordPress(Integer event) {
  if (recorder == nullptr || !check_by_eye_) return;
  if (event > 200) {
    recorder->ButtonPressed(question_, 0);
  } else if (event >= 1 && event <= 5) {
    recorder->ButtonPressed(question_, event);
  }
}

}  // namespace kc
