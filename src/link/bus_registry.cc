#include "link/bus_registry.h"

#include <algorithm>
#include <cctype>

#include "platform/text.h"

namespace kc {

namespace {

// True when `text` is a name of the form `prefix`: the prefix itself, or the
// prefix followed by the rest of the name when the prefix ends in a mark
// (":", "@", "/"), so that "sim" takes "sim" and "sim:2432A" but not "simx".
bool HasPrefix(std::string_view text, std::string_view prefix) {
  if (!StartsWithNoCase(text, prefix)) return false;
  if (text.size() == prefix.size()) return true;
  // "gpib:" is no beginning of the VISA name "GPIB::INTFC".
  if (prefix.back() == ':' && text[prefix.size()] == ':' &&
      prefix.find("::") == std::string_view::npos)
    return false;
  return std::isalnum(static_cast<unsigned char>(prefix.back())) == 0;
}

std::string Join(const std::vector<std::string>& items) {
  std::string joined;
  for (const std::string& item : items) joined += (joined.empty() ? "" : ", ") + item;
  return joined;
}

// "sim[:MODEL][@ADDR]"
std::optional<BusName> ParseSim(const std::string& text, std::string* error) {
  auto fail = [error](const std::string& what) {
    *error = what;
    return std::nullopt;
  };
  SimTarget target;
  std::string_view rest = std::string_view(text).substr(3);
  std::size_t at = rest.find('@');
  std::string_view model_part = rest.substr(0, at);
  if (!model_part.empty()) {
    if (model_part[0] != ':') return fail("expected sim[:MODEL][@ADDR]");
    std::string_view model = model_part.substr(1);
    if (model.empty()) return fail("the model after \":\" is missing");
    bool printable = std::all_of(model.begin(), model.end(), [](char c) {
      return std::isgraph(static_cast<unsigned char>(c)) != 0 && c != ':';
    });
    if (!printable)
      return fail("the model \"" + std::string(model) + "\" has blanks or control characters");
    // The model becomes part of the identity reply, whose fields are
    // separated by commas and whose replies by semicolons.
    if (model.find_first_of(",;\"") != std::string_view::npos)
      return fail("the model \"" + std::string(model) +
                  "\" has a comma, semicolon or quote (use letters and digits, such as 2432A)");
    target.model = std::string(model);
  }
  if (at != std::string_view::npos) {
    std::string_view address = rest.substr(at + 1);
    std::optional<int> pad = WholeNumber(address, 1, 30);
    if (!pad)
      return fail("the address \"" + std::string(address) +
                  "\" after \"@\" is not a number 1 to 30");
    target.address = *pad;
  }
  BusName bus;
  bus.target = target;
  return bus;
}

}  // namespace

bool BusName::simulated() const {
  return scheme == kSimScheme;
}

void RegisterSimBus(BusRegistry& registry) {
  registry.Add({kSimScheme,
                {"sim", "sim:", "sim@"},
                {},
                {"sim[:MODEL][@ADDR]"},
                {"sim[:MODEL][@ADDR]     the built-in simulated oscilloscope (default sim:2440@1):",
                 "                       MODEL 2430 2430A 2431L 2432 2432A 2439L 2440 or any name",
                 "                       of letters and digits, ADDR 1..30; e.g. sim:2432A@7"},
                ParseSim,
                {}});
}

const BusRegistry& BusRegistry::Builtin() {
  static const BusRegistry registry = [] {
    BusRegistry builtin;
    RegisterSimBus(builtin);
    RegisterPrologixBus(builtin);
    RegisterLinuxGpibBus(builtin);
    RegisterVxi11Bus(builtin);
    return builtin;
  }();
  return registry;
}

const BusScheme* BusRegistry::Find(std::string_view name) const {
  for (const BusScheme& scheme : schemes_)
    if (scheme.name == name) return &scheme;
  return nullptr;
}

const BusScheme* BusRegistry::Claimant(std::string_view text) const {
  for (const BusScheme& scheme : schemes_)
    for (const std::string& prefix : scheme.prefixes)
      if (HasPrefix(text, prefix)) return &scheme;
  if (text.find("::") == std::string_view::npos) return nullptr;
  std::string_view first = Split(text, "::").front();
  for (const BusScheme& scheme : schemes_)
    for (const std::string& word : scheme.visa_words)
      if (VisaWordMatches(first, word)) return &scheme;
  return nullptr;
}

bool BusRegistry::VisaWordMatches(std::string_view first, std::string_view word) {
  return StartsWithNoCase(first, word) &&
         std::all_of(first.begin() + static_cast<std::ptrdiff_t>(word.size()), first.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

std::optional<BusName> BusRegistry::Parse(const std::string& text, std::string* error) const {
  std::string what;
  std::optional<BusName> bus;
  if (text.empty()) {
    what = "the bus name is empty";
  } else if (const BusScheme* scheme = Claimant(text)) {
    bus = scheme->parse(text, &what);
    if (bus) {
      bus->scheme = scheme->name;
      bus->text = text;
    }
  } else if (text.find("::") != std::string::npos) {
    std::vector<std::string> words;
    for (const BusScheme& known : schemes_)
      words.insert(words.end(), known.visa_words.begin(), known.visa_words.end());
    what = "unknown interface \"" + std::string(Split(text, "::").front()) +
           "\" (known: " + Join(words) + ")";
  } else {
    std::vector<std::string> forms;
    for (const BusScheme& known : schemes_)
      forms.insert(forms.end(), known.forms.begin(), known.forms.end());
    what = "unknown bus; known forms: " + Join(forms);
  }
  if (!bus && error != nullptr) *error = "bad bus \"" + text + "\": " + what;
  return bus;
}

std::unique_ptr<GpibDriver> BusRegistry::Make(const BusName& bus, const BusEnv& env) const {
  const BusScheme* scheme = Find(bus.scheme);
  if (scheme == nullptr || !scheme->make) return nullptr;
  return scheme->make(bus, env);
}

std::string BusRegistry::Help() const {
  std::string help = "Buses (--bus):\n";
  for (const BusScheme& scheme : schemes_)
    for (const std::string& line : scheme.help) help += "  " + line + "\n";
  return help;
}

std::optional<BusName> ParseBusName(const std::string& text, std::string* error) {
  return BusRegistry::Builtin().Parse(text, error);
}

}  // namespace kc
