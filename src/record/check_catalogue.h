// What each check shows on the instrument screen, as data for its record: the
// check's name as on the menu, the bench sources it asks for, and each item it
// judges with the reading's unit and the limits the screen applies. Some
// depend on the model (its place in the model table, 0 when unknown).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kc {

struct ItemEntry {
  std::string item;
  std::string unit;  // empty for a plain ratio
  std::optional<double> low;
  std::optional<double> high;
};

struct CheckEntry {
  std::string name;   // "calibrator", "vert-acc", ...
  std::string title;  // "Calibrator signal"
  bool by_eye = false;
  bool applicable = true;  // false: the check only shows its not-applicable notice
  std::vector<std::string> sources;
  std::vector<ItemEntry> items;  // in the order the screen shows them
};

// Every check of the menu for this model, in menu order.
std::vector<CheckEntry> CheckCatalogue(int model_index);
// One check by name; nothing for a name the menu does not have (or "ccd-cte"
// on a model whose menu shows "pos-effect", and the other way round).
std::optional<CheckEntry> FindCheckEntry(std::string_view name, int model_index);
// A check's title by name whatever the model; the name itself when unknown.
std::string CheckTitle(std::string_view name);

}  // namespace kc
