// The commands the simulated oscilloscope understands: its header words, the
// form of their arguments, the keys of the keyed ones with their value types
// and choices. The handlers of each form are SimScope's (scope_commands.cc);
// the settings they change are its state (sim_scope.cc).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/scope_syntax.h"

namespace kc::scope_table {

enum class Type {
  kAction,   // a bare word that does something ("CURS NEWR")
  kSwitch,   // ON or OFF; the bare word switches on
  kNumber,   // a decimal number, kept as sent
  kChoice,   // one of a list of words, stored by its full name
  kReadout,  // may only be queried
};

struct KeyDef {
  std::string_view name;
  Type type;
  std::vector<std::string_view> choices = {};
  std::vector<std::string_view> subkeys = {};
};

enum class Form {
  kKeyed,      // KEY:VALUE arguments
  kChoice,     // one bare word ("RUN ACQ", "PATH OFF")
  kNumber,     // one bare number ("START 256")
  kNone,       // no argument ("BELL")
  kMessage,    // message lines
  kQueryOnly,  // "ID?", "EVE?"
};

struct HeaderDef {
  std::string_view name;
  Form form;
  std::vector<KeyDef> keys = {};
  std::vector<std::string_view> choices = {};
  // The choice taken when the argument is left out; empty when it is needed.
  std::string_view omitted = {};
};

extern const std::vector<std::string_view> kOnOff;

// Every header word, in the order FindHeader numbers them.
const std::vector<HeaderDef>& Headers();
// The header `word` names (shortened as the instrument allows); -1 when none.
int FindHeader(std::string_view word);
// The word of `names` that `word` names; nullopt when none.
std::optional<std::string_view> FindWord(std::string_view word,
                                         const std::vector<std::string_view>& names);
// A plain decimal number, as the instrument reads one.
std::optional<double> ParseNumber(std::string_view text);
// The canonical name of a keyed setting from the words of an argument or a
// query ("TPOS", "ONE" -> "CURSOR TPOS ONE"); nullopt when a word is unknown.
// `key` receives the key's definition.
std::optional<std::string> KeyName(const HeaderDef& def, const std::vector<std::string>& words,
                                   const KeyDef** key);
// The key under which replies set for a query are kept: the query in
// canonical form ("CURSOR?DISPLAY VALUE"), else as written.
std::string ReplyKey(const std::string& query);

}  // namespace kc::scope_table
