#include "app/checkout/tui/record_views.h"

#include <algorithm>
#include <utility>

#include "report/certificate.h"
#include "report/text_report.h"

namespace kc {

namespace {

constexpr int kFormWidth = 70;
constexpr const char* kFormTitle = " Checkout record ";
constexpr const char* kFormPrompt =
    "For the checkout record of this run (nothing of this goes to the instrument):";
constexpr const char* kFormHelp = "Enter: accept (empty skips)   Esc: skip the form";
constexpr const char* kResultsTitle = " Results so far ";
constexpr const char* kResultsHelp = "\u2191\u2193 PgUp PgDn: scroll   Esc, Enter or R: close";
constexpr const char* kSavedPrefix = "Record saved: ";

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The last `width` characters of a text.
std::string Tail(std::string_view text, int width) {
  std::vector<std::string> chars = Characters(text);
  std::string tail;
  int from = std::max(0, static_cast<int>(chars.size()) - width);
  for (std::size_t i = static_cast<std::size_t>(from); i < chars.size(); ++i) tail += chars[i];
  return tail;
}

Rect CentredBox(const Canvas& canvas, int height, int width) {
  return {std::max(0, (canvas.height() - height) / 2), std::max(0, (canvas.width() - width) / 2),
          height, width};
}

}  // namespace

IdentityForm::IdentityForm(std::string serial, std::string technician)
    : fields_{{"Serial number:", std::move(serial), false},
              {"Technician:", std::move(technician), false}} {
  for (Field& field : fields_) field.asked = Trimmed(field.text).empty();
  NextAsked(0);
}

void IdentityForm::NextAsked(int from) {
  active_ = from;
  while (active_ < kFields && !field(active_).asked) ++active_;
}

void IdentityForm::Type(int byte) {
  if (done() || byte < 0x20 || byte == 0x7F || byte > 0xFF) return;
  std::string& text = fields_[static_cast<std::size_t>(active_)].text;
  // A character past the limit is left out with all its bytes.
  if ((byte & 0xC0) != 0x80) dropping_ = TextWidth(text) >= kMaxLength;
  if (!dropping_) text += static_cast<char>(byte);
}

void IdentityForm::Erase() {
  if (done()) return;
  std::string& text = fields_[static_cast<std::size_t>(active_)].text;
  while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.pop_back();
  if (!text.empty()) text.pop_back();
}

void IdentityForm::Accept() {
  if (!done()) NextAsked(active_ + 1);
}

void IdentityForm::Skip() {
  // The field being edited was not accepted.
  if (!done()) fields_[static_cast<std::size_t>(active_)].text.clear();
  active_ = kFields;
}

std::string IdentityForm::serial() const {
  return Trimmed(field(0).text);
}

std::string IdentityForm::technician() const {
  return Trimmed(field(1).text);
}

std::vector<std::string> ResultsLines(const RunRecord* run) {
  if (run == nullptr) return {"Nothing is recorded yet: the instrument has not been identified."};
  std::vector<std::string> lines = WrapPrompt(TextCertificate(Certificate{*run, {}, {}}), 1 << 20);
  // The certificate's heading, and the blank after its last line.
  if (!lines.empty()) lines.erase(lines.begin());
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  if (run->checks.empty()) {
    lines.emplace_back();
    lines.emplace_back("No check has been run yet.");
  }
  return lines;
}

std::string RecordSavedLine(const std::filesystem::path& file, int width) {
  std::string line = kSavedPrefix + file.string();
  if (TextWidth(line) <= width) return line;
  int room = width - TextWidth(kSavedPrefix) - 1;
  return kSavedPrefix + std::string("\u2026") + Tail(file.string(), std::max(0, room));
}

Rect DrawIdentityForm(const IdentityForm& form, Canvas& canvas) {
  int width = std::min(canvas.width() - 4, kFormWidth);
  int inner = std::max(1, width - 6);
  std::vector<std::string> prompt = WrapPrompt(kFormPrompt, inner);
  int label_width = 0;
  int asked = 0;
  for (int n = 0; n < IdentityForm::kFields; ++n) {
    if (!form.field(n).asked) continue;
    label_width = std::max(label_width, TextWidth(form.field(n).label));
    ++asked;
  }
  // Border, blank, the prompt, blank, the fields, blank, the help, blank,
  // border.
  Rect box = CentredBox(canvas, static_cast<int>(prompt.size()) + asked + 7, width);
  canvas.Fill(box, Style::kDialog);
  canvas.Frame(box, Style::kDialog);
  canvas.Put(box.row, box.col + 2, kFormTitle, Style::kDialogTitle, box.width - 4);
  int row = box.row + 2;
  int col = box.col + 3;
  for (const std::string& line : prompt) canvas.Put(row++, col, line, Style::kDialog, inner);
  ++row;
  int field_col = col + label_width + 2;
  int field_width = std::max(1, col + inner - field_col);
  for (int n = 0; n < IdentityForm::kFields; ++n) {
    const IdentityForm::Field& field = form.field(n);
    if (!field.asked) continue;
    bool active = n == form.active();
    canvas.Put(row, col, field.label, Style::kDialog, label_width);
    Style style = active ? Style::kDialogButtonSelected : Style::kNormal;
    canvas.Fill({row, field_col, 1, field_width}, style);
    // The end of a long text stays in view, with the cursor after it.
    std::string shown = active ? Tail(CleanText(field.text), field_width - 1) + "_"
                               : FitText(CleanText(field.text), field_width);
    canvas.Put(row++, field_col, shown, style, field_width);
  }
  canvas.Put(row + 1, col, kFormHelp, Style::kDialog, inner);
  return box;
}

Rect DrawResults(const ResultsView& results, Canvas& canvas, int& page) {
  // Room for the help with the lines in view, "101-118 of 140".
  int longest = TextWidth(kResultsHelp) + 20;
  for (const std::string& line : results.lines) longest = std::max(longest, TextWidth(line));
  int width = std::min(canvas.width() - 2, longest + 4);
  int total = static_cast<int>(results.lines.size());
  // Border, the lines, a blank, the help, border.
  int height = std::min(canvas.height() - 2, total + 4);
  Rect box = CentredBox(canvas, height, width);
  page = std::max(1, height - 4);
  int top = std::clamp(results.top, 0, std::max(0, total - page));
  canvas.Fill(box, Style::kDialog);
  canvas.Frame(box, Style::kDialog);
  canvas.Put(box.row, box.col + 2, kResultsTitle, Style::kDialogTitle, box.width - 4);
  int inner = box.width - 4;
  for (int i = 0; i < page && top + i < total; ++i) {
    canvas.Put(box.row + 1 + i, box.col + 2, results.lines[static_cast<std::size_t>(top + i)],
               Style::kDialog, inner);
  }
  // Which lines are in view comes first: a narrow window cuts the help.
  std::string help = kResultsHelp;
  if (total > page) {
    help = std::to_string(top + 1) + "-" + std::to_string(std::min(total, top + page)) + " of " +
           std::to_string(total) + "   " + help;
  }
  canvas.Put(box.row + box.height - 2, box.col + 2, help, Style::kDialog, inner);
  return box;
}

}  // namespace kc
