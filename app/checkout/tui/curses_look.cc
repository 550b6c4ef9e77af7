#include "app/checkout/tui/curses_look.h"

// Last, and functions only: curses defines ERR and OK, and its macros would
// clash with ordinary names.
#define NCURSES_NOMACROS
#include <curses.h>

namespace kc {

namespace {

// Colour pairs, one per look.
enum Pair : short {
  kPairCaption = 1,
  kPairClose,
  kPairFrame,
  kPairFlash,
  kPairScreen,
  kPairScreenText,
  kPairGraticule,
  kPairTrace1,
  kPairTrace2,
  kPairTrace3,
  kPairButton,
  kPairPressed,
  kPairOn,
  kPairWarning,
  kPairDialog,
  kPairDialogTitle,
  kPairCritical,
  kPairExclamation,
  kPairFail,
  kPairPass,
};

attr_t Attribute(Style style, bool colours) {
  auto pair = [colours](short number, attr_t plain) {
    return colours ? static_cast<attr_t>(COLOR_PAIR(number)) : plain;
  };
  switch (style) {
    case Style::kNormal:
    case Style::kStatus:
      return A_NORMAL;
    case Style::kCaption:
      return pair(kPairCaption, A_REVERSE) | A_BOLD;
    case Style::kCaptionClose:
      return pair(kPairClose, A_REVERSE) | A_BOLD;
    case Style::kHint:
      return A_BOLD;
    case Style::kFrame:
      return pair(kPairFrame, A_NORMAL);
    case Style::kFrameFlash:
      return pair(kPairFlash, A_REVERSE) | A_BOLD;
    case Style::kFrameTitle:
      return pair(kPairFrame, A_NORMAL) | A_BOLD;
    case Style::kScreen:
      return pair(kPairScreen, A_NORMAL);
    case Style::kScreenText:
      return colours ? static_cast<attr_t>(COLOR_PAIR(kPairScreenText)) | A_BOLD : A_NORMAL;
    case Style::kFail:
      return pair(kPairFail, A_BOLD) | A_BOLD;
    case Style::kPass:
      return colours ? static_cast<attr_t>(COLOR_PAIR(kPairPass)) | A_BOLD : A_NORMAL;
    case Style::kActivity:
      return pair(kPairOn, A_NORMAL) | A_BOLD;
    case Style::kGraticule:
      return pair(kPairGraticule, A_DIM);
    case Style::kTrace1:
      return pair(kPairTrace1, A_NORMAL) | A_BOLD;
    case Style::kTrace2:
      return pair(kPairTrace2, A_NORMAL) | A_BOLD;
    case Style::kTrace3:
      return pair(kPairTrace3, A_NORMAL) | A_BOLD;
    case Style::kButton:
      return pair(kPairButton, A_REVERSE);
    case Style::kButtonPressed:
      return pair(kPairPressed, A_NORMAL) | A_BOLD;
    case Style::kIndicatorOn:
      return pair(kPairOn, A_BOLD) | A_BOLD;
    case Style::kIndicatorOff:
    case Style::kHelp:
      return A_DIM;
    case Style::kWarning:
      return pair(kPairWarning, A_NORMAL) | A_BOLD;
    case Style::kIntro:
      return pair(kPairCaption, A_REVERSE) | A_BOLD;
    case Style::kDialog:
    case Style::kDialogButton:
      return pair(kPairDialog, A_REVERSE);
    case Style::kDialogTitle:
    case Style::kIconInformation:
      return pair(kPairDialogTitle, A_NORMAL) | A_BOLD;
    case Style::kDialogButtonSelected:
      return pair(kPairDialogTitle, A_NORMAL) | A_BOLD | A_UNDERLINE;
    case Style::kIconCritical:
      return pair(kPairCritical, A_NORMAL) | A_BOLD;
    case Style::kIconExclamation:
      return pair(kPairExclamation, A_NORMAL) | A_BOLD;
  }
  return A_NORMAL;
}

}  // namespace

void InitLooks() {
  init_pair(kPairCaption, COLOR_WHITE, COLOR_BLUE);
  init_pair(kPairClose, COLOR_WHITE, COLOR_RED);
  init_pair(kPairFrame, COLOR_CYAN, -1);
  init_pair(kPairFlash, COLOR_BLACK, COLOR_YELLOW);
  init_pair(kPairScreen, COLOR_WHITE, COLOR_BLACK);
  init_pair(kPairScreenText, COLOR_WHITE, COLOR_BLACK);
  init_pair(kPairGraticule, COLOR_BLUE, COLOR_BLACK);
  init_pair(kPairTrace1, COLOR_GREEN, COLOR_BLACK);
  init_pair(kPairTrace2, COLOR_CYAN, COLOR_BLACK);
  init_pair(kPairTrace3, COLOR_MAGENTA, COLOR_BLACK);
  init_pair(kPairButton, COLOR_BLACK, COLOR_WHITE);
  init_pair(kPairPressed, COLOR_BLACK, COLOR_YELLOW);
  init_pair(kPairOn, COLOR_GREEN, -1);
  init_pair(kPairWarning, COLOR_YELLOW, -1);
  init_pair(kPairDialog, COLOR_BLACK, COLOR_WHITE);
  init_pair(kPairDialogTitle, COLOR_WHITE, COLOR_BLUE);
  init_pair(kPairCritical, COLOR_WHITE, COLOR_RED);
  init_pair(kPairExclamation, COLOR_BLACK, COLOR_YELLOW);
  init_pair(kPairFail, COLOR_RED, COLOR_BLACK);
  init_pair(kPairPass, COLOR_GREEN, COLOR_BLACK);
}

void UseLook(Style style, bool colours) {
  attrset(Attribute(style, colours));
}

char AsciiFor(const std::string& glyph, Style style) {
  if (glyph.size() == 1) return glyph[0];
  static const struct {
    const char* glyph;
    char ascii;
  } kTable[] = {
      {"\u2500", '-'}, {"\u2502", '|'}, {"\u250c", '+'}, {"\u2510", '+'}, {"\u2514", '+'},
      {"\u2518", '+'}, {"\u2588", '#'}, {"\u00b5", 'u'}, {"\u03a9", 'O'}, {"\u2193", 'v'},
      {"\u2191", '^'}, {"\u00d7", 'x'}, {"\u25cf", '*'}, {"\u2026", '.'},
  };
  for (const auto& entry : kTable) {
    if (glyph == entry.glyph) return entry.ascii;
  }
  // Braille: the trace as stars, the graticule as dots.
  if (glyph.size() == 3 && static_cast<unsigned char>(glyph[0]) == 0xE2 &&
      (static_cast<unsigned char>(glyph[1]) & 0xFC) == 0xA0) {
    return style == Style::kGraticule ? '.' : '*';
  }
  return '?';
}

}  // namespace kc
