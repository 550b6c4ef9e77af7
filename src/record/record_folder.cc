#include "record/record_folder.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "record/record_json.h"

namespace kc {

namespace {

std::string Sanitized(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '_' || c == '-';
    out += plain ? c : '_';
  }
  return out;
}

}  // namespace

std::filesystem::path DefaultRecordFolder(const char* xdg_data_home, const char* home) {
  std::filesystem::path base;
  if (xdg_data_home != nullptr && std::filesystem::path(xdg_data_home).is_absolute()) {
    base = xdg_data_home;
  } else if (home != nullptr && *home != '\0') {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    return {};
  }
  return base / "kalventa-checkout" / "records";
}

std::filesystem::path DefaultRecordFolder() {
  return DefaultRecordFolder(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

std::string RecordFileName(const RunRecord& run) {
  // FormatTimestamp gives "YYYY-MM-DDTHH:MM:SS+hh:mm".
  const std::string t = FormatTimestamp(run.start);
  std::string name = t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2) + "-" + t.substr(11, 2) +
                     t.substr(14, 2) + t.substr(17, 2);
  if (!run.model.empty()) name += "-" + Sanitized(run.model);
  if (!run.serial.empty()) name += "-" + Sanitized(run.serial);
  return name + ".json";
}

FolderContents LoadRecordFolder(const std::filesystem::path& folder) {
  FolderContents contents;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) {
    contents.error = "cannot read the record folder " + folder.string() + ": " + ec.message();
    return contents;
  }
  std::vector<std::filesystem::path> files;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::filesystem::path& p = it->path();
    if (p.extension() == ".json" && p.filename().string().front() != '.' && !it->is_directory(ec)) {
      files.push_back(p);
    }
    if (ec) break;
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    ParsedRecord parsed = ReadRecordFile(file);
    if (parsed.record) {
      contents.records.push_back({file, std::move(*parsed.record)});
    } else {
      contents.skipped.push_back({file, parsed.error});
    }
  }
  std::stable_sort(contents.records.begin(), contents.records.end(),
                   [](const LoadedRecord& a, const LoadedRecord& b) {
                     return a.run.start.unix_seconds < b.run.start.unix_seconds;
                   });
  return contents;
}

}  // namespace kc
