// The lexical layer of the oscilloscope's remote commands, as the simulated
// instrument reads them. A message holds commands separated by ";". A command
// is a header word, optionally followed by "?" (a query), then arguments
// separated by ",", each made of parts separated by ":" (KEY, KEY:VALUE,
// KEY:SUBKEY:VALUE). A part may be a text in double quotes; inside it a
// backslash and the character after it form one glyph escape, kept verbatim,
// and neither ";" nor "," nor ":" separates anything. Blanks around headers,
// arguments and parts carry no meaning (blanks inside quotes do).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace kc {

struct ScopeCommand {
  std::string text;    // the command as it stood in the message
  std::string header;  // the header word as sent
  bool query = false;
  // Each argument split into its parts, blanks trimmed; a quoted part keeps
  // its quotes.
  std::vector<std::vector<std::string>> arguments;
};

// Splits a message at the semicolons that lie outside quoted texts. Commands
// that are empty or blank (a message beginning with ";", or ";;") are left out.
std::vector<std::string> SplitMessage(std::string_view message);

// Reads one command; nullopt and a reason in `error` when it is malformed (no
// header word, a text whose closing quote is missing, an empty argument).
std::optional<ScopeCommand> ParseCommand(std::string_view text, std::string* error);

// Matches a keyword the way the instrument does: case is ignored, and a word
// may be shortened to any prefix of at least three letters (words of three
// letters or fewer must be given whole). An exact name wins; a prefix shared by
// several names matches nothing. Returns the index in `names`, or -1.
int MatchKeyword(std::string_view word, const std::vector<std::string_view>& names);

// The text inside a quoted part (escapes verbatim), or nullopt when `part` is
// not enclosed in double quotes.
std::optional<std::string> Unquote(std::string_view part);

inline std::string ToUpper(std::string_view text) {
  return Upper(text);
}

}  // namespace kc
