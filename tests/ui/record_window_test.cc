// The window's part in the checkout record, drawn off-screen: the identity
// form before the intro, the results dialog and the saved-record status line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/checkout/tui/window.h"

namespace kc {
namespace {

// A form's keys as typed: '\r' Enter, '\x1b' Esc, '\b' Backspace, any other
// byte typed text (UTF-8 a byte at a time).
void Press(IdentityForm& form, const std::string& keys) {
  for (char key : keys) {
    if (key == '\r')
      form.Accept();
    else if (key == '\x1b')
      form.Skip();
    else if (key == '\b')
      form.Erase();
    else
      form.Type(static_cast<unsigned char>(key));
  }
}

TEST(IdentityFormTest, KeysGiveTheAnswers) {
  struct {
    const char* name;
    std::string serial, technician, keys;
    std::string want_serial, want_technician;
  } const cases[] = {
      {"both accepted", "", "", "B012345\rAnna Berg\r", "B012345", "Anna Berg"},
      {"an empty Enter skips a field", "", "", "\rAnna\r", "", "Anna"},
      {"Esc keeps the accepted fields", "", "", "B01\rAnn\x1b", "B01", ""},
      {"Esc skips the form", "", "", "\x1b", "", ""},
      {"both given asks nothing", "B7", "Ed", "", "B7", "Ed"},
      {"only the missing field is asked", "B0999", " ", "J\u00f8rn\r", "B0999", "J\u00f8rn"},
      {"blanks trimmed, Backspace erases a whole character", "", "",
       "  B 12  \rJ\u00fcx\b\b\u00f8rn\r", "B 12", "J\u00f8rn"},
      {"a character past the limit is left out whole", "", "",
       std::string(59, 'x') + "\u00fc\u00fc\r\r", std::string(59, 'x') + "\u00fc", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    IdentityForm form(c.serial, c.technician);
    Press(form, c.keys);
    EXPECT_TRUE(form.done());
    EXPECT_EQ(form.serial(), c.want_serial);
    EXPECT_EQ(form.technician(), c.want_technician);
  }
}

// The canvas's rows as one text, for looking things up.
std::string Drawn(const WindowView& view) {
  Canvas canvas(80, 24);
  DrawWindow(view, canvas);
  std::string text;
  for (const std::string& row : canvas.Rows()) text += row + "\n";
  return text;
}

TEST(IdentityFormTest, DrawsTheAskedFieldsWithTheCursorAfterTheText) {
  WindowView view;
  view.identity.emplace("", "");
  Press(*view.identity, "B1\rJ\u00fcrgen");
  EXPECT_THAT(Drawn(view), testing::ContainsRegex("Serial number:  B1 +\\S+\n +\\S+  "
                                                  "Technician:     J\u00fcrgen_ "));
  EXPECT_THAT(Drawn(view), testing::HasSubstr("Enter: accept (empty skips)   Esc: skip the form"));
}

// The rows themselves are the text certificate's (ReportTest); the window
// leaves out its heading and the blanks after the last check.
TEST(ResultsTest, TheCertificateWithoutItsHeadingOrASayingWhyItIsEmpty) {
  RunRecord run;
  run.checks.resize(1);
  run.checks[0].name = "calibrator";
  run.checks[0].ending = CheckEnding::kCompleted;
  run.checks[0].readings = {{"calibrator amplitude", 400.3, "mV", 396.0, 404.0, Verdict::kPass}};
  const std::vector<std::string> lines = ResultsLines(&run);
  ASSERT_FALSE(lines.empty());
  EXPECT_THAT(lines.front(), testing::StartsWith("Model:"));
  EXPECT_THAT(lines.back(), testing::MatchesRegex(" +calibrator amplitude +400.3 mV .* PASS"));
  EXPECT_EQ(
      ResultsLines(nullptr),
      std::vector<std::string>{"Nothing is recorded yet: the instrument has not been identified."});
  run.checks.clear();
  EXPECT_EQ(ResultsLines(&run).back(), "No check has been run yet.");
}

TEST(ResultsTest, TheDialogScrollsWithinItsLinesAndSaysWhichAreInView) {
  WindowView view;
  view.results = ResultsView{std::vector<std::string>(40, "x"), 1000};
  view.results->lines.back() = "the last line";
  std::string drawn = Drawn(view);
  EXPECT_THAT(drawn, testing::HasSubstr("\u2502 the last line "));
  EXPECT_THAT(drawn, testing::HasSubstr("\u2502 23-40 of 40   "));
}

TEST(RecordSavedTest, TheStatusLineKeepsTheFileNameWhenThePathIsTooLong) {
  EXPECT_EQ(RecordSavedLine("/r/2440-B1.json", 40), "Record saved: /r/2440-B1.json");
  EXPECT_EQ(RecordSavedLine("/home/anna/records/2440-B1.json", 30),
            "Record saved: \u2026ds/2440-B1.json");
  WindowView view;
  view.panel.kind = PanelView::Kind::kSimulated;
  view.results_key = true;
  view.record_saved = "/r/2440-B1.json";
  std::string drawn = Drawn(view);
  EXPECT_THAT(drawn, testing::HasSubstr("Record saved: /r/2440-B1.json\n"));
  EXPECT_THAT(drawn, testing::HasSubstr("U: GPIB cable  R: results  Ctrl-C: close"));
}

}  // namespace
}  // namespace kc
