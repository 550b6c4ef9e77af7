#include "app/checkout/report_command.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/checkout/options.h"
#include "platform/platform.h"
#include "record/atomic_file.h"
#include "record/record_folder.h"
#include "record/record_json.h"
#include "report/pdf_report.h"
#include "report/text_report.h"

namespace kc {

namespace {

constexpr const char* kProgram = "kalventa-checkout report";

// Folders read for history, each read once; their unreadable files are named
// once.
class Folders {
 public:
  explicit Folders(std::ostream& err) : err_(err) {}

  const FolderContents& Load(const std::filesystem::path& folder) {
    const auto key = folder.empty() ? std::filesystem::path(".") : folder;
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    FolderContents contents = LoadRecordFolder(key);
    for (const SkippedFile& s : contents.skipped) {
      err_ << kProgram << ": skipped " << s.file.string() << ": " << s.reason << "\n";
    }
    return cache_.emplace(key, std::move(contents)).first->second;
  }

 private:
  std::ostream& err_;
  std::map<std::filesystem::path, FolderContents> cache_;
};

}  // namespace

int RunReportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  std::vector<std::string> files;
  std::string output;
  std::string format;
  std::string paper = "a4";
  std::string record_dir;
  CLI::App app{"The certificate of checkout records as text, CSV or PDF", kProgram};
  app.add_option("records", files,
                 "Record files; without them the newest run in the record folder");
  app.add_option("-o,--output", output,
                 "Output file (text and CSV: standard output without it; PDF: the first "
                 "record's name with .pdf in the current folder)");
  app.add_option("--format", format, "pdf, text or csv (default: from the -o name, else text)")
      ->check(CLI::IsMember({"pdf", "text", "csv"}));
  app.add_option("--paper", paper, "Paper size of the PDF: a4 or letter")
      ->check(CLI::IsMember({"a4", "letter"}));
  app.add_option("--record-dir", record_dir,
                 "The record folder (default $XDG_DATA_HOME/kalventa-checkout/records)");
  const int status = ParseCommandLine(app, argc, argv, kProgram, out, err);
  if (status >= 0) return status;
  if (format.empty()) {
    const std::string ext = std::filesystem::path(output).extension().string();
    format = ext == ".pdf" ? "pdf" : ext == ".csv" ? "csv" : "text";
  }

  Folders folders(err);
  std::vector<Certificate> certificates;
  if (files.empty()) {
    const std::filesystem::path folder =
        record_dir.empty() ? DefaultRecordFolder() : std::filesystem::path(record_dir);
    if (folder.empty()) {
      err << kProgram << ": no record folder (HOME is not set): name one with --record-dir\n";
      return kExitFatal;
    }
    const FolderContents& contents = folders.Load(folder);
    if (!contents.error.empty()) err << kProgram << ": " << contents.error << "\n";
    if (contents.records.empty()) {
      err << kProgram << ": no readable checkout record in " << folder.string() << "\n";
      return kExitFatal;
    }
    const LoadedRecord& newest = contents.records.back();
    certificates.push_back({newest.run, newest.file, {}});
  } else {
    for (const std::string& file : files) {
      ParsedRecord parsed = ReadRecordFile(file);
      if (!parsed.record) {
        err << kProgram << ": skipped " << file << ": " << parsed.error << "\n";
        continue;
      }
      certificates.push_back({std::move(*parsed.record), file, {}});
    }
    if (certificates.empty()) {
      err << kProgram << ": none of the records given could be read\n";
      return kExitFatal;
    }
  }
  for (Certificate& c : certificates) {
    c.history = HistoryOf(c.run, folders.Load(c.file.parent_path()));
  }

  std::string error;
  if (format == "pdf") {
    if (output.empty()) {
      output = certificates.front().file.filename().replace_extension(".pdf").string();
    }
    if (!WritePdfReport(certificates, paper == "letter" ? Paper::kLetter : Paper::kA4, output,
                        error)) {
      err << kProgram << ": " << error << "\n";
      return kExitFatal;
    }
    out << "certificate written to " << output << "\n";
    return 0;
  }
  std::string text;
  if (format == "csv") {
    text = CsvReport(certificates);
  } else {
    for (std::size_t i = 0; i < certificates.size(); ++i) {
      text += (i == 0 ? "" : "\n\n") + TextCertificate(certificates[i]);
    }
  }
  if (output.empty() || output == "-") {
    out << text;
  } else if (!WriteFileAtomically(output, text, error)) {
    err << kProgram << ": " << error << "\n";
    return kExitFatal;
  }
  return 0;
}

}  // namespace kc
