// Replacing a file so that a reader, a crash or a power loss sees either the
// old contents or the new ones, never a mixture or a truncated file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kc {

// Writes `data` to a temporary file in the folder of `file`, flushes it to
// the disk, renames it over `file` and flushes the folder. Creates the folder
// when it is missing. On failure returns false with the reason in `error`;
// `file` keeps its old contents and no temporary file is left behind.
bool WriteFileAtomically(const std::filesystem::path& file, std::string_view data,
                         std::string& error);

}  // namespace kc
