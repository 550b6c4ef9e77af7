#include "link/message_mirror.h"

#include <cctype>

#include "link/scope_syntax.h"

namespace kc {

namespace {

constexpr int kLines = 16;

// A line number of one or two digits, 1..16; 0 otherwise.
int LineNumber(const std::string& text) {
  if (text.empty() || text.size() > 2) return 0;
  int line = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    line = line * 10 + (c - '0');
  }
  return line <= kLines ? line : 0;
}

}  // namespace

std::vector<MessageChange> ParseMessageCommands(const std::string& data) {
  static const std::vector<std::string_view> kHeader = {"MESSAGE"};
  std::vector<MessageChange> changes;
  for (const std::string& text : SplitMessage(data)) {
    std::string error;
    std::optional<ScopeCommand> command = ParseCommand(text, &error);
    if (!command || command->query || MatchKeyword(command->header, kHeader) != 0) continue;
    for (const std::vector<std::string>& argument : command->arguments) {
      if (argument.size() == 1 && ToUpper(argument[0]) == "CLR") {
        changes.push_back({0, {}});
        continue;
      }
      if (argument.size() != 2) continue;
      int line = LineNumber(argument[0]);
      std::optional<std::string> quoted = Unquote(argument[1]);
      if (line == 0 || !quoted) continue;
      changes.push_back({line, *quoted});
    }
  }
  return changes;
}

int MessageMirror::ibwrt(int ud, const void* buf, long count) {
  int status = inner_.ibwrt(ud, buf, count);
  if ((status & gpib::ERR) != 0 || buf == nullptr || count <= 0) return status;
  std::string data(static_cast<const char*>(buf), static_cast<std::size_t>(count));
  // Only messages that can hold a MESS command are read.
  if (ToUpper(data).find("MES") == std::string::npos) return status;
  for (const MessageChange& change : ParseMessageCommands(data)) {
    for (int line = 1; line <= kLines; ++line) {
      if (change.line != 0 && change.line != line) continue;
      std::string& shown = lines_[static_cast<std::size_t>(line - 1)];
      const std::string& text = change.line == 0 ? std::string() : change.text;
      if (shown == text) continue;
      shown = text;
      platform_.MirrorMessageLine(line, text);
    }
  }
  return status;
}

}  // namespace kc
