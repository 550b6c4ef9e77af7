#include "app/checkout/tui/canvas.h"

#include <locale.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace kc {

namespace {

// The C library decodes UTF-8 and knows the columns of each character under a
// UTF-8 locale; the window's texts are UTF-8 whatever the environment says.
locale_t Utf8Locale() {
  static locale_t locale = [] {
    locale_t found = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (found == static_cast<locale_t>(nullptr))
      found = newlocale(LC_CTYPE_MASK, "en_US.UTF-8", static_cast<locale_t>(nullptr));
    return found;
  }();
  return locale;
}

// Switches the calling thread to the UTF-8 locale for as long as it lives.
class InUtf8 {
 public:
  InUtf8() : usable_(Utf8Locale() != static_cast<locale_t>(nullptr)) {
    if (usable_) previous_ = uselocale(Utf8Locale());
  }
  ~InUtf8() {
    if (usable_) uselocale(previous_);
  }
  InUtf8(const InUtf8&) = delete;
  InUtf8& operator=(const InUtf8&) = delete;
  bool usable() const { return usable_; }

 private:
  bool usable_;
  locale_t previous_{};
};

}  // namespace

std::string CleanText(std::string_view text) {
  InUtf8 utf8;
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\r') {
      out += '\n';
      i += (i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      continue;
    }
    if (byte == '\n' || (byte >= 0x20 && byte < 0x7F)) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    if (byte < 0x80) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
      ++i;
      continue;
    }
    std::mbstate_t state{};
    wchar_t wide = 0;
    std::size_t length = utf8.usable()
                             ? std::mbrtowc(&wide, text.data() + i, text.size() - i, &state)
                             : static_cast<std::size_t>(-1);
    if (length == 0 || length > text.size() - i) {
      // Not UTF-8, or cut short: one stand-in per byte.
      out += '?';
      ++i;
      continue;
    }
    out += wcwidth(wide) == 1 ? std::string(text.substr(i, length)) : std::string("?");
    i += length;
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

}  // namespace kc
