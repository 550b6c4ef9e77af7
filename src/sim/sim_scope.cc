#include "sim/sim_scope.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace kc {

namespace {

// Time comparisons tolerate the rounding of a clock that was moved forward by
// exactly the remaining time.
constexpr double kTimeSlack = 1e-9;
constexpr double kMaxAverages = 10000;

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

const std::vector<std::string_view> kOnOff = {"ON", "OFF"};
const std::vector<std::string_view> kSlopes = {"PLUS", "MINUS"};
const std::vector<std::string_view> kCouplings = {"AC", "DC", "HFREJ", "LFREJ", "NOISEREJ"};
const std::vector<std::string_view> kTriggerSources = {"VERTICAL", "CH1",  "CH2",
                                                       "EXT1",     "EXT2", "LINE"};

std::vector<KeyDef> ChannelKeys() {
  return {{"VOLTS", Type::kNumber},    {"VARIABLE", Type::kNumber},
          {"POSITION", Type::kNumber}, {"COUPLING", Type::kChoice, {"AC", "DC", "GND"}},
          {"FIFTY", Type::kSwitch},    {"INVERT", Type::kSwitch}};
}

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

const KeyDef* FindKey(const HeaderDef& def, std::string_view word) {
  std::vector<std::string_view> names;
  for (const KeyDef& key : def.keys) names.push_back(key.name);
  int index = MatchKeyword(word, names);
  return index < 0 ? nullptr : &def.keys[static_cast<std::size_t>(index)];
}

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

// The canonical name of a keyed setting from the words of an argument or a
// query ("TPOS", "ONE" -> "CURSOR TPOS ONE"); nullopt when a word is unknown.
// `key` receives the key's definition.
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

std::string ReplyKey(const std::string& query) {
  std::string why;
  auto command = ParseCommand(query, &why);
  if (command) {
    if (auto canonical = CanonicalQuery(*command)) return *canonical;
  }
  return ToUpper(TrimBlanks(query));
}

}  // namespace

const std::vector<std::string>& SimScope::Models() {
  static const std::vector<std::string> kModels = {"2430",  "2430A", "2431L", "2432",
                                                   "2432A", "2439L", "2440"};
  return kModels;
}

SimScope::SimScope(std::string model, Clock& clock)
    : model_(std::move(model)), clock_(clock), screen_(kScreenLines) {
  settings_["PATH"] = "ON";
  settings_["USER"] = "ON";
  ResetPanel();
}

std::string SimScope::Identity() const {
  return "AB/" + model_ + ",V81.1";
}

void SimScope::ResetPanel() {
  std::map<std::string, std::string> kept;
  for (const char* name : {"PATH", "USER"}) kept[name] = settings_[name];
  settings_ = {
      {"VMODE CH1", "ON"},
      {"VMODE CH2", "OFF"},
      {"VMODE ADD", "OFF"},
      {"VMODE MULT", "OFF"},
      {"HORIZONTAL ASECDIV", "1E-3"},
      {"HORIZONTAL BSECDIV", "1E-3"},
      {"HORIZONTAL POSITION", "512"},
      {"HORIZONTAL MODE", "ASWEEP"},
      {"ATRIGGER MODE", "AUTO"},
      {"ATRIGGER LEVEL", "0"},
      {"ATRIGGER SLOPE", "PLUS"},
      {"ATRIGGER SOURCE", "VERTICAL"},
      {"ATRIGGER COUPLING", "DC"},
      {"ATRIGGER ABSELECT", "A"},
      {"ATRIGGER HOLDOFF", "0"},
      {"BTRIGGER MODE", "RUNSAFTER"},
      {"BTRIGGER LEVEL", "0"},
      {"BTRIGGER SLOPE", "PLUS"},
      {"BTRIGGER SOURCE", "VERTICAL"},
      {"BTRIGGER COUPLING", "DC"},
      {"BTRIGGER POSITION", "0"},
      {"ACQUIRE MODE", "NORMAL"},
      {"ACQUIRE NUMAVG", "32"},
      {"ACQUIRE REPETITIVE", "OFF"},
      {"CURSOR FUNCTION", "OFF"},
      {"CURSOR UNITS VOLTS", "BASE"},
      {"CURSOR UNITS TIME", "BASE"},
      {"CURSOR UNITS SLOPE", "BASE"},
      {"CURSOR TPOS ONE", "412"},
      {"CURSOR TPOS TWO", "612"},
      {"CURSOR VPOS ONE", "-1"},
      {"CURSOR VPOS TWO", "1"},
      {"DLYTIME DLY1", "0"},
      {"DLYTIME DLY2", "0"},
      {"DLYTIME DELTA", "OFF"},
      {"DATA SOURCE", "CH1"},
      {"RUN", "ACQUIRE"},
      {"INTENSITY READOUT", "50"},
      {"INTENSITY DISPLAY", "50"},
      {"INTENSITY GRATICULE", "0"},
      {"INTENSITY INTENSIFIED", "50"},
      {"START", "0"},
      {"STOP", "1023"},
  };
  for (const char* channel : {"CH1", "CH2"}) {
    std::string prefix = std::string(channel) + " ";
    settings_[prefix + "VOLTS"] = ".1";
    settings_[prefix + "VARIABLE"] = "0";
    settings_[prefix + "POSITION"] = "0";
    settings_[prefix + "COUPLING"] = "DC";
    settings_[prefix + "FIFTY"] = "OFF";
    settings_[prefix + "INVERT"] = "OFF";
  }
  for (auto& [name, value] : kept) settings_[name] = value;
  if (measurement_) measurement_->Reset();
}

void SimScope::Write(const std::string& data) {
  Tick(Now());
  received_.push_back(data);
  // A new message drops a reply that was never read.
  output_.reset();
  std::vector<std::string> replies;
  for (const std::string& text : SplitMessage(data)) {
    std::string why;
    auto command = ParseCommand(text, &why);
    if (!command) {
      errors_.push_back("cannot read \"" + text + "\": " + why);
      continue;
    }
    Execute(*command, replies);
  }
  if (replies.empty()) return;
  std::string joined;
  for (std::size_t i = 0; i < replies.size(); ++i) {
    if (i > 0) joined += ';';
    joined += replies[i];
  }
  output_ = joined + "\n";
}

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

std::string SimScope::Measurement(const std::string& query) {
  // Neutral readings until the instrument models its signals.
  if (!measurement_) return "0";
  if (query == "MINIMUM?") return measurement_->Minimum(Panel());
  if (query == "MAXIMUM?") return measurement_->Maximum(Panel());
  if (query == "CURSOR?DISPLAY:VALUE") return measurement_->CursorReadout(Panel());
  return "0";
}

PanelState SimScope::Panel() const {
  auto number = [this](const std::string& key, double fallback) {
    return NumberSetting(key).value_or(fallback);
  };
  PanelState panel;
  for (int i = 0; i < 2; ++i) {
    std::string name = "CH" + std::to_string(i + 1);
    ChannelPanel& channel = panel.channel[static_cast<std::size_t>(i)];
    channel.volts_per_div = number(name + " VOLTS", 0.1);
    channel.variable = number(name + " VARIABLE", 0);
    channel.position = number(name + " POSITION", 0);
    channel.coupling = Setting(name + " COUPLING");
    channel.fifty = Setting(name + " FIFTY") == "ON";
    channel.invert = Setting(name + " INVERT") == "ON";
    channel.shown = Setting("VMODE " + name) == "ON";
  }
  panel.add_shown = Setting("VMODE ADD") == "ON";
  panel.sweep = number("HORIZONTAL ASECDIV", 1e-3);
  panel.horizontal_position = number("HORIZONTAL POSITION", 512);
  panel.trigger_level = number("ATRIGGER LEVEL", 0);
  panel.trigger_rising = Setting("ATRIGGER SLOPE") != "MINUS";
  panel.trigger_source = Setting("ATRIGGER SOURCE");
  panel.trigger_coupling = Setting("ATRIGGER COUPLING");
  panel.averaging = Setting("ACQUIRE MODE") == "AVG";
  panel.averages = number("ACQUIRE NUMAVG", 32);
  panel.cursor_function = Setting("CURSOR FUNCTION");
  panel.cursor_units = Setting("CURSOR UNITS VOLTS");
  panel.tpos_one = number("CURSOR TPOS ONE", 412);
  panel.tpos_two = number("CURSOR TPOS TWO", 612);
  panel.vpos_one = number("CURSOR VPOS ONE", -1);
  panel.vpos_two = number("CURSOR VPOS TWO", 1);
  panel.data_source = Setting("DATA SOURCE");
  panel.start = number("START", 0);
  panel.stop = number("STOP", 1023);
  return panel;
}

std::vector<double> SimScope::EyeTrace(Trace trace) {
  if (!measurement_) return {};
  return measurement_->EyeTrace(Panel(), trace);
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

void SimScope::StartAcquisition() {
  if (Setting("ATRIGGER MODE") != "SGLSEQ") {
    // Free-running: acquisitions go on and end nothing.
    acquisition_end_.reset();
    return;
  }
  double count = 1;
  if (Setting("ACQUIRE MODE") == "AVG") {
    count = std::clamp(std::floor(NumberSetting("ACQUIRE NUMAVG").value_or(1)), 1.0, kMaxAverages);
  }
  acquisition_end_ = Now() + count * kAcquisitionSeconds;
}

std::optional<std::string> SimScope::Talk() {
  Tick(Now());
  std::optional<std::string> reply = std::move(output_);
  output_.reset();
  return reply;
}

std::uint8_t SimScope::SerialPoll() {
  Tick(Now());
  std::uint8_t status = service_request_ ? kServiceRequestByte : 0;
  service_request_ = false;
  return status;
}

void SimScope::Clear() {
  output_.reset();
}

std::optional<double> SimScope::NextEventTime() const {
  if (selfcal_end_ && acquisition_end_) return std::min(*selfcal_end_, *acquisition_end_);
  return selfcal_end_ ? selfcal_end_ : acquisition_end_;
}

void SimScope::Tick(double now) {
  if (selfcal_end_ && now + kTimeSlack >= *selfcal_end_) {
    selfcal_end_.reset();
    ++selfcals_;
    if (measurement_) measurement_->SelfCalibrate();
    service_request_ = true;
  }
  if (acquisition_end_ && now + kTimeSlack >= *acquisition_end_) {
    acquisition_end_.reset();
    ++acquisitions_;
    service_request_ = true;
  }
}

void SimScope::PressBezel(int n) {
  if (n < 1 || n > 5) return;
  menu_off_presses_ = 0;
  event_ = kBezelEventBase + n;
  service_request_ = true;
}

void SimScope::PressMenuOff() {
  if (++menu_off_presses_ < 2) return;
  menu_off_presses_ = 0;
  event_ = kLeaveEvent;
  service_request_ = true;
}

std::string SimScope::Setting(const std::string& key) const {
  std::vector<std::string> words;
  std::string word;
  for (char c : key) {
    if (c == ' ' || c == ':') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  if (words.empty()) return {};
  int header = FindHeader(words[0]);
  if (header < 0) return {};
  const HeaderDef& def = Headers()[static_cast<std::size_t>(header)];
  std::string name(def.name);
  if (def.form == Form::kKeyed) {
    auto setting = KeyName(def, std::vector<std::string>(words.begin() + 1, words.end()), nullptr);
    if (!setting) return {};
    name = *setting;
  }
  auto it = settings_.find(name);
  return it == settings_.end() ? std::string() : it->second;
}

std::optional<double> SimScope::NumberSetting(const std::string& key) const {
  return ParseNumber(TrimBlanks(Setting(key)));
}

void SimScope::SetReplies(const std::string& query, std::vector<std::string> replies) {
  std::deque<std::string>& queue = replies_[ReplyKey(query)];
  queue.assign(replies.begin(), replies.end());
}

void SimScope::Error(const std::string& text, const ScopeCommand& command) {
  errors_.push_back(text + " in \"" + command.text + "\"");
}

void SimScope::ScreenChanged() {
  if (screen_listener_) screen_listener_();
  for (const auto& listener : more_listeners_) listener();
}

}  // namespace kc
