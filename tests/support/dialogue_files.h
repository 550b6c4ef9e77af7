// What the hand-written dialogue files under tests/transcripts share: their
// names and the escapes that write bytes in them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kc::harness {

// The `.txt` files of `dir` (a folder under tests/transcripts, "" for the
// checks' own), without the extension, sorted.
std::vector<std::string> DialogueNames(const std::string& dir);

// The bytes a dialogue line writes: \r, \n, \e (ESC), \xNN and \\; a
// backslash before anything else stays as it is.
std::string DialogueBytes(const std::string& text);

// A test name for a dialogue case: its file name with every character that
// may not stand in a test name ("-", "/") as "_".
std::string DialogueCaseName(const ::testing::TestParamInfo<std::string>& info);

}  // namespace kc::harness
