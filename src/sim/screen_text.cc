#include "sim/screen_text.h"

namespace kc {

namespace {

// The glyph of a two-character escape, or nullptr when the character after
// the backslash stands for itself.
const char* Glyph(char c) {
  switch (c) {
    case ';':
      return "m";
    case '<':
      return "µ";
    case '=':
      return "n";
    case '4':
      return "k";
    case '&':
      return "z";
    case 'J':
      return "Ω";
    case '>':
      return "p";
    case 'M':
      return "█";
    case '0':
      return "─";
    case '_':
      return "↓";
    case '^':
      return "↑";
    case '?':
      return "/";
    case '$':
      return " ";
    default:
      return nullptr;
  }
}

}  // namespace

std::string RenderScreenText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    char next = text[++i];
    // Time units: the prefix glyph followed by the seconds letter read as "s".
    if ((next == '<' || next == '=') && i + 1 < text.size() && text[i + 1] == 'S') {
      out += next == '<' ? "µs" : "ns";
      ++i;
      continue;
    }
    if (const char* glyph = Glyph(next)) {
      out += glyph;
    } else {
      out += next;
    }
  }
  return out;
}

}  // namespace kc
