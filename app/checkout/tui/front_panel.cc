#include "app/checkout/tui/front_panel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/sim_bench.h"
#include "sim/sim_scope.h"

namespace kc {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Divisions of the screen.
constexpr int kDivisionsAcross = 10;
constexpr int kDivisionsHigh = 8;
// Braille dots of the screen and per division.
constexpr int kDotsAcross = kScreenColumns * 2;
constexpr int kDotsHigh = kScreenRows * 4;
constexpr double kDotsPerDivision = static_cast<double>(kDotsAcross) / kDivisionsAcross;
// Divisions of the sweep shown before the trigger point.
constexpr double kPretriggerDivisions = 2.0;
// Samples per dot column of the waveform, and the share of a period per
// column above which the trace is drawn as its envelope.
constexpr int kSamplesPerColumn = 8;
constexpr double kEnvelopeCycles = 0.5;
// Samples per period when looking for the trigger point.
constexpr int kTriggerSearchSteps = 512;
// Acquired records: digitizer levels per division, and the points the screen
// shows.
constexpr double kLevelsPerDivision = 25;
constexpr std::size_t kShownPoints = 1000;

// The panel's frame: border, padding, the 40-column screen, a gap, the side
// column with the indicators and MENU OFF, padding, border.
constexpr int kSideColumn = 10;
constexpr int kFrameWidth = 1 + 1 + kScreenColumns + 2 + kSideColumn + 1 + 1;
constexpr int kFrameRow = 3;
// Border, the screen, the button row, border.
constexpr int kFrameHeight = 1 + kScreenRows + 1 + 1;

// Code points that take exactly one column on any terminal font worth using.
bool OneColumn(char32_t cp) {
  return (cp >= 0xA0 && cp <= 0x2FF) || (cp >= 0x370 && cp <= 0x4FF) ||
         (cp >= 0x2010 && cp <= 0x2027) || (cp >= 0x2030 && cp <= 0x205E) ||
         (cp >= 0x2190 && cp <= 0x22FF) || (cp >= 0x2500 && cp <= 0x25FF) ||
         (cp >= 0x2800 && cp <= 0x28FF);
}

// Length of the UTF-8 sequence at `text[i]` and its code point; 0 when the
// bytes there are not a valid sequence.
int DecodeUtf8(std::string_view text, std::size_t i, char32_t* cp) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  int length = 0;
  char32_t value = 0;
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (i + static_cast<std::size_t>(length) > text.size()) return 0;
  for (int k = 1; k < length; ++k) {
    unsigned char next = byte(i + static_cast<std::size_t>(k));
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  *cp = value;
  return length;
}

// The characters of a cleaned text, one string each.
std::vector<std::string> Characters(std::string_view text) {
  std::vector<std::string> chars;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    while (i + length < text.size() &&
           (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80)
      ++length;
    chars.emplace_back(text.substr(i, length));
    i += length;
  }
  return chars;
}

std::string TrimRight(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string Centered(const std::string& text, int width) {
  int pad = std::max(0, (width - TextWidth(text)) / 2);
  return std::string(static_cast<std::size_t>(pad), ' ') + text;
}

double Fraction(double x) {
  return x - std::floor(x);
}

bool Periodic(const InputSignal& signal) {
  return (signal.shape == InputSignal::Shape::kSine ||
          signal.shape == InputSignal::Shape::kSquare) &&
         signal.frequency > 0 && std::isfinite(signal.frequency);
}

double MeanVolts(const InputSignal& signal) {
  switch (signal.shape) {
    case InputSignal::Shape::kNone:
      return 0;
    case InputSignal::Shape::kFlat:
      return signal.low;
    case InputSignal::Shape::kSine:
      return (signal.low + signal.high) / 2;
    case InputSignal::Shape::kSquare:
      break;
  }
  double duty = std::clamp(signal.duty, 0.0, 1.0);
  return signal.low + duty * (signal.high - signal.low);
}

// Lowest and highest volts of a signal.
std::pair<double, double> VoltRange(const InputSignal& signal) {
  if (signal.shape == InputSignal::Shape::kNone) return {0, 0};
  if (signal.shape == InputSignal::Shape::kFlat) return {signal.low, signal.low};
  return {std::min(signal.low, signal.high), std::max(signal.low, signal.high)};
}

// Time of the trigger point within the first period of the source, 0 when the
// sweep cannot trigger on it (no periodic signal, level out of reach).
double TriggerTime(const InstrumentSettings& settings, const BenchStatus& bench) {
  int source = -1;
  const std::string& name = settings.trigger_source;
  if (name == "VERTICAL") {
    source = settings.channels[0].shown ? 0 : (settings.channels[1].shown ? 1 : -1);
  } else {
    for (std::size_t i = 0; i < kInputNames.size(); ++i) {
      if (name == kInputNames[i]) source = static_cast<int>(i);
    }
  }
  if (source < 0) return 0;
  const InputSignal& signal = bench.inputs[static_cast<std::size_t>(source)];
  if (!Periodic(signal)) return 0;
  double period = 1.0 / signal.frequency;
  bool rising = settings.trigger_slope != "MINUS";
  double level = settings.trigger_level;
  double before = SignalVolts(signal, 0);
  for (int k = 1; k <= kTriggerSearchSteps; ++k) {
    double t = period * k / kTriggerSearchSteps;
    double now = SignalVolts(signal, t);
    if (rising ? (before < level && now >= level) : (before > level && now <= level)) return t;
    before = now;
  }
  return 0;
}

double DotRow(double divisions) {
  return (kDivisionsHigh / 2.0 - divisions) * (static_cast<double>(kDotsHigh) / kDivisionsHigh);
}

// Lights the dots of column `x` from `low` to `high` divisions (either way
// round) for trace `bit`; what lies off the screen is left out.
void MarkSpan(DotGrid& grid, int x, double low, double high, int bit) {
  double top = DotRow(std::max(low, high));
  double bottom = DotRow(std::min(low, high));
  if (!std::isfinite(top) || !std::isfinite(bottom)) return;
  if (bottom < 0 || top >= kDotsHigh) return;
  int first = std::max(0, static_cast<int>(std::floor(top)));
  int last = std::min(kDotsHigh - 1, static_cast<int>(std::floor(bottom)));
  for (int r = first; r <= last; ++r)
    grid[static_cast<std::size_t>(r)][static_cast<std::size_t>(x)] |=
        static_cast<std::uint8_t>(1u << bit);
}

const char* IconMark(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kCritical:
      return "(X)";
    case MsgIcon::kExclamation:
      return "/!\\";
    case MsgIcon::kInformation:
      return "(i)";
  }
  return "   ";
}

Style IconStyle(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kCritical:
      return Style::kIconCritical;
    case MsgIcon::kExclamation:
      return Style::kIconExclamation;
    case MsgIcon::kInformation:
      return Style::kIconInformation;
  }
  return Style::kDialog;
}

void DrawTooSmall(const WindowView& view, Canvas& canvas) {
  int width = canvas.width();
  int height = canvas.height();
  canvas.Fill({0, 0, height, width}, Style::kNormal);
  // The size needed comes first: a tiny terminal may show only that.
  std::vector<std::string> lines = {
      "Terminal too small: needs at least " + std::to_string(kMinColumns) + "x" +
          std::to_string(kMinRows) + ",",
      "this one is " + std::to_string(width) + "x" + std::to_string(height) + ".",
      "Please enlarge the window.",
  };
  if (view.dialog) {
    lines.push_back("");
    lines.push_back("Waiting: " + TrimRight(view.dialog->title));
    lines.push_back(view.dialog->buttons == MsgButtons::kOkCancel ? "Enter = OK, Esc = Cancel"
                                                                  : "Enter = OK");
  }
  // Narrow terminals get the lines wrapped rather than cut.
  std::vector<std::string> shown;
  for (const std::string& line : lines) {
    if (line.empty()) {
      shown.push_back(line);
      continue;
    }
    for (const std::string& part : WrapPrompt(line, std::max(1, width - 2))) shown.push_back(part);
  }
  int top = std::max(0, (height - static_cast<int>(shown.size())) / 2);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    canvas.Put(top + static_cast<int>(i), 0, Centered(shown[i], width), Style::kWarning, width);
  }
}

std::string SimulatedHelp() {
  return "1-5 bezel buttons   M twice: MENU OFF   U: GPIB cable   mouse: click a button   "
         "Ctrl-C: close";
}

void DrawPanel(const PanelView& panel, Canvas& canvas, Layout& layout) {
  int width = canvas.width();
  // The frame and the two status lines under it, in the middle of the rows
  // between the hint and the key help.
  int spare = canvas.height() - 1 - kFrameRow - (kFrameHeight + 2);
  Rect frame{kFrameRow + std::max(0, spare / 2), std::max(0, (width - kFrameWidth) / 2),
             kFrameHeight, kFrameWidth};
  bool simulated = panel.kind == PanelView::Kind::kSimulated;
  canvas.Fill(frame, Style::kNormal);
  canvas.Frame(frame, panel.bell_flash ? Style::kFrameFlash : Style::kFrame);
  std::string title = simulated ? " " + (panel.model.empty() ? std::string("2440") : panel.model) +
                                      " DIGITAL STORAGE OSCILLOSCOPE (simulated) "
                                : " Message lines written to the instrument ";
  canvas.Put(frame.row, frame.col + 2, title, Style::kFrameTitle, frame.width - 4);

  layout.screen = {frame.row + 1, frame.col + 2, kScreenRows, kScreenColumns};
  DrawScreen(panel, canvas, layout.screen);
  if (!simulated) return;

  int button_row = layout.screen.row + kScreenRows;
  for (int n = 1; n <= kBezelButtons; ++n) {
    int col = layout.screen.col + (n - 1) * kLabelWidth;
    canvas.Put(button_row, col + 2, "[ " + std::to_string(n) + " ]",
               panel.pressed == n ? Style::kButtonPressed : Style::kButton);
    // The button with its two label lines: a click on either presses it.
    layout.bezel[static_cast<std::size_t>(n - 1)] = {button_row - 2, col, 3, kLabelWidth};
  }
  int side = layout.screen.col + kScreenColumns + 2;
  layout.menu_off = {button_row, side, 1, kSideColumn};
  canvas.Put(button_row, side, "[MENU OFF]",
             panel.pressed == 6 ? Style::kButtonPressed : Style::kButton);

  int row = layout.screen.row + 1;
  canvas.Put(row, side, "GPIB", Style::kHelp);
  canvas.Put(row + 1, side, panel.cable_plugged ? "\u25cf cable" : "\u00d7 unplugged",
             panel.cable_plugged ? Style::kIndicatorOn : Style::kWarning);
  canvas.Put(row + 3, side, "\u25cf SRQ",
             panel.service_request ? Style::kIndicatorOn : Style::kIndicatorOff);
  canvas.Put(row + 5, side, "\u25cf BELL",
             panel.bell_flash ? Style::kIndicatorOn : Style::kIndicatorOff);

  // Under the frame, moved left together as far as the longer line needs.
  const std::string lines[] = {BenchLine(panel.bench), SettingsLine(panel.settings)};
  int longest = std::max(TextWidth(lines[0]), TextWidth(lines[1]));
  int col = std::max(1, std::min(frame.col, width - 1 - longest));
  int below = frame.row + frame.height;
  for (const std::string& line : lines) {
    canvas.Put(below++, col, line, Style::kStatus, width - 1 - col);
  }
}

void DrawIntro(const std::string& text, Canvas& canvas, Layout& layout) {
  int width = canvas.width();
  int height = canvas.height();
  int text_width = std::max(10, std::min(width - 10, 90));
  std::vector<std::string> lines = WrapPrompt(text, text_width);
  int inner = 0;
  for (const std::string& line : lines) inner = std::max(inner, TextWidth(line));
  const std::string note = "a key or a click continues";
  inner = std::max(inner, TextWidth(note));
  Rect box{0, 0, static_cast<int>(lines.size()) + 6, inner + 8};
  box.row = std::max(0, (height - box.height) / 2);
  box.col = std::max(0, (width - box.width) / 2);
  canvas.Fill(box, Style::kIntro);
  canvas.Frame(box, Style::kIntro);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    canvas.Put(box.row + 2 + static_cast<int>(i), box.col + 4, Centered(lines[i], inner),
               Style::kIntro, inner);
  }
  canvas.Put(box.row + box.height - 2, box.col + 4, Centered(note, inner), Style::kHelp, inner);
  layout.intro = box;
}

void DrawDialog(const DialogView& dialog, Canvas& canvas, Layout& layout) {
  int width = canvas.width();
  int height = canvas.height();
  int box_width = std::min(width - 4, 76);
  // Border, padding, the icon mark and its gap, padding, border.
  int text_width = std::max(1, box_width - 11);
  std::vector<std::string> lines = WrapPrompt(dialog.prompt, text_width);
  int max_lines = std::max(1, height - 8);
  if (static_cast<int>(lines.size()) > max_lines) {
    lines.resize(static_cast<std::size_t>(max_lines));
    lines.back() = FitText(lines.back(), text_width - 1) + "\u2026";
  }
  std::string title = CleanText(TrimRight(dialog.title));
  for (char& c : title) {
    if (c == '\n') c = ' ';
  }
  bool ok_cancel = dialog.buttons == MsgButtons::kOkCancel;
  // The chosen button is marked in its text too, for terminals without
  // colours.
  auto button_text = [&dialog](MsgAnswer answer) {
    std::string name = answer == MsgAnswer::kOk ? "  OK  " : "Cancel";
    return dialog.selected == answer ? "[>" + name + "<]" : "[ " + name + " ]";
  };
  const std::string ok_text = button_text(MsgAnswer::kOk);
  const std::string cancel_text = button_text(MsgAnswer::kCancel);
  int buttons_width = ok_cancel ? 2 * TextWidth(ok_text) + 3 : TextWidth(ok_text);

  int content = buttons_width;
  for (const std::string& line : lines) content = std::max(content, 5 + TextWidth(line));
  content = std::max(content, TextWidth(title) + 2);
  Rect box{0, 0, static_cast<int>(lines.size()) + 5, std::min(box_width, content + 6)};
  box.row = std::max(0, (height - box.height) / 2);
  box.col = std::max(0, (width - box.width) / 2);
  canvas.Fill(box, Style::kDialog);
  canvas.Frame(box, Style::kDialog);
  canvas.Put(box.row, box.col + 2, " " + title + " ", Style::kDialogTitle, box.width - 4);

  int text_col = box.col + 3;
  canvas.Put(box.row + 2, text_col, IconMark(dialog.icon), IconStyle(dialog.icon));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    canvas.Put(box.row + 2 + static_cast<int>(i), text_col + 5, lines[i], Style::kDialog,
               box.width - 9);
  }
  int button_row = box.row + box.height - 2;
  int col = box.col + (box.width - buttons_width) / 2;
  auto style = [&](MsgAnswer answer) {
    return dialog.selected == answer ? Style::kDialogButtonSelected : Style::kDialogButton;
  };
  layout.ok = {button_row, col, 1, canvas.Put(button_row, col, ok_text, style(MsgAnswer::kOk))};
  if (ok_cancel) {
    int cancel_col = col + TextWidth(ok_text) + 3;
    layout.cancel = {button_row, cancel_col, 1,
                     canvas.Put(button_row, cancel_col, cancel_text, style(MsgAnswer::kCancel))};
  }
  layout.dialog = box;
}

}  // namespace

std::string CleanText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r') {
      out += '\n';
      i += (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    if (byte == '\n') {
      out += '\n';
      ++i;
      continue;
    }
    if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
      ++i;
      continue;
    }
    char32_t cp = 0;
    int length = DecodeUtf8(text, i, &cp);
    if (length == 0) {
      out += '?';
      ++i;
      continue;
    }
    if (length == 1 || OneColumn(cp)) {
      out.append(text.substr(i, static_cast<std::size_t>(length)));
    } else {
      out += '?';
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

int TextWidth(std::string_view text) {
  int width = 0;
  for (char c : text) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return width;
}

std::string FitText(std::string_view text, int width) {
  int count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && count++ == width) {
      return std::string(text.substr(0, i));
    }
  }
  return std::string(text);
}

Canvas::Canvas(int width, int height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      cells_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_)) {}

const Cell& Canvas::at(int row, int col) const {
  return cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(width_) +
                static_cast<std::size_t>(col)];
}

Cell& Canvas::at(int row, int col) {
  return cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(width_) +
                static_cast<std::size_t>(col)];
}

int Canvas::Put(int row, int col, std::string_view text, Style style, int max_width) {
  std::vector<std::string> chars = Characters(CleanText(text));
  int placed = std::min(static_cast<int>(chars.size()), std::max(0, max_width));
  if (row < 0 || row >= height_) return placed;
  for (int i = 0; i < placed; ++i) {
    int c = col + i;
    if (c < 0 || c >= width_) continue;
    std::string& glyph = chars[static_cast<std::size_t>(i)];
    at(row, c) = Cell{glyph == "\n" ? " " : std::move(glyph), style};
  }
  return placed;
}

void Canvas::Fill(const Rect& area, Style style) {
  for (int r = std::max(0, area.row); r < std::min(height_, area.row + area.height); ++r) {
    for (int c = std::max(0, area.col); c < std::min(width_, area.col + area.width); ++c) {
      at(r, c) = Cell{" ", style};
    }
  }
}

void Canvas::Frame(const Rect& area, Style style) {
  if (area.width < 2 || area.height < 2) return;
  int bottom = area.row + area.height - 1;
  int right = area.col + area.width - 1;
  auto put = [&](int r, int c, const char* glyph) {
    if (r >= 0 && r < height_ && c >= 0 && c < width_) at(r, c) = Cell{glyph, style};
  };
  for (int c = area.col + 1; c < right; ++c) {
    put(area.row, c, "\u2500");
    put(bottom, c, "\u2500");
  }
  for (int r = area.row + 1; r < bottom; ++r) {
    put(r, area.col, "\u2502");
    put(r, right, "\u2502");
  }
  put(area.row, area.col, "\u250c");
  put(area.row, right, "\u2510");
  put(bottom, area.col, "\u2514");
  put(bottom, right, "\u2518");
}

std::string Canvas::Row(int row) const {
  std::string text;
  if (row < 0 || row >= height_) return text;
  for (int c = 0; c < width_; ++c) text += at(row, c).glyph;
  return TrimRight(text);
}

std::vector<std::string> Canvas::Rows() const {
  std::vector<std::string> rows;
  for (int r = 0; r < height_; ++r) rows.push_back(Row(r));
  return rows;
}

double SignalVolts(const InputSignal& signal, double t) {
  if (signal.shape == InputSignal::Shape::kNone) return 0;
  if (!Periodic(signal)) return signal.low;
  double phase = Fraction(signal.frequency * t);
  if (signal.shape == InputSignal::Shape::kSine) {
    double middle = (signal.low + signal.high) / 2;
    return middle + (signal.high - signal.low) / 2 * std::sin(2 * kPi * phase);
  }
  return phase < signal.duty ? signal.high : signal.low;
}

InstrumentSettings ReadSettings(const SimScope& scope) {
  InstrumentSettings settings;
  auto number = [&scope](const std::string& key, double fallback, bool positive) {
    std::optional<double> value = scope.NumberSetting(key);
    if (!value || !std::isfinite(*value) || (positive && *value <= 0)) return fallback;
    return *value;
  };
  auto word = [&scope](const std::string& key, const std::string& fallback) {
    std::string value = scope.Setting(key);
    return value.empty() ? fallback : value;
  };
  for (std::size_t i = 0; i < settings.channels.size(); ++i) {
    std::string name = kInputNames[i];
    ChannelSettings& channel = settings.channels[i];
    channel.shown = scope.Setting("VMODE " + name) == "ON";
    channel.volts_per_div = number(name + " VOLTS", channel.volts_per_div, true);
    channel.position = number(name + " POSITION", 0, false);
    channel.coupling = word(name + " COUPLING", channel.coupling);
    channel.inverted = scope.Setting(name + " INVERT") == "ON";
  }
  settings.add_shown = scope.Setting("VMODE ADD") == "ON";
  std::string sweep = scope.Setting("HORIZONTAL MODE") == "BSWEEP" ? "BSECDIV" : "ASECDIV";
  settings.sec_per_div = number("HORIZONTAL " + sweep, settings.sec_per_div, true);
  settings.trigger_mode = word("ATRIGGER MODE", settings.trigger_mode);
  settings.trigger_source = word("ATRIGGER SOURCE", settings.trigger_source);
  settings.trigger_slope = word("ATRIGGER SLOPE", settings.trigger_slope);
  settings.trigger_level = number("ATRIGGER LEVEL", 0, false);
  settings.acquire_mode = word("ACQUIRE MODE", settings.acquire_mode);
  return settings;
}

std::string EngineeringText(double value, const std::string& unit) {
  if (!std::isfinite(value)) return "? " + unit;
  if (value == 0) return "0 " + unit;
  static const char* const kPrefixes[] = {"p", "n", "\u00b5", "m", "", "k", "M", "G", "T"};
  int exponent = static_cast<int>(std::floor(std::log10(std::fabs(value)) / 3.0)) * 3;
  exponent = std::clamp(exponent, -12, 12);
  double mantissa = value / std::pow(10.0, exponent);
  if (std::fabs(mantissa) >= 999.5 && exponent < 12) {
    exponent += 3;
    mantissa /= 1000;
  }
  char digits[32];
  std::snprintf(digits, sizeof digits, "%.3g", mantissa);
  return std::string(digits) + " " + kPrefixes[(exponent + 12) / 3] + unit;
}

std::string BenchLine(const BenchStatus& bench) {
  std::string line = "Bench";
  std::string open;
  for (std::size_t i = 0; i < bench.inputs.size(); ++i) {
    const InputSignal& input = bench.inputs[i];
    if (input.shape == InputSignal::Shape::kNone) {
      open += std::string(open.empty() ? "" : ", ") + kInputNames[i];
      continue;
    }
    line += std::string("   ") + kInputNames[i] + ": ";
    std::string source = input.source.empty() ? "" : input.source + " ";
    if (input.shape == InputSignal::Shape::kFlat) {
      line += source + EngineeringText(input.low, "V") + " DC";
    } else {
      line += source + EngineeringText(std::fabs(input.high - input.low), "V") + "p-p " +
              (input.shape == InputSignal::Shape::kSine ? "sine " : "square ") +
              EngineeringText(input.frequency, "Hz");
    }
  }
  if (open.size() == std::string("CH1, CH2, EXT1, EXT2").size())
    return line + "   nothing connected";
  if (!open.empty()) line += "   " + open + " open";
  return line;
}

std::string SettingsLine(const InstrumentSettings& settings) {
  std::string line;
  for (std::size_t i = 0; i < settings.channels.size(); ++i) {
    const ChannelSettings& channel = settings.channels[i];
    if (!line.empty()) line += "   ";
    line += kInputNames[i];
    if (!channel.shown) {
      line += " off";
      continue;
    }
    line += " " + EngineeringText(channel.volts_per_div, "V") + "/div " + channel.coupling;
    if (channel.inverted) line += " INV";
  }
  if (settings.add_shown) line += "   ADD";
  line += "   A " + EngineeringText(settings.sec_per_div, "s") + "/div";
  std::string source = settings.trigger_source == "VERTICAL" ? "VERT" : settings.trigger_source;
  line += "   Trig " + source + " " + (settings.trigger_slope == "MINUS" ? "\u2193" : "\u2191") +
          " " + EngineeringText(settings.trigger_level, "V") + " " + settings.trigger_mode;
  line += "   Acq " + settings.acquire_mode;
  return line;
}

DotGrid TraceDots(const InstrumentSettings& settings, const BenchStatus& bench) {
  DotGrid grid{};
  double sec_per_div =
      settings.sec_per_div > 0 && std::isfinite(settings.sec_per_div) ? settings.sec_per_div : 1e-3;
  double column_time = sec_per_div / kDotsPerDivision;
  double start = TriggerTime(settings, bench) - kPretriggerDivisions * sec_per_div;
  for (std::size_t ch = 0; ch < settings.channels.size(); ++ch) {
    const ChannelSettings& channel = settings.channels[ch];
    if (!channel.shown || !(channel.volts_per_div > 0) || !std::isfinite(channel.position))
      continue;
    const InputSignal& signal = bench.inputs[ch];
    bool ground = channel.coupling == "GND";
    double mean = channel.coupling == "AC" ? MeanVolts(signal) : 0.0;
    // Divisions above the centre line for a voltage at the input.
    auto divisions = [&](double volts) {
      if (ground) volts = 0;
      volts -= mean;
      if (channel.inverted) volts = -volts;
      return channel.position + volts / channel.volts_per_div;
    };
    auto mark = [&grid, ch](int x, double low, double high) {
      MarkSpan(grid, x, low, high, static_cast<int>(ch));
    };
    bool envelope = Periodic(signal) && signal.frequency * column_time > kEnvelopeCycles;
    std::optional<double> previous;
    for (int x = 0; x < kDotsAcross; ++x) {
      if (envelope && !ground) {
        auto [low, high] = VoltRange(signal);
        mark(x, divisions(low), divisions(high));
        continue;
      }
      double t0 = start + x * column_time;
      double low = previous.value_or(divisions(SignalVolts(signal, t0)));
      double high = low;
      for (int k = 0; k < kSamplesPerColumn; ++k) {
        double y = divisions(SignalVolts(signal, t0 + column_time * k / kSamplesPerColumn));
        low = std::min(low, y);
        high = std::max(high, y);
        previous = y;
      }
      mark(x, low, high);
    }
  }
  return grid;
}

DotGrid AcquiredDots(const std::vector<AcquiredTrace>& traces) {
  DotGrid grid{};
  for (const AcquiredTrace& trace : traces) {
    if (trace.trace < 0 || trace.trace > 2 || trace.levels.empty()) continue;
    std::size_t count = trace.levels.size();
    std::size_t shown = std::min(count, kShownPoints);
    std::size_t start = (count - shown) / 2;
    auto divisions = [&trace](std::size_t i) { return trace.levels[i] / kLevelsPerDivision; };
    std::optional<double> previous;
    for (int x = 0; x < kDotsAcross; ++x) {
      std::size_t from = start + shown * static_cast<std::size_t>(x) / kDotsAcross;
      std::size_t to = start + shown * static_cast<std::size_t>(x + 1) / kDotsAcross;
      to = std::max(to, from + 1);
      // From where the previous column ended, so that steep edges join up.
      std::optional<double> low = previous;
      std::optional<double> high = previous;
      for (std::size_t i = from; i < to && i < count; ++i) {
        double y = divisions(i);
        if (!std::isfinite(y)) continue;
        low = std::min(low.value_or(y), y);
        high = std::max(high.value_or(y), y);
        previous = y;
      }
      if (low && high) MarkSpan(grid, x, *low, *high, trace.trace);
    }
  }
  return grid;
}

BenchStatus DescribeBench(const SourceBench& bench) {
  BenchStatus status;
  static constexpr BenchInput kInputs[] = {BenchInput::kCh1, BenchInput::kCh2, BenchInput::kExt1,
                                           BenchInput::kExt2};
  for (std::size_t i = 0; i < status.inputs.size(); ++i) {
    std::optional<BenchCable> cable = bench.CableAt(kInputs[i]);
    if (!cable) continue;
    SourceSignal signal = bench.SignalAt(kInputs[i]);
    InputSignal& input = status.inputs[i];
    input.source = cable->source == BenchSource::kSineGenerator ? bench.generator_name()
                                                                : SourceName(cable->source);
    if (cable->attenuation != 1)
      input.source += " \u00f7" + EngineeringText(cable->attenuation, "");
    while (!input.source.empty() && input.source.back() == ' ') input.source.pop_back();
    if (cable->terminated) input.source += " 50\u03a9";
    switch (signal.shape) {
      case SourceSignal::Shape::kFlat:
        input.shape = InputSignal::Shape::kFlat;
        break;
      case SourceSignal::Shape::kSquare:
        input.shape = InputSignal::Shape::kSquare;
        break;
      case SourceSignal::Shape::kSine:
        input.shape = InputSignal::Shape::kSine;
        break;
    }
    input.low = signal.low;
    input.high = signal.high;
    input.frequency = signal.frequency;
    input.duty = signal.duty;
  }
  return status;
}

std::string BrailleGlyph(const std::array<std::array<bool, 4>, 2>& dots) {
  static constexpr unsigned kBits[2][4] = {{0x01, 0x02, 0x04, 0x40}, {0x08, 0x10, 0x20, 0x80}};
  unsigned bits = 0;
  for (int x = 0; x < 2; ++x) {
    for (int y = 0; y < 4; ++y) {
      if (dots[static_cast<std::size_t>(x)][static_cast<std::size_t>(y)]) bits |= kBits[x][y];
    }
  }
  // U+2800 + bits in UTF-8: E2, A0 + the top two bits, 80 + the low six.
  std::string glyph = "\xE2";
  glyph += static_cast<char>(0xA0 | (bits >> 6));
  glyph += static_cast<char>(0x80 | (bits & 0x3F));
  return glyph;
}

void DrawScreen(const PanelView& panel, Canvas& canvas, const Rect& screen) {
  canvas.Fill(screen, Style::kScreen);
  if (panel.kind == PanelView::Kind::kSimulated) {
    DotGrid dots =
        panel.acquired ? AcquiredDots(*panel.acquired) : TraceDots(panel.settings, panel.bench);
    auto graticule = [](int x, int y) {
      bool division_x = x % 8 == 0 || x == kDotsAcross - 1;
      bool division_y = y % 8 == 0 || y == kDotsHigh - 1;
      bool centre_x = x == kDotsAcross / 2 && y % 2 == 0;
      bool centre_y = y == kDotsHigh / 2 && x % 2 == 0;
      return (division_x && division_y) || centre_x || centre_y;
    };
    for (int r = 0; r < kScreenRows; ++r) {
      for (int c = 0; c < kScreenColumns; ++c) {
        std::array<std::array<bool, 4>, 2> on{};
        unsigned traces = 0;
        bool any = false;
        for (int dx = 0; dx < 2; ++dx) {
          for (int dy = 0; dy < 4; ++dy) {
            int x = c * 2 + dx;
            int y = r * 4 + dy;
            unsigned bits = dots[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            traces |= bits;
            bool lit = bits != 0 || graticule(x, y);
            on[static_cast<std::size_t>(dx)][static_cast<std::size_t>(dy)] = lit;
            any = any || lit;
          }
        }
        if (!any) continue;
        Style style = (traces & 1u) != 0   ? Style::kTrace1
                      : (traces & 2u) != 0 ? Style::kTrace2
                      : (traces & 4u) != 0 ? Style::kTrace3
                                           : Style::kGraticule;
        canvas.Put(screen.row + r, screen.col + c, BrailleGlyph(on), style);
      }
    }
  }
  // Line 16 on the top row, line 1 at the bottom beside the bezel buttons. The
  // blanks that position a text leave the trace visible; those between its
  // words do not, so that the words stay readable.
  for (int r = 0; r < kScreenRows; ++r) {
    std::size_t index = static_cast<std::size_t>(kScreenRows - 1 - r);
    if (index >= panel.lines.size()) continue;
    std::vector<std::string> chars = Characters(CleanText(panel.lines[index]));
    int shown = std::min(kScreenColumns, static_cast<int>(chars.size()));
    auto blank = [&chars](int c) {
      const std::string& glyph = chars[static_cast<std::size_t>(c)];
      return glyph == " " || glyph == "\n";
    };
    int first = 0;
    while (first < shown && blank(first)) ++first;
    int last = shown - 1;
    while (last >= first && blank(last)) --last;
    for (int c = first; c <= last; ++c) {
      canvas.at(screen.row + r, screen.col + c) =
          Cell{blank(c) ? " " : chars[static_cast<std::size_t>(c)], Style::kScreenText};
    }
  }
}

std::vector<std::string> WrapPrompt(const std::string& prompt, int width) {
  width = std::max(1, width);
  std::vector<std::string> lines;
  std::string text = CleanText(prompt);
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    while (TextWidth(line) > width) {
      std::string head = FitText(line, width);
      std::size_t blank = head.find_last_of(' ');
      if (blank != std::string::npos && blank > 0) head.erase(blank);
      lines.push_back(TrimRight(head));
      line.erase(0, head.size());
      if (!line.empty() && line[0] == ' ') line.erase(0, 1);
    }
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

Hit Layout::HitTest(int row, int col, bool intro_shown, bool dialog_shown) const {
  if (too_small) return {};
  if (dialog_shown) {
    if (ok.Contains(row, col)) return {Target::kDialogOk};
    if (cancel.Contains(row, col)) return {Target::kDialogCancel};
    return {};
  }
  if (intro_shown) return {Target::kIntro};
  if (close.Contains(row, col)) return {Target::kClose};
  for (std::size_t i = 0; i < bezel.size(); ++i) {
    if (bezel[i].Contains(row, col)) return {Target::kBezel, static_cast<int>(i) + 1};
  }
  if (menu_off.Contains(row, col)) return {Target::kMenuOff};
  return {};
}

Layout DrawWindow(const WindowView& view, Canvas& canvas) {
  Layout layout;
  int width = canvas.width();
  int height = canvas.height();
  if (width < kMinColumns || height < kMinRows) {
    layout.too_small = true;
    DrawTooSmall(view, canvas);
    return layout;
  }
  canvas.Fill({0, 0, height, width}, Style::kNormal);
  canvas.Fill({0, 0, 1, width}, Style::kCaption);
  canvas.Put(0, 1, view.caption, Style::kCaption, width - 6);
  layout.close = {0, width - 4, 1, 3};
  canvas.Put(0, width - 4, "[\u00d7]", Style::kCaptionClose);
  canvas.Put(1, 1, view.hint, Style::kHint, width - 2);

  if (view.panel.kind != PanelView::Kind::kNone) DrawPanel(view.panel, canvas, layout);

  std::string bottom = view.note;
  Style bottom_style = Style::kWarning;
  if (bottom.empty()) {
    bottom = view.panel.kind == PanelView::Kind::kSimulated ? SimulatedHelp() : "Ctrl-C: close";
    bottom_style = Style::kHelp;
  }
  canvas.Put(height - 1, 1, bottom, bottom_style, width - 2);

  if (view.intro) DrawIntro(*view.intro, canvas, layout);
  if (view.dialog) DrawDialog(*view.dialog, canvas, layout);
  return layout;
}

}  // namespace kc
