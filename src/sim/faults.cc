#include "sim/faults.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <stdexcept>

#include "link/scope_syntax.h"

namespace kc {

namespace {

// The frequency at which the channels' mismatch is stated.
constexpr double kMismatchFrequency = 50e6;

struct ModelRow {
  const char* model;
  double bandwidth_mhz[2];
  double calibrator_error;  // percent
  double ccd_tail;          // percent
  double linearity[2];      // percent
  double mismatch;          // percent at 50 MHz
  double drift[2];          // percent
};

// Healthy instruments: bandwidths about a fifth above the rating (150 MHz for
// the 2430 and 2430A, 300 MHz for the others), calibrators within a quarter
// of their 1 % tolerance, small CCD tails and good linearity.
constexpr ModelRow kModels[] = {
    {"2430", {182, 178}, 0.15, 1.2, {98.1, 97.8}, 2.2, {0.30, -0.25}},
    {"2430A", {188, 185}, -0.10, 0.9, {98.4, 98.2}, 1.8, {0.20, -0.30}},
    {"2431L", {342, 336}, 0.20, 2.6, {98.3, 98.0}, 2.4, {-0.25, 0.20}},
    {"2432", {348, 341}, -0.15, 2.2, {98.5, 98.3}, 2.0, {0.35, 0.10}},
    {"2432A", {356, 350}, 0.05, 2.0, {98.6, 98.4}, 1.7, {-0.20, -0.15}},
    {"2439L", {338, 345}, -0.20, 2.4, {98.7, 98.5}, 2.1, {0.25, -0.20}},
    {"2440", {362, 355}, 0.10, 1.8, {98.9, 98.6}, 1.6, {0.15, 0.25}},
};

// The delay difference that gives `percent` mismatch at 50 MHz:
// |1 - exp(-j 2 pi f d)| = 2 sin(pi f d).
double MismatchDelay(double percent) {
  double half = std::clamp(percent / 200.0, 0.0, 1.0);
  return std::asin(half) / (std::numbers::pi * kMismatchFrequency);
}

std::uint64_t Fnv(const std::string& text) {
  std::uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::optional<double> ReadNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.' &&
        c != 'e' && c != 'E') {
      return std::nullopt;
    }
  }
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string Names() {
  std::string names;
  for (const FaultInfo& info : FaultCatalogue()) {
    names += names.empty() ? "" : ", ";
    names += info.name;
  }
  return names;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

ChannelTraits* ChannelOf(const std::string& name, InstrumentTraits& traits) {
  if (name.rfind("ch1-", 0) == 0) return &traits.channel[0];
  if (name.rfind("ch2-", 0) == 0) return &traits.channel[1];
  return nullptr;
}

}  // namespace

InstrumentTraits HealthyTraits(const std::string& model) {
  const ModelRow* row = &kModels[1];
  for (const ModelRow& candidate : kModels) {
    if (model == candidate.model) row = &candidate;
  }
  InstrumentTraits traits;
  for (int i = 0; i < 2; ++i) {
    ChannelTraits& channel = traits.channel[static_cast<std::size_t>(i)];
    channel.bandwidth = row->bandwidth_mhz[i] * 1e6;
    channel.ccd_linearity = row->linearity[i];
    channel.drift = row->drift[i];
  }
  traits.channel[1].delay = MismatchDelay(row->mismatch);
  traits.calibrator_volts = 0.4 * (1 + row->calibrator_error / 100);
  traits.ccd_tail = row->ccd_tail;
  return traits;
}

double SettingGainShare(const std::string& model, int channel, double volts_per_div) {
  // The setting in a fixed form, so that 5E-3 and .005 are the same setting.
  char setting[32];
  std::snprintf(setting, sizeof setting, "%.4e", volts_per_div);
  std::uint64_t hash = Fnv(model + "/" + std::to_string(channel) + "/" + setting);
  double unit = static_cast<double>(hash % 10007) / 10006.0;  // 0..1
  return unit * 2 - 1;
}

const std::vector<FaultInfo>& FaultCatalogue() {
  static const std::vector<FaultInfo> kFaults = {
      {"ch1-gain", "CH1 gain error, percent (ch1-gain@0.005=... one volts/div)", -50, 50, true},
      {"ch2-gain", "CH2 gain error, percent (ch2-gain@0.005=... one volts/div)", -50, 50, true},
      {"calibrator", "calibrator output amplitude error, percent", -50, 50},
      {"ch1-bandwidth", "CH1 -3 dB bandwidth, MHz", 1, 2000},
      {"ch2-bandwidth", "CH2 -3 dB bandwidth, MHz", 1, 2000},
      {"ccd-cte", "CCD settling after a step, percent (CTE / position effect)", 0, 50},
      {"ch1-ccd-linearity", "CH1 CCD linearity, percent (100 is perfect)", 50, 100},
      {"ch2-ccd-linearity", "CH2 CCD linearity, percent (100 is perfect)", 50, 100},
      {"hf-mismatch", "CH1 to CH2 mismatch at 50 MHz, percent", 0, 100},
      {"noise", "random noise of one acquisition, digitizer levels rms", 0, 20},
  };
  return kFaults;
}

std::optional<Fault> ParseFault(const std::string& text, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<Fault> {
    if (error != nullptr) {
      *error = "bad fault \"" + text + "\": " + why + " (faults: " + Names() + ")";
    }
    return std::nullopt;
  };
  std::size_t equals = text.find('=');
  if (equals == std::string::npos) return fail("expected NAME=VALUE");
  Fault fault;
  fault.text = text;
  std::string name(TrimBlanks(std::string_view(text).substr(0, equals)));
  std::string value_text(TrimBlanks(std::string_view(text).substr(equals + 1)));
  std::size_t at = name.find('@');
  std::string setting_text;
  if (at != std::string::npos) {
    setting_text = std::string(TrimBlanks(std::string_view(name).substr(at + 1)));
    name = std::string(TrimBlanks(std::string_view(name).substr(0, at)));
  }
  const FaultInfo* info = nullptr;
  for (const FaultInfo& candidate : FaultCatalogue()) {
    if (name == candidate.name) info = &candidate;
  }
  if (info == nullptr) return fail("unknown name \"" + name + "\"");
  fault.name = name;
  if (at != std::string::npos) {
    if (!info->per_setting) return fail(name + " has no per-setting form");
    std::optional<double> volts = ReadNumber(setting_text);
    if (!volts || *volts <= 0 || *volts > 100) {
      return fail("the setting after \"@\" must be volts per division, such as 0.005");
    }
    fault.volts_per_div = volts;
  }
  std::optional<double> value = ReadNumber(value_text);
  if (!value) return fail("the value must be a number");
  if (*value < info->lowest || *value > info->highest) {
    return fail("the value of " + name + " must lie from " + Number(info->lowest) + " to " +
                Number(info->highest));
  }
  fault.value = *value;
  return fault;
}

void ApplyFault(const Fault& fault, InstrumentTraits& traits) {
  ChannelTraits* channel = ChannelOf(fault.name, traits);
  const std::string& name = fault.name;
  if (channel != nullptr && name.ends_with("-gain")) {
    if (fault.volts_per_div) {
      channel->setting_gain_errors.emplace_back(*fault.volts_per_div, fault.value);
    } else {
      channel->gain_error = fault.value;
    }
  } else if (channel != nullptr && name.ends_with("-bandwidth")) {
    channel->bandwidth = fault.value * 1e6;
  } else if (channel != nullptr && name.ends_with("-ccd-linearity")) {
    channel->ccd_linearity = fault.value;
  } else if (name == "calibrator") {
    traits.calibrator_volts = 0.4 * (1 + fault.value / 100);
  } else if (name == "ccd-cte") {
    traits.ccd_tail = fault.value;
  } else if (name == "hf-mismatch") {
    traits.channel[0].delay = 0;
    traits.channel[1].delay = MismatchDelay(fault.value);
  } else if (name == "noise") {
    traits.noise_levels = fault.value;
  }
}

InstrumentTraits TraitsWithFaults(const std::string& model,
                                  const std::vector<std::string>& faults) {
  InstrumentTraits traits = HealthyTraits(model);
  for (const std::string& text : faults) {
    std::string error;
    std::optional<Fault> fault = ParseFault(text, &error);
    if (!fault) throw std::invalid_argument(error);
    ApplyFault(*fault, traits);
  }
  return traits;
}

std::string FaultHelp() {
  std::string help;
  for (const FaultInfo& info : FaultCatalogue()) {
    std::string name = info.name;
    if (name.size() < 18) name.resize(18, ' ');
    help += "  " + name + " " + info.meaning + "\n";
  }
  return help;
}

}  // namespace kc
