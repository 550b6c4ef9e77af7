// Bus names and the registry of bus back ends.
//
// The user names the GPIB bus with the oscilloscope on it (`--bus`). Each back
// end registers its scheme: which names are its, how it reads them into its
// own target, how it makes its driver, and its lines for --help. The command
// line, the help text and the fuzz target take the list from the registry;
// a new controller is one file pair and one registration line (bus_registry.cc).
//
// VISA-style names (WORD::...::INTFC) go to the scheme that names WORD among
// its VISA words; WORD is matched without regard to case, and digits after it
// (a board number) are the scheme's to read.
#pragma once

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/gpib_driver.h"
#include "platform/platform.h"

namespace kc {

// The built-in simulated bus: "sim[:MODEL][@ADDR]".
inline constexpr const char* kSimScheme = "sim";
struct SimTarget {
  // The simulated oscilloscope's model text and primary address.
  std::string model = "2440";
  int address = 1;
};

// A bus name as read: the scheme that took it and that scheme's own target.
// The default is the simulated bus with its default oscilloscope.
struct BusName {
  std::string scheme = kSimScheme;
  // The text the bus was named by.
  std::string text = kSimScheme;
  // Instruments' primary addresses named with the bus ("?addr="), taken
  // instead of a listener search, in the order given.
  std::vector<int> listeners;
  // The scheme's own fields (SimTarget, PrologixTarget, ...).
  std::any target = SimTarget{};

  template <typename T>
  const T* As() const {
    return std::any_cast<T>(&target);
  }
  bool simulated() const;
};

// What a back end may use when it makes its driver.
struct BusEnv {
  Platform& platform;
  // Where fault lines go (standard error, or the window's notice line).
  std::function<void(const std::string&)> diagnostic;
};

// Reads one name; on a malformed name it stores a message in `error` (never
// null) that says what is wrong, without the "bad bus" prefix.
using BusParser =
    std::function<std::optional<BusName>(const std::string& text, std::string* error)>;
// Makes the driver; throws ProgramEnd (or std::runtime_error) when the
// controller cannot be used at all.
using BusFactory =
    std::function<std::unique_ptr<GpibDriver>(const BusName& bus, const BusEnv& env)>;

struct BusScheme {
  std::string name;
  // Names this scheme takes: they start with one of `prefixes` (case
  // ignored), or they are VISA names whose first word is one of `visa_words`.
  std::vector<std::string> prefixes;
  std::vector<std::string> visa_words;
  // The forms of its names, for the message on an unknown bus.
  std::vector<std::string> forms;
  // --help lines: "FORM   what it is; e.g. EXAMPLE" (continuation lines
  // start with blanks).
  std::vector<std::string> help;
  BusParser parse;
  // Empty for the simulated bus, whose bench the program builds itself.
  BusFactory make;
};

class BusRegistry {
 public:
  // Every back end this program has.
  static const BusRegistry& Builtin();

  void Add(BusScheme scheme) { schemes_.push_back(std::move(scheme)); }
  const std::vector<BusScheme>& schemes() const { return schemes_; }
  const BusScheme* Find(std::string_view name) const;

  // Parses a bus name. On a malformed name returns nullopt and, when `error`
  // is given, stores a message that quotes the name and says what is wrong.
  std::optional<BusName> Parse(const std::string& text, std::string* error) const;
  // The driver for a parsed name.
  std::unique_ptr<GpibDriver> Make(const BusName& bus, const BusEnv& env) const;
  // The --help text on bus names, every scheme's lines.
  std::string Help() const;

 private:
  const BusScheme* Claimant(std::string_view text) const;
  // `first` is `word` followed by nothing but a board number.
  static bool VisaWordMatches(std::string_view first, std::string_view word);
  std::vector<BusScheme> schemes_;
};

// BusRegistry::Builtin().Parse(text, error).
std::optional<BusName> ParseBusName(const std::string& text, std::string* error);

// The registration of each back end (one line each in bus_registry.cc).
void RegisterSimBus(BusRegistry& registry);
void RegisterPrologixBus(BusRegistry& registry);
void RegisterLinuxGpibBus(BusRegistry& registry);
void RegisterVxi11Bus(BusRegistry& registry);

}  // namespace kc
