// Command streams written as one text, a message a line, for comparison with
// what the instrument received.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace kc {

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace kc
