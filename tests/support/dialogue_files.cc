#include "support/dialogue_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace kc::harness {

std::vector<std::string> DialogueNames(const std::string& dir) {
  std::vector<std::string> names;
  const std::string folder = std::string(KC_SOURCE_DIR) + "/tests/transcripts/" + dir;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string DialogueBytes(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'x' && i + 2 < text.size()) {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      if (c != '\\' && c != 'r' && c != 'n' && c != 'e') bytes += '\\';
      bytes += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 'e' ? '\x1b' : c;
    }
  }
  return bytes;
}

std::string DialogueCaseName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

}  // namespace kc::harness
