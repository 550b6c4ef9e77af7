#include "platform/text.h"

#include <algorithm>
#include <cctype>

namespace kc {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

std::string_view Trim(std::string_view text, std::string_view chars) {
  std::size_t first = text.find_first_not_of(chars);
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(chars);
  return text.substr(first, last - first + 1);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

std::optional<int> WholeNumber(std::string_view text, int lo, int hi) {
  if (!AllDigits(text) || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
}

}  // namespace kc
