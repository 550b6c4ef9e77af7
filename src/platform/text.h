// Small text helpers shared by the command-line readers, the bus names, the
// adapter dialogue and the simulated instrument.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kc {

std::string Lower(std::string_view text);
std::string Upper(std::string_view text);
// `text` without the characters of `chars` at either end.
std::string_view Trim(std::string_view text, std::string_view chars = " \t\r\n");
// Leading and trailing blanks, tabs and line ends removed.
inline std::string_view TrimBlanks(std::string_view text) {
  return Trim(text);
}
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool AllDigits(std::string_view text);
// A whole number from `lo` to `hi` written as plain decimal digits (no sign,
// no blanks); nullopt otherwise.
std::optional<int> WholeNumber(std::string_view text, int lo, int hi);
// `text` cut at every `separator`; an empty text gives one empty part.
std::vector<std::string_view> Split(std::string_view text, std::string_view separator);

}  // namespace kc
