// Where records live, what each run's file is called, and reading a whole
// folder of them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "record/run_record.h"

namespace kc {

// $XDG_DATA_HOME/kalventa-checkout/records, or ~/.local/share/... when that is
// unset, empty or not an absolute path (the values are passed in: null when
// the variable is not set). Empty when neither gives a folder.
std::filesystem::path DefaultRecordFolder(const char* xdg_data_home, const char* home);
// The same from this process's environment.
std::filesystem::path DefaultRecordFolder();

// "20261206-172005-2440-B012345.json": the run's local start time, model and
// serial (characters other than letters, digits, '.', '_' and '-' become '_').
std::string RecordFileName(const RunRecord& run);

struct LoadedRecord {
  std::filesystem::path file;
  RunRecord run;
};
struct SkippedFile {
  std::filesystem::path file;
  std::string reason;
};
struct FolderContents {
  std::vector<LoadedRecord> records;  // oldest run first
  std::vector<SkippedFile> skipped;   // unreadable *.json files, with the reason
  std::string error;                  // the folder itself cannot be read
};
// Reads every *.json file of `folder` (not its subfolders; hidden temporary
// files are left alone). Files that cannot be read are named in `skipped` and
// never touched.
FolderContents LoadRecordFolder(const std::filesystem::path& folder);

}  // namespace kc
