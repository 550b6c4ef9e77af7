#include "sim/sim_scope.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "sim/scope_commands.h"

namespace kc {

using scope_table::FindHeader;
using scope_table::Form;
using scope_table::HeaderDef;
using scope_table::Headers;
using scope_table::KeyName;
using scope_table::ParseNumber;
using scope_table::ReplyKey;

namespace {

// Time comparisons tolerate the rounding of a clock that was moved forward by
// exactly the remaining time.
constexpr double kTimeSlack = 1e-9;
constexpr double kMaxAverages = 10000;

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
