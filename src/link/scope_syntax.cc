#include "link/scope_syntax.h"

#include <cctype>

namespace kc {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Splits `text` at `separator` outside quoted texts. Sets `unterminated` when
// a quote is left open.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator,
                                                 bool* unterminated) {
  std::vector<std::string_view> pieces;
  bool in_quote = false;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_quote) {
      if (c == '\\' && i + 1 < text.size()) {
        ++i;  // the escaped character belongs to the glyph
      } else if (c == '"') {
        in_quote = false;
      }
    } else if (c == '"') {
      in_quote = true;
    } else if (c == separator) {
      pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(text.substr(start));
  if (unterminated != nullptr) *unterminated = in_quote;
  return pieces;
}

}  // namespace

std::vector<std::string> SplitMessage(std::string_view message) {
  std::vector<std::string> commands;
  for (std::string_view piece : SplitOutsideQuotes(message, ';', nullptr)) {
    if (!TrimBlanks(piece).empty()) commands.emplace_back(piece);
  }
  return commands;
}

std::optional<ScopeCommand> ParseCommand(std::string_view text, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<ScopeCommand> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  ScopeCommand command;
  command.text = std::string(text);
  std::string_view rest = TrimBlanks(text);
  std::size_t end = 0;
  while (end < rest.size() && std::isalnum(static_cast<unsigned char>(rest[end]))) ++end;
  if (end == 0) return fail("no header word");
  command.header = std::string(rest.substr(0, end));
  rest.remove_prefix(end);
  if (!rest.empty() && rest.front() == '?') {
    command.query = true;
    rest.remove_prefix(1);
  } else if (!rest.empty() && !IsBlank(rest.front())) {
    return fail("unexpected character after the header word");
  }
  rest = TrimBlanks(rest);
  if (rest.empty()) return command;
  bool unterminated = false;
  std::vector<std::string_view> arguments = SplitOutsideQuotes(rest, ',', &unterminated);
  if (unterminated) return fail("a quoted text is not closed");
  for (std::string_view argument : arguments) {
    if (TrimBlanks(argument).empty()) return fail("an empty argument");
    std::vector<std::string> parts;
    for (std::string_view part : SplitOutsideQuotes(argument, ':', nullptr)) {
      parts.emplace_back(TrimBlanks(part));
    }
    command.arguments.push_back(std::move(parts));
  }
  return command;
}

int MatchKeyword(std::string_view word, const std::vector<std::string_view>& names) {
  std::string upper = ToUpper(word);
  if (upper.empty()) return -1;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (upper == names[i]) return static_cast<int>(i);
  }
  int found = -1;
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string_view name = names[i];
    if (upper.size() < 3 || upper.size() >= name.size()) continue;
    if (name.substr(0, upper.size()) != upper) continue;
    if (found >= 0) return -1;  // ambiguous
    found = static_cast<int>(i);
  }
  return found;
}

std::optional<std::string> Unquote(std::string_view part) {
  if (part.size() < 2 || part.front() != '"' || part.back() != '"') return std::nullopt;
  std::string_view inner = part.substr(1, part.size() - 2);
  // The closing quote must not be the second half of an escape, and no other
  // quote may stand unescaped inside.
  for (std::size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '\\') {
      if (i + 1 >= inner.size()) return std::nullopt;
      ++i;
    } else if (inner[i] == '"') {
      return std::nullopt;
    }
  }
  return std::string(inner);
}

}  // namespace kc
