// Certificates: the text and CSV forms against texts written by hand, the
// PDF read back with the PDF tools, and the report command's choice of runs
// and its failures.
#include <cmath>
#include <cstdio>
#include <vector>

#include "gtest/gtest.h"
#include "record/record_fixture.h"
#include "report/pdf_report.h"
#include "report/text_report.h"
#include "support/program_run.h"

namespace kc {
namespace {

TEST(ReportTest, TextAndCsvFormsAsWrittenByHand) {
  // The sample run with one earlier run: aligned columns, one CSV row a reading.
  EXPECT_EQ(TextCertificate(SampleCertificate()), ExpectedFile("certificate.txt"));
  EXPECT_EQ(CsvReport({SampleCertificate()}), ExpectedFile("certificate.csv"));
}

TEST(ReportTest, PdfCopesWithReadingsOffEveryScale) {
  TempDir dir;
  Certificate c = SampleCertificate();
  std::vector<Reading>& readings = c.run.checks[2].readings;
  readings.push_back({"not a number", std::nan(""), "%", -3.0, 3.0, Verdict::kFail});
  readings.push_back({"huge", 1e300, "%", -1e300, 1e300, Verdict::kFail});
  readings.push_back({"limits crossed", 1, "%", 3.0, -3.0, Verdict::kFail});
  readings.push_back({"no width", 1e6, "mV", 1e6, 1e6, Verdict::kPass});
  c.history[0].checks.push_back(c.run.checks[2]);
  c.history[0].checks.back().readings.back().value = -1e300;
  std::string error;
  EXPECT_TRUE(WritePdfReport({c}, Paper::kLetter, dir.path / "odd.pdf", error)) << error;
  EXPECT_FALSE(WritePdfReport({c}, Paper::kA4, dir.path / "odd.pdf" / "x.pdf", error));
  EXPECT_NE(error.find("odd.pdf"), std::string::npos) << error;
}

// The built program's report command.
ProgramRun Report(std::vector<std::string> args) {
  args.insert(args.begin(), "report");
  return RunProgram(args);
}

// Output of a command line tool; empty when it cannot run.
std::string Tool(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
  }
  return text;
}

TEST(ReportCommandTest, NewestRunOfTheFolderAndNothingReadable) {
  if (ProgramPath().empty()) GTEST_SKIP() << "kalventa-checkout is not built (KC_BIN_DIR)";
  TempDir dir;
  const std::string folder = dir.path.string();
  WriteFile(dir.path / "broken.json", "{\"schema\": 1");
  ProgramRun r = Report({"--record-dir", folder});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("broken.json: truncated JSON"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("no readable checkout record in " + folder), std::string::npos) << r.err;
  r = Report({(dir.path / "broken.json").string()});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("none of the records given could be read"), std::string::npos) << r.err;
  EXPECT_EQ(Report({"--format", "html"}).code, 2);

  const Certificate c = SampleCertificate();
  WriteFile(dir.path / "older.json", RecordToJson(c.history[0]));
  WriteFile(dir.path / "newer.json", RecordToJson(c.run));
  r = Report({"--record-dir", folder});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, TextCertificate(c));
  EXPECT_EQ(ReadFile(dir.path / "broken.json"), "{\"schema\": 1");
}

TEST(ReportCommandTest, PdfHoldsTheReadingsOnTheChosenPaper) {
  if (Tool("command -v pdftotext pdfinfo").empty() || ProgramPath().empty())
    GTEST_SKIP() << "no poppler-utils or no program";
  TempDir dir;
  const Certificate c = SampleCertificate();
  WriteFile(dir.path / "older.json", RecordToJson(c.history[0]));
  WriteFile(dir.path / "newer.json", RecordToJson(c.run));
  const std::pair<const char*, const char*> papers[] = {{"a4", "595.276 x 841.89 pts (A4)"},
                                                        {"letter", "612 x 792 pts (letter)"}};
  for (const auto& [paper, size] : papers) {
    const std::string pdf = (dir.path / (std::string(paper) + ".pdf")).string();
    const ProgramRun r = Report({(dir.path / "newer.json").string(), "-o", pdf, "--paper", paper});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(Tool("pdfinfo " + pdf).find(size), std::string::npos) << paper;
    const std::string text = Tool("pdftotext -layout " + pdf + " -");
    for (const char* shown :
         {"Overall verdict: FAIL", "B010101", "Tech, A.", "V81.1", "PG 506", "calibrator amplitude",
          "400.3 mV", "CH1 5 V/div", "3.3 %", "FAIL", "PASS", "not applicable",
          "History of serial number B010101 (1 earlier run)", "2025-06-01"}) {
      EXPECT_NE(text.find(shown), std::string::npos) << paper << ": " << shown << "\n" << text;
    }
  }
}

}  // namespace
}  // namespace kc
