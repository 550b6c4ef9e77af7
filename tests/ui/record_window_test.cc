// The window's part in the checkout record, drawn off-screen: the identity
// form before the intro, the results dialog and the saved-record status line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/checkout/tui/window.h"

namespace kc {
namespace {

// A form's keys as typed: '\r' Enter, '\x1b' Esc, '\b' Backspace, any other
// byte typed text (UTF-8 a byte at a time).
struct FormCase {
  const char* name;
  std::string serial, technician, keys;
  std::string want_serial, want_technician;
};

class IdentityFormTest : public testing::TestWithParam<FormCase> {};

TEST_P(IdentityFormTest, KeysGiveTheAnswers) {
  const FormCase& c = GetParam();
  IdentityForm form(c.serial, c.technician);
  for (char key : c.keys) {
    if (key == '\r')
      form.Accept();
    else if (key == '\x1b')
      form.Skip();
    else if (key == '\b')
      form.Erase();
    else
      form.Type(static_cast<unsigned char>(key));
  }
  EXPECT_TRUE(form.done());
  EXPECT_EQ(form.serial(), c.want_serial);
  EXPECT_EQ(form.technician(), c.want_technician);
}

const std::string k61Umlauts = [] {
  std::string text;
  for (int i = 0; i < 61; ++i) text += "\u00fc";
  return text;
}();

INSTANTIATE_TEST_SUITE_P(
    Cases, IdentityFormTest,
    testing::Values(
        FormCase{"BothAccepted", "", "", "B012345\rAnna Berg\r", "B012345", "Anna Berg"},
        FormCase{"EmptyEnterSkipsAField", "", "", "\rAnna\r", "", "Anna"},
        FormCase{"EscKeepsAcceptedFields", "", "", "B01\rAnn\x1b", "B01", ""},
        FormCase{"EscSkipsTheForm", "", "", "\x1b", "", ""},
        FormCase{"BothGivenAsksNothing", "B7", "Ed", "", "B7", "Ed"},
        FormCase{"OnlyTheMissingFieldIsAsked", "B0999", " ", "J\u00f8rn\r", "B0999", "J\u00f8rn"},
        FormCase{"BlanksTrimmedBackspaceErasesAWholeCharacter", "", "",
                 "  B 12  \rJ\u00fcx\b\b\u00f8rn\r", "B 12", "J\u00f8rn"},
        FormCase{"ACharacterPastTheLimitIsLeftOutWhole", "", "", k61Umlauts + "\r\r",
                 k61Umlauts.substr(0, 120), ""}),
    [](const testing::TestParamInfo<FormCase>& param) { return std::string(param.param.name); });

int FindRow(const Canvas& canvas, const std::string& text) {
  for (int r = 0; r < canvas.height(); ++r) {
    if (canvas.Row(r).find(text) != std::string::npos) return r;
  }
  return -1;
}

TEST(IdentityFormTest, DrawsTheAskedFieldsWithTheCursorAfterTheText) {
  WindowView view;
  view.identity.emplace("", "");
  for (char key : std::string("B1\rJ\u00fcrgen")) {
    if (key == '\r')
      view.identity->Accept();
    else
      view.identity->Type(static_cast<unsigned char>(key));
  }
  Canvas canvas(80, 24);
  DrawWindow(view, canvas);
  int serial = FindRow(canvas, "Serial number:  B1");
  ASSERT_GE(serial, 0);
  EXPECT_NE(canvas.Row(serial + 1).find("Technician:     J\u00fcrgen_"), std::string::npos);
  EXPECT_GE(FindRow(canvas, "Enter: accept (empty skips)   Esc: skip the form"), 0);
}

RunRecord TwoChecks() {
  RunRecord run;
  run.model = "2440";
  run.serial = "B012345";
  run.technician = "J\u00f8rn";
  CheckRecord cal;
  cal.name = "calibrator";
  cal.ending = CheckEnding::kCompleted;
  cal.readings.push_back({"calibrator amplitude", 400.3, "mV", 396.0, 404.0, Verdict::kPass});
  CheckRecord vert;
  vert.name = "vert-acc";
  vert.ending = CheckEnding::kLeft;
  vert.readings.push_back({"CH1 2 mV/div", 3.5, "%", -2.0, 2.0, Verdict::kFail});
  run.checks = {cal, vert};
  return run;
}

// The line holding each of `parts` in this order.
bool HasLine(const std::vector<std::string>& lines, const std::vector<std::string>& parts) {
  for (const std::string& line : lines) {
    std::size_t at = 0;
    for (const std::string& part : parts) {
      at = line.find(part, at);
      if (at == std::string::npos) break;
    }
    if (at != std::string::npos) return true;
  }
  return false;
}

TEST(ResultsTest, ListEachCheckWithItsEndingAndEachReadingWithItsLimitsAndVerdict) {
  RunRecord run = TwoChecks();
  std::vector<std::string> lines = ResultsLines(&run);
  EXPECT_TRUE(HasLine(lines, {"Serial number:", "B012345"}));
  EXPECT_TRUE(HasLine(lines, {"Technician:", "J\u00f8rn"}));
  EXPECT_TRUE(HasLine(lines, {"Overall verdict:", "FAIL"}));
  EXPECT_TRUE(HasLine(lines, {"Calibrator signal", "completed", "PASS"}));
  EXPECT_TRUE(HasLine(lines, {"calibrator amplitude", "400.3 mV", "396.0 to 404.0", "PASS"}));
  EXPECT_TRUE(HasLine(lines, {"Vertical accuracy", "left with MENU OFF", "FAIL"}));
  EXPECT_TRUE(HasLine(lines, {"CH1 2 mV/div", "3.5 %", "-2.0 to 2.0", "FAIL"}));
  EXPECT_EQ(ResultsLines(nullptr).size(), 1u);
  run.checks.clear();
  EXPECT_TRUE(HasLine(ResultsLines(&run), {"No check has been run yet."}));
}

TEST(ResultsTest, TheDialogScrollsWithinItsLinesAndSaysWhichAreInView) {
  WindowView view;
  view.results_key = true;
  view.results = ResultsView{std::vector<std::string>(40, "x"), 1000};
  view.results->lines.back() = "the last line";
  Canvas canvas(80, 24);
  Layout layout = DrawWindow(view, canvas);
  EXPECT_EQ(layout.results_page, 18);
  EXPECT_GE(FindRow(canvas, "the last line"), 0);
  EXPECT_GE(FindRow(canvas, "(23-40 of 40)"), 0);
  EXPECT_GE(FindRow(canvas, "R: results   Ctrl-C: close"), 0);
}

TEST(RecordSavedTest, TheStatusLineKeepsTheFileNameWhenThePathIsTooLong) {
  EXPECT_EQ(RecordSavedLine("/r/2440-B1.json", 40), "Record saved: /r/2440-B1.json");
  EXPECT_EQ(RecordSavedLine("/home/anna/records/2440-B1.json", 30),
            "Record saved: \u2026ds/2440-B1.json");
  WindowView view;
  view.panel.kind = PanelView::Kind::kSimulated;
  view.results_key = true;
  view.record_saved = "/r/2440-B1.json";
  Canvas canvas(80, 24);
  DrawWindow(view, canvas);
  EXPECT_GE(FindRow(canvas, "Record saved: /r/2440-B1.json"), 0);
  EXPECT_GE(FindRow(canvas, "R: results"), 0);
}

}  // namespace
}  // namespace kc
