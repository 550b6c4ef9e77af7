#include "sim/bench_hand.h"

#include <algorithm>
#include <cmath>
#include <regex>

#include "sim/screen_text.h"

namespace kc {

namespace {

constexpr int kTopLine = 16;
constexpr int kLowestInstructionLine = 2;  // line 1 labels the bezel buttons
constexpr double kScreenDivisions = 10;

// The line as a person reads it: glyphs rendered, blanks collapsed.
std::string Readable(const std::string& raw) {
  std::string rendered = RenderScreenText(raw);
  std::string text;
  for (char c : rendered) {
    if (c == ' ' && (text.empty() || text.back() == ' ')) continue;
    text += c;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

bool EndsWithWord(const std::string& text, const std::string& word) {
  return text == word || (text.size() > word.size() && text.ends_with(" " + word));
}

// A quantity with its unit, in volts, hertz or seconds.
std::optional<double> Quantity(const std::string& text, const char* kind) {
  static const std::regex kPattern(
      R"((\d*\.?\d+) ?(mV|V|MHz|kHz|Hz|mS|ms|µs|µS|ns|nS|S|s)(?![A-Za-z]))");
  for (std::sregex_iterator it(text.begin(), text.end(), kPattern), end; it != end; ++it) {
    double value = std::stod((*it)[1].str());
    std::string unit = (*it)[2].str();
    double scale = 0;
    std::string unit_kind;
    if (unit == "mV" || unit == "V") {
      unit_kind = "V";
      scale = unit == "mV" ? 1e-3 : 1;
    } else if (unit.ends_with("Hz")) {
      unit_kind = "Hz";
      scale = unit == "MHz" ? 1e6 : unit == "kHz" ? 1e3 : 1;
    } else {
      unit_kind = "s";
      char prefix = unit.size() > 1 ? unit[0] : ' ';
      scale = prefix == 'm' ? 1e-3 : prefix == 'n' ? 1e-9 : unit.size() > 1 ? 1e-6 : 1;
    }
    if (unit_kind == kind) return value * scale;
  }
  return std::nullopt;
}

std::optional<BenchInput> InputNamed(const std::string& name) {
  if (name == "CH1") return BenchInput::kCh1;
  if (name == "CH2") return BenchInput::kCh2;
  if (name == "EXT1") return BenchInput::kExt1;
  if (name == "EXT2") return BenchInput::kExt2;
  return std::nullopt;
}

}  // namespace

BenchHand::BenchHand(SimScope& scope, SourceBench& bench)
    : scope_(scope), bench_(bench), alive_(std::make_shared<bool>(true)) {
  clears_seen_ = scope_.clears();
  std::shared_ptr<bool> alive = alive_;
  scope_.AddScreenListener([this, alive] {
    if (*alive) Look();
  });
}

BenchHand::~BenchHand() {
  *alive_ = false;
}

void BenchHand::Look() {
  if (scope_.clears() != clears_seen_) {
    clears_seen_ = scope_.clears();
    done_.clear();
  }
  // Sentences from the top line down; a line that begins with TO, THRU or
  // VIA, or follows a line ending in TO, goes on with the one above.
  struct Sentence {
    int line;
    int last_line;
    std::string text;
  };
  std::vector<Sentence> sentences;
  const std::vector<std::string>& screen = scope_.screen();
  for (int line = kTopLine; line >= kLowestInstructionLine; --line) {
    if (static_cast<std::size_t>(line) > screen.size()) continue;
    std::string text = Readable(screen[static_cast<std::size_t>(line - 1)]);
    if (text.empty()) continue;
    bool goes_on = !sentences.empty() && sentences.back().last_line == line + 1 &&
                   (StartsWith(text, "TO ") || StartsWith(text, "THRU ") ||
                    StartsWith(text, "VIA ") || EndsWithWord(sentences.back().text, "TO"));
    if (goes_on) {
      sentences.back().text += " " + text;
      sentences.back().last_line = line;
    } else {
      sentences.push_back({line, line, text});
    }
  }
  std::set<std::string> shown;
  for (const Sentence& sentence : sentences) {
    std::string key = std::to_string(sentence.line) + ":" + sentence.text;
    shown.insert(key);
    if (done_.count(key) != 0) continue;
    if (Do(sentence.text)) done_.insert(key);
  }
  // Forget what is no longer shown, so that it is done again when it comes
  // back.
  for (auto it = done_.begin(); it != done_.end();) {
    it = shown.count(*it) == 0 ? done_.erase(it) : std::next(it);
  }
}

bool BenchHand::Do(const std::string& instruction) {
  static const std::regex kConnect(
      R"(^CONNECT (.*?),? TO ((?:CH1|CH2|EXT1|EXT2)(?: AND (?:CH1|CH2|EXT1|EXT2))*)(.*)$)");
  static const std::regex kSetPg506(R"(^SET PG 506 TO (.*)$)");
  static const std::regex kAdjust(R"(^ADJUST AMPLITUDE (?:FOR|TO) (?:A )?(\d+) DIV)");
  static const std::regex kFrequency(R"(^CHANGE (?:THE )?FREQUENCY (?:BACK )?TO (.*)$)");
  static const std::regex kCycles(R"(^ADJUST FREQ FOR (\d+) CYCLES OVER THE SCREEN)");
  static const std::regex kMove(
      R"(^MOVE (?:THE )?SIGNAL (?:FROM (CH1|CH2|EXT1|EXT2) )?TO (CH1|CH2|EXT1|EXT2)\b)");
  static const std::regex kMarkers(R"(^(?:SET|CHANGE) TIMEMARKERS TO (.*)$)");

  std::smatch match;
  bool done = false;
  if (std::regex_search(instruction, match, kConnect)) {
    done = Connect(match[1].str(), match[2].str(), match[3].str());
  } else if (std::regex_search(instruction, match, kSetPg506)) {
    if (std::optional<double> volts = Quantity(match[1].str(), "V")) {
      bench_.SetAmplitude(BenchSource::kStandardAmplitude, *volts);
      current_ = BenchSource::kStandardAmplitude;
      done = true;
    }
  } else if (std::regex_search(instruction, match, kAdjust)) {
    done = Adjust(std::stod(match[1].str()));
  } else if (std::regex_search(instruction, match, kFrequency)) {
    std::optional<double> hertz = Quantity(match[1].str(), "Hz");
    done = hertz && SetFrequency(*hertz);
  } else if (std::regex_search(instruction, match, kCycles)) {
    double sweep = scope_.NumberSetting("HOR ASEC").value_or(0);
    double cycles = std::stod(match[1].str());
    done = sweep > 0 && cycles > 0 && SetFrequency(cycles / (kScreenDivisions * sweep));
  } else if (std::regex_search(instruction, match, kMove)) {
    done = Move(match[1].str(), match[2].str());
  } else if (std::regex_search(instruction, match, kMarkers)) {
    if (std::optional<double> period = Quantity(match[1].str(), "s"); period && *period > 0) {
      bench_.SetMarkerPeriod(*period);
      current_ = BenchSource::kTimeMarks;
      done = true;
    }
  }
  if (done) log_.push_back(instruction + ": " + bench_.Describe());
  return done;
}

bool BenchHand::Connect(const std::string& what, const std::string& inputs,
                        const std::string& rest) {
  std::optional<BenchSource> source;
  static const std::regex kGenerator(R"(SG 50\d)");
  std::smatch match;
  if (what.find("CALIBRATOR") != std::string::npos) {
    source = BenchSource::kCalibrator;
  } else if (what.find("TIMEMARK") != std::string::npos) {
    source = BenchSource::kTimeMarks;
  } else if (std::regex_search(what, match, kGenerator)) {
    source = BenchSource::kSineGenerator;
    bench_.SetGeneratorName(match[0].str());
  } else if (what.find("PG 506") != std::string::npos) {
    if (what.find("FAST RISE") != std::string::npos) {
      source = BenchSource::kFastRise;
    } else if (what.find("HI AMP") != std::string::npos) {
      source = BenchSource::kHighAmplitude;
    } else if (what.find("STANDARD AMPLITUDE") != std::string::npos) {
      source = BenchSource::kStandardAmplitude;
      std::optional<double> volts = Quantity(what, "V");
      if (!volts) return false;
      bench_.SetAmplitude(*source, *volts);
    }
  }
  if (!source) return false;
  if (*source != BenchSource::kStandardAmplitude) {
    if (std::optional<double> hertz = Quantity(what, "Hz")) bench_.SetFrequency(*source, *hertz);
  }
  std::vector<BenchInput> targets;
  static const std::regex kInput(R"(CH1|CH2|EXT1|EXT2)");
  for (std::sregex_iterator it(inputs.begin(), inputs.end(), kInput), end; it != end; ++it) {
    targets.push_back(*InputNamed(it->str()));
  }
  double attenuation = 1;
  static const std::regex kAttenuator(R"(X(\d+) ATT)");
  if (std::regex_search(rest, match, kAttenuator)) attenuation = std::stod(match[1].str());
  bool terminated = rest.find("TERM") != std::string::npos;
  bench_.Connect(*source, targets, attenuation, terminated);
  current_ = source;
  return true;
}

bool BenchHand::Adjust(double divisions) {
  if (!current_ || *current_ == BenchSource::kCalibrator) return false;
  std::vector<BenchInput> inputs = bench_.InputsOf(*current_);
  std::optional<BenchInput> seen;
  for (BenchInput input : inputs) {
    if (input != BenchInput::kCh1 && input != BenchInput::kCh2) continue;
    if (!seen) seen = input;
    if (scope_.Setting(std::string("VMO ") + InputName(input)) == "ON") {
      seen = input;
      break;
    }
  }
  if (!seen) return false;
  std::string channel = InputName(*seen);
  double volts_per_div = scope_.NumberSetting(channel + " VOL").value_or(0);
  if (!(volts_per_div > 0)) return false;
  std::optional<BenchCable> cable = bench_.CableAt(*seen);
  double attenuation = cable ? cable->attenuation : 1;
  bool open = SourceBench::FiftyOhm(*current_) && !(cable && cable->terminated) &&
              scope_.Setting(channel + " FIF") != "ON";
  // Turned until the display shows the divisions asked for.
  bench_.SetAmplitude(*current_, divisions * volts_per_div * attenuation / (open ? 2 : 1));
  return true;
}

bool BenchHand::SetFrequency(double hertz) {
  BenchSource source = current_.value_or(BenchSource::kSineGenerator);
  if (source == BenchSource::kCalibrator || source == BenchSource::kStandardAmplitude) {
    source = BenchSource::kSineGenerator;
  }
  bench_.SetFrequency(source, hertz);
  return true;
}

bool BenchHand::Move(const std::string& from, const std::string& to) {
  std::optional<BenchInput> target = InputNamed(to);
  std::optional<BenchInput> origin = InputNamed(from);
  if (!origin) {
    // The channel that carries the signal now.
    for (BenchInput input : {BenchInput::kCh1, BenchInput::kCh2}) {
      if (input != target && bench_.CableAt(input)) {
        origin = input;
        break;
      }
    }
  }
  if (!origin || !target || !bench_.CableAt(*origin)) return false;
  bench_.Move(*origin, *target);
  return true;
}

int VarTrimmer::Next(double residue) {
  if (++presses_ > kMaxPresses) {
    Restart();
    return 3;
  }
  // Smaller by more than a rounding: the press helped.
  bool better = residue < last_ * (1 - 1e-9) - 1e-12;
  switch (phase_) {
    case Phase::kLook:
      last_ = residue;
      button_ = 1;
      improved_ = false;
      phase_ = Phase::kTry;
      return button_;
    case Phase::kTry:
      if (better) {
        last_ = residue;
        improved_ = true;
        return button_;
      }
      phase_ = Phase::kUndone;
      return button_ + 1;
    case Phase::kUndone:
      last_ = residue;
      if (button_ == 1 && !improved_) {
        button_ = 4;
        phase_ = Phase::kTry;
        return button_;
      }
      break;
  }
  Restart();
  return 3;
}

void VarTrimmer::Restart() {
  phase_ = Phase::kLook;
  button_ = 1;
  last_ = 0;
  improved_ = false;
  presses_ = 0;
}

double PeakToPeak(const std::vector<double>& trace) {
  if (trace.empty()) return 0;
  auto [low, high] = std::minmax_element(trace.begin(), trace.end());
  return *high - *low;
}

}  // namespace kc
