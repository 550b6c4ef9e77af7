#include "record/check_catalogue.h"

#include <array>
#include <cmath>

namespace kc {

namespace {

constexpr const char* kPg506 = "PG 506";
constexpr const char* kSg503 = "SG 503";
constexpr const char* kSg504 = "SG 504";
constexpr const char* kTimeMarks = "time-mark generator";

// The eleven volts/division settings of the vertical accuracy check. The
// screen's limits are the amplitude +/-2 % +/-0.04 division, which is +/-2.8 %
// where the amplitude is five divisions and +/-3.0 % where it is four.
struct VertSetting {
  const char* label;
  double volts_per_div;
  double amplitude;
};
constexpr std::array<VertSetting, 11> kVertSettings{{
    {"2 mV/div", 0.002, 0.01},
    {"5 mV/div", 0.005, 0.02},
    {"10 mV/div", 0.01, 0.05},
    {"20 mV/div", 0.02, 0.1},
    {"50 mV/div", 0.05, 0.2},
    {"100 mV/div", 0.1, 0.5},
    {"200 mV/div", 0.2, 1},
    {"500 mV/div", 0.5, 2},
    {"1 V/div", 1, 5},
    {"2 V/div", 2, 10},
    {"5 V/div", 5, 20},
}};

CheckEntry Eye(const char* name, const char* title, std::vector<std::string> sources) {
  return CheckEntry{name, title, true, true, std::move(sources), {}};
}

CheckEntry VertAcc() {
  CheckEntry entry{"vert-acc", "Vertical accuracy", false, true, {kPg506}, {}};
  for (const VertSetting& s : kVertSettings) {
    // Rounded to the tenth the limit is quoted in.
    const double limit = std::round((2.0 + 4.0 * s.volts_per_div / s.amplitude) * 10) / 10;
    for (const char* ch : {"CH1 ", "CH2 "}) {
      entry.items.push_back({std::string(ch) + s.label, "%", -limit, limit});
    }
  }
  return entry;
}

}  // namespace

std::vector<CheckEntry> CheckCatalogue(int model_index) {
  const bool early = model_index < 3;  // 2430, 2430A or a model not in the table
  std::vector<CheckEntry> list;
  list.push_back(Eye("atten-comp", "Attenuator compensation", {kPg506}));
  if (early) {
    list.push_back(
        {"ccd-cte",
         "CCD charge transfer efficiency",
         false,
         true,
         {kPg506},
         {{"CH1 charge transfer", "%", -4.0, 4.0}, {"CH2 charge transfer", "%", -4.0, 4.0}}});
  } else {
    list.push_back(
        {"pos-effect",
         "Position effect",
         false,
         true,
         {kPg506},
         {{"CH1 position effect", "%", -8.0, 8.0}, {"CH2 position effect", "%", -8.0, 8.0}}});
  }
  // Sample skew applies to the 2430, 2430A and 2432 only.
  CheckEntry skew = Eye("sampl-skew", "Sample skew", {kSg503});
  if (model_index == 3 || model_index > 4) {
    skew.applicable = false;
    skew.sources.clear();
  }
  list.push_back(std::move(skew));

  const double lin_limit = model_index >= 6 ? 95.0 : 94.0;
  CheckEntry lin{"ccd-lin", "CCD linearity", false, true, {kPg506}, {}};
  for (const char* item : {"CH1 lower", "CH1 upper", "CH2 lower", "CH2 upper"}) {
    lin.items.push_back({std::string(item) + " linearity", "%", lin_limit, std::nullopt});
  }
  list.push_back(std::move(lin));
  list.push_back(VertAcc());
  list.push_back({"cmrr",
                  "Common mode rejection",
                  false,
                  true,
                  {kSg503},
                  {{"CH1 inverted, CH2 normal", "mV", std::nullopt, 50.0},
                   {"CH1 normal, CH2 inverted", "mV", std::nullopt, 50.0}}});

  list.push_back({"bandwidth",
                  "Bandwidth",
                  false,
                  true,
                  {early ? kSg503 : kSg504},
                  {{"CH1 bandwidth ratio", "", 0.708, std::nullopt},
                   {"CH2 bandwidth ratio", "", 0.708, std::nullopt}}});
  list.push_back(Eye("timing", "Timing", {kTimeMarks}));
  list.push_back({"calibrator",
                  "Calibrator signal",
                  false,
                  true,
                  {kPg506},
                  {{"calibrator amplitude", "mV", 396.0, 404.0}}});

  list.push_back(Eye("a-trig", "A trigger", {kSg503}));
  list.push_back(Eye("b-trig", "B trigger", {kSg503}));
  list.push_back(Eye("ext-trigs", "External triggers", {kSg503}));
  return list;
}

std::optional<CheckEntry> FindCheckEntry(std::string_view name, int model_index) {
  for (CheckEntry& entry : CheckCatalogue(model_index)) {
    if (entry.name == name) return std::move(entry);
  }
  return std::nullopt;
}

std::string CheckTitle(std::string_view name) {
  for (const int model_index : {1, 7}) {
    if (auto entry = FindCheckEntry(name, model_index)) return entry->title;
  }
  return std::string(name);
}

}  // namespace kc
