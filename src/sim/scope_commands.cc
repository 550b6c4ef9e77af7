#include "sim/scope_commands.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "sim/sim_scope.h"

namespace kc {

namespace scope_table {

const std::vector<std::string_view> kOnOff = {"ON", "OFF"};
namespace {

const std::vector<std::string_view> kSlopes = {"PLUS", "MINUS"};
const std::vector<std::string_view> kCouplings = {"AC", "DC", "HFREJ", "LFREJ", "NOISEREJ"};
const std::vector<std::string_view> kTriggerSources = {"VERTICAL", "CH1",  "CH2",
                                                       "EXT1",     "EXT2", "LINE"};

std::vector<KeyDef> ChannelKeys() {
  return {{"VOLTS", Type::kNumber},    {"VARIABLE", Type::kNumber},
          {"POSITION", Type::kNumber}, {"COUPLING", Type::kChoice, {"AC", "DC", "GND"}},
          {"FIFTY", Type::kSwitch},    {"INVERT", Type::kSwitch}};
}

}  // namespace

const std::vector<HeaderDef>& Headers() {
  static const std::vector<HeaderDef> kHeaders = {
      {"VMODE",
       Form::kKeyed,
       {{"CH1", Type::kSwitch},
        {"CH2", Type::kSwitch},
        {"ADD", Type::kSwitch},
        {"MULT", Type::kSwitch}}},
      {"CH1", Form::kKeyed, ChannelKeys()},
      {"CH2", Form::kKeyed, ChannelKeys()},
      {"HORIZONTAL",
       Form::kKeyed,
       {{"ASECDIV", Type::kNumber},
        {"BSECDIV", Type::kNumber},
        {"POSITION", Type::kNumber},
        {"MODE", Type::kChoice, {"ASWEEP", "BSWEEP", "INTENSIFIED"}}}},
      {"ATRIGGER",
       Form::kKeyed,
       {{"MODE", Type::kChoice, {"AUTOLEVEL", "AUTO", "NORMAL", "SGLSEQ"}},
        {"LEVEL", Type::kNumber},
        {"SLOPE", Type::kChoice, kSlopes},
        {"SOURCE", Type::kChoice, kTriggerSources},
        {"COUPLING", Type::kChoice, kCouplings},
        {"ABSELECT", Type::kChoice, {"A", "B"}},
        {"HOLDOFF", Type::kNumber}}},
      {"BTRIGGER",
       Form::kKeyed,
       {{"MODE", Type::kChoice, {"RUNSAFTER", "TRIGAFTER"}},
        {"LEVEL", Type::kNumber},
        {"SLOPE", Type::kChoice, kSlopes},
        {"SOURCE", Type::kChoice, kTriggerSources},
        {"COUPLING", Type::kChoice, kCouplings},
        {"POSITION", Type::kNumber}}},
      {"ACQUIRE",
       Form::kKeyed,
       {{"MODE", Type::kChoice, {"NORMAL", "ENVELOPE", "AVG"}},
        {"NUMAVG", Type::kNumber},
        {"REPETITIVE", Type::kSwitch}}},
      {"CURSOR",
       Form::kKeyed,
       {{"FUNCTION", Type::kChoice, {"OFF", "V.T", "VOLTS", "TIME", "SLOPE"}},
        {"UNITS", Type::kChoice, {"BASE", "PERCENT", "DB", "DEGREES"}, {"VOLTS", "TIME", "SLOPE"}},
        {"TPOS", Type::kNumber, {}, {"ONE", "TWO"}},
        {"VPOS", Type::kNumber, {}, {"ONE", "TWO"}},
        {"NEWREF", Type::kAction},
        {"DISPLAY", Type::kReadout, {}, {"VALUE"}}}},
      {"DLYTIME",
       Form::kKeyed,
       {{"DLY1", Type::kNumber}, {"DLY2", Type::kNumber}, {"DELTA", Type::kSwitch}}},
      {"DATA",
       Form::kKeyed,
       {{"SOURCE", Type::kChoice, {"CH1", "CH2", "ADD", "MULT", "REF1", "REF2", "REF3", "REF4"}}}},
      {"RUN", Form::kChoice, {}, {"ACQUIRE", "SAVE"}},
      {"INIT", Form::kChoice, {}, {"GPIB", "PANEL", "BOTH"}, "BOTH"},
      {"INTENSITY",
       Form::kKeyed,
       {{"READOUT", Type::kNumber},
        {"DISPLAY", Type::kNumber},
        {"GRATICULE", Type::kNumber},
        {"INTENSIFIED", Type::kNumber}}},
      {"TESTTYPE", Form::kChoice, {}, {"SELFCAL", "DIAGNOSTIC"}},
      {"EXECUTE", Form::kNone},
      {"MESSAGE", Form::kMessage},
      {"BELL", Form::kNone},
      {"MENU", Form::kChoice, {}, {"OFF"}, "OFF"},
      {"USER", Form::kChoice, {}, kOnOff, "ON"},
      {"PATH", Form::kChoice, {}, kOnOff, "ON"},
      {"START", Form::kNumber},
      {"STOP", Form::kNumber},
      {"ID", Form::kQueryOnly},
      {"EVENT", Form::kQueryOnly},
      {"MINIMUM", Form::kQueryOnly},
      {"MAXIMUM", Form::kQueryOnly},
  };
  return kHeaders;
}

int FindHeader(std::string_view word) {
  static const std::vector<std::string_view> kNames = [] {
    std::vector<std::string_view> names;
    for (const HeaderDef& def : Headers()) names.push_back(def.name);
    return names;
  }();
  return MatchKeyword(word, kNames);
}

namespace {

const KeyDef* FindKey(const HeaderDef& def, std::string_view word) {
  std::vector<std::string_view> names;
  for (const KeyDef& key : def.keys) names.push_back(key.name);
  int index = MatchKeyword(word, names);
  return index < 0 ? nullptr : &def.keys[static_cast<std::size_t>(index)];
}

}  // namespace

std::optional<std::string_view> FindWord(std::string_view word,
                                         const std::vector<std::string_view>& names) {
  int index = MatchKeyword(word, names);
  if (index < 0) return std::nullopt;
  return names[static_cast<std::size_t>(index)];
}

std::optional<double> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string copy(text);
  // strtod would also read hexadecimal, infinities and NaN: the instrument
  // reads plain decimal numbers only.
  for (char c : copy) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.' &&
        c != 'E' && c != 'e') {
      return std::nullopt;
    }
  }
  char* end = nullptr;
  double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<std::string> KeyName(const HeaderDef& def, const std::vector<std::string>& words,
                                   const KeyDef** key) {
  if (words.empty()) return std::nullopt;
  const KeyDef* found = FindKey(def, words[0]);
  if (found == nullptr) return std::nullopt;
  std::string name = std::string(def.name) + " " + std::string(found->name);
  if (!found->subkeys.empty()) {
    if (words.size() < 2) return std::nullopt;
    auto sub = FindWord(words[1], found->subkeys);
    if (!sub) return std::nullopt;
    name += " " + std::string(*sub);
  }
  if (key != nullptr) *key = found;
  return name;
}

namespace {

// The query in canonical form ("CURSOR?DISPLAY VALUE"), for matching the
// replies a test has set.
std::optional<std::string> CanonicalQuery(const ScopeCommand& command) {
  int header = FindHeader(command.header);
  if (header < 0 || !command.query) return std::nullopt;
  const HeaderDef& def = Headers()[static_cast<std::size_t>(header)];
  if (command.arguments.empty()) return std::string(def.name) + "?";
  if (def.form != Form::kKeyed || command.arguments.size() != 1) return std::nullopt;
  const KeyDef* key = nullptr;
  auto name = KeyName(def, command.arguments[0], &key);
  if (!name) return std::nullopt;
  return std::string(def.name) + "?" + name->substr(def.name.size() + 1);
}

}  // namespace

std::string ReplyKey(const std::string& query) {
  std::string why;
  auto command = ParseCommand(query, &why);
  if (command) {
    if (auto canonical = CanonicalQuery(*command)) return *canonical;
  }
  return ToUpper(TrimBlanks(query));
}

}  // namespace scope_table

using scope_table::FindHeader;
using scope_table::FindWord;
using scope_table::Form;
using scope_table::HeaderDef;
using scope_table::Headers;
using scope_table::KeyDef;
using scope_table::KeyName;
using scope_table::kOnOff;
using scope_table::ParseNumber;
using scope_table::ReplyKey;
using scope_table::Type;

void SimScope::Execute(const ScopeCommand& command, std::vector<std::string>& replies) {
  int header = FindHeader(command.header);
  if (command.query) {
    auto set = replies_.find(ReplyKey(command.text));
    if (set != replies_.end() && !set->second.empty()) {
      replies.push_back(set->second.front());
      set->second.pop_front();
      return;
    }
    if (header < 0) {
      Error("unknown query", command);
      return;
    }
    if (auto answer = Answer(header, command)) replies.push_back(*answer);
    return;
  }
  if (header < 0) {
    Error("unknown command", command);
    return;
  }
  Apply(header, command);
}

std::optional<std::string> SimScope::Answer(int header, const ScopeCommand& command) {
  const HeaderDef& def = Headers()[static_cast<std::size_t>(header)];
  std::string name(def.name);
  auto reply = [&](const std::string& path, const std::string& value) {
    if (!headers_) return value;
    return name + " " + (path.empty() ? value : path + ":" + value);
  };
  switch (def.form) {
    case Form::kQueryOnly: {
      if (!command.arguments.empty()) {
        Error("the query takes no argument", command);
        return std::nullopt;
      }
      if (name == "ID") return reply("", Identity());
      if (name == "EVENT") {
        int event = event_;
        event_ = 0;
        return reply("", std::to_string(event));
      }
      return reply("", Measurement(name + "?"));
    }
    case Form::kKeyed: {
      if (command.arguments.empty()) {
        std::string all;
        std::string prefix = name + " ";
        for (const auto& [key, value] : settings_) {
          if (key.compare(0, prefix.size(), prefix) != 0) continue;
          if (!all.empty()) all += ',';
          std::string path = key.substr(prefix.size());
          std::replace(path.begin(), path.end(), ' ', ':');
          all += path + ":" + value;
        }
        return headers_ ? name + " " + all : all;
      }
      const KeyDef* key = nullptr;
      auto setting =
          command.arguments.size() == 1 ? KeyName(def, command.arguments[0], &key) : std::nullopt;
      if (!setting || command.arguments[0].size() > (key->subkeys.empty() ? 1u : 2u)) {
        Error("unknown query", command);
        return std::nullopt;
      }
      std::string path = setting->substr(name.size() + 1);
      std::replace(path.begin(), path.end(), ' ', ':');
      if (key->type == Type::kReadout) return reply(path, Measurement(name + "?" + path));
      auto it = settings_.find(*setting);
      if (it == settings_.end()) {
        Error("the setting cannot be queried", command);
        return std::nullopt;
      }
      return reply(path, it->second);
    }
    case Form::kChoice:
    case Form::kNumber: {
      auto it = settings_.find(name);
      if (!command.arguments.empty() || it == settings_.end()) {
        Error("unknown query", command);
        return std::nullopt;
      }
      return reply("", it->second);
    }
    case Form::kNone:
    case Form::kMessage:
      break;
  }
  Error("the command cannot be queried", command);
  return std::nullopt;
}

void SimScope::Apply(int header, const ScopeCommand& command) {
  const HeaderDef& def = Headers()[static_cast<std::size_t>(header)];
  std::string name(def.name);
  switch (def.form) {
    case Form::kQueryOnly:
      Error("a query sent without \"?\"", command);
      return;
    case Form::kNone:
      if (!command.arguments.empty()) {
        Error("the command takes no argument", command);
        return;
      }
      if (name == "BELL") {
        ++bells_;
        ScreenChanged();
      } else if (name == "EXECUTE") {
        if (Setting("TESTTYPE") == "SELFCAL") {
          selfcal_end_ = Now() + kSelfCalSeconds;
        } else {
          Error("nothing selected to execute", command);
        }
      }
      return;
    case Form::kNumber: {
      if (command.arguments.size() != 1 || command.arguments[0].size() != 1 ||
          !ParseNumber(command.arguments[0][0])) {
        Error("the command needs one number", command);
        return;
      }
      settings_[name] = command.arguments[0][0];
      return;
    }
    case Form::kChoice: {
      std::string value(def.omitted);
      if (!command.arguments.empty()) {
        auto word = command.arguments.size() == 1 && command.arguments[0].size() == 1
                        ? FindWord(command.arguments[0][0], def.choices)
                        : std::nullopt;
        if (!word) {
          Error("unknown argument", command);
          return;
        }
        value = std::string(*word);
      } else if (value.empty()) {
        Error("the command needs an argument", command);
        return;
      }
      if (name == "INIT") {
        if (value == "PANEL" || value == "BOTH") ResetPanel();
        if (value == "GPIB" || value == "BOTH") {
          settings_["PATH"] = "ON";
          settings_["USER"] = "ON";
          headers_ = true;
        }
        return;
      }
      if (name == "MENU") return;  // the instrument's own menu goes away
      settings_[name] = value;
      if (name == "PATH") headers_ = value == "ON";
      if (name == "RUN") {
        if (value == "ACQUIRE") {
          if (measurement_) measurement_->Resume();
          StartAcquisition();
        } else {
          acquisition_end_.reset();
          if (measurement_) measurement_->Save(Panel());
        }
      }
      return;
    }
    case Form::kMessage:
      ExecuteMessage(command);
      return;
    case Form::kKeyed:
      if (command.arguments.empty()) {
        Error("the command needs an argument", command);
        return;
      }
      for (const std::vector<std::string>& argument : command.arguments) {
        ApplyKeyed(header, argument, command);
      }
      return;
  }
}

void SimScope::ApplyKeyed(int header, const std::vector<std::string>& argument,
                          const ScopeCommand& command) {
  const HeaderDef& def = Headers()[static_cast<std::size_t>(header)];
  const KeyDef* key = nullptr;
  auto setting = KeyName(def, argument, &key);
  if (!setting) {
    Error("unknown key \"" + argument[0] + "\"", command);
    return;
  }
  std::size_t words = key->subkeys.empty() ? 1 : 2;
  if (argument.size() > words + 1) {
    Error("too many parts in \"" + argument[0] + "\"", command);
    return;
  }
  std::optional<std::string> value;
  if (argument.size() == words + 1) value = argument[words];
  switch (key->type) {
    case Type::kAction:
      if (value) {
        Error("\"" + argument[0] + "\" takes no value", command);
      } else if (*setting == "CURSOR NEWREF" && measurement_) {
        measurement_->NewReference(Panel());
      }
      return;
    case Type::kReadout:
      Error("\"" + argument[0] + "\" can only be queried", command);
      return;
    case Type::kSwitch: {
      auto word = value ? FindWord(*value, kOnOff) : std::optional<std::string_view>("ON");
      if (!word) {
        Error("\"" + argument[0] + "\" is ON or OFF", command);
        return;
      }
      settings_[*setting] = std::string(*word);
      return;
    }
    case Type::kNumber:
      if (!value || !ParseNumber(*value)) {
        Error("\"" + argument[0] + "\" needs a number", command);
        return;
      }
      settings_[*setting] = *value;
      return;
    case Type::kChoice: {
      auto word = value ? FindWord(*value, key->choices) : std::nullopt;
      if (!word) {
        Error("unknown value for \"" + argument[0] + "\"", command);
        return;
      }
      settings_[*setting] = std::string(*word);
      return;
    }
  }
}

void SimScope::ExecuteMessage(const ScopeCommand& command) {
  if (command.arguments.empty()) {
    Error("the command needs a line", command);
    return;
  }
  bool changed = false;
  for (const std::vector<std::string>& argument : command.arguments) {
    if (argument.size() == 1 && ToUpper(argument[0]) == "CLR") {
      std::fill(screen_.begin(), screen_.end(), std::string());
      ++clears_;
      changed = true;
      continue;
    }
    int line = 0;
    bool digits = argument.size() == 2 && !argument[0].empty() && argument[0].size() <= 2;
    for (char c : argument[0]) {
      if (!std::isdigit(static_cast<unsigned char>(c))) digits = false;
    }
    if (digits) line = std::atoi(argument[0].c_str());
    if (line < 1 || line > kScreenLines) {
      Error("no message line \"" + argument[0] + "\"", command);
      continue;
    }
    auto text = Unquote(argument[1]);
    if (!text) {
      Error("the message text is not in double quotes", command);
      continue;
    }
    screen_[static_cast<std::size_t>(line - 1)] = *text;
    changed = true;
  }
  if (changed) ScreenChanged();
}

}  // namespace kc
