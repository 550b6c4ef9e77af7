// Checkout records and certificates: the JSON layout against a document
// written by hand, unreadable files named and left alone, filing that
// survives a kill and an unwritable folder, and the text, CSV and PDF
// certificates.
#include <fcntl.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/checkout/report_command.h"
#include "gtest/gtest.h"
#include "record/record_folder.h"
#include "record/record_json.h"
#include "record/run_recorder.h"
#include "report/pdf_report.h"
#include "report/text_report.h"

namespace kc {
namespace {

namespace fs = std::filesystem;

struct TempDir {
  TempDir() {
    char name[] = "/tmp/kc_record_XXXXXX";
    path = mkdtemp(name) != nullptr ? name : "";
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

// 2026-12-06T17:20:05+01:00, five seconds later at every call.
RunRecorder::TimeSource SteppingClock() {
  return [t = std::int64_t{1796574005}]() mutable {
    const Timestamp now{t, 60};
    t += 5;
    return now;
  };
}

constexpr const char* kReady = "    PRESS ANY BEZEL BUTTON WHEN READY";

// A calibrator check, the sample skew notice of a 2440, a failed vertical
// accuracy and the calibrator again, left with MENU OFF.
void RecordSampleRun(RunRecorder& rec) {
  rec.BeginRun("sim:2440@1", 1, "ID AB/2440,V81.1");
  rec.SetSerial("B010101");
  rec.SetTechnician("Tech, A.");
  rec.BeginCheck("calibrator");
  rec.ButtonPressed(kReady, 1);
  rec.AddReading("calibrator amplitude", 400.3f, Verdict::kPass);  // a Single
  rec.SetCheckVerdict(Verdict::kPass);
  rec.EndCheck(CheckEnding::kCompleted);
  rec.BeginCheck("sampl-skew");
  rec.EndCheck(CheckEnding::kCompleted);
  rec.BeginCheck("vert-acc");
  rec.AddReading("CH1 5 V/div", 3.26f, "%", -3.0f, 3.0f, Verdict::kFail);
  rec.AddReading("CH2 5 V/div", -0.4, Verdict::kPass);
  rec.SetCheckVerdict(Verdict::kFail);
  rec.EndCheck(CheckEnding::kCompleted);
  rec.BeginCheck("calibrator");
  rec.ButtonPressed(kReady, 0);
  rec.EndCheck(CheckEnding::kLeft);
}

// The sample run as its file must read.
constexpr const char* kSampleJson = R"({
  "schema": 1,
  "start": "2026-12-06T17:20:05+01:00",
  "program_version": "2.0",
  "bus": "sim:2440@1",
  "address": 1,
  "id_reply": "ID AB/2440,V81.1",
  "model": "2440",
  "firmware": "V81.1",
  "serial": "B010101",
  "technician": "Tech, A.",
  "checks": [
    {
      "name": "calibrator",
      "start": "2026-12-06T17:20:10+01:00",
      "end": "2026-12-06T17:20:15+01:00",
      "ending": "completed",
      "sources": [
        "PG 506"
      ],
      "verdict": "pass",
      "eye_verdict": "not judged",
      "readings": [
        {
          "item": "calibrator amplitude",
          "value": 400.3,
          "unit": "mV",
          "low": 396.0,
          "high": 404.0,
          "verdict": "pass"
        }
      ],
      "presses": [
        {
          "question": "    PRESS ANY BEZEL BUTTON WHEN READY",
          "button": 1
        }
      ]
    },
    {
      "name": "sampl-skew",
      "start": "2026-12-06T17:20:20+01:00",
      "end": "2026-12-06T17:20:25+01:00",
      "ending": "completed",
      "sources": [],
      "verdict": null,
      "eye_verdict": "not applicable",
      "readings": [],
      "presses": []
    },
    {
      "name": "vert-acc",
      "start": "2026-12-06T17:20:30+01:00",
      "end": "2026-12-06T17:20:35+01:00",
      "ending": "completed",
      "sources": [
        "PG 506"
      ],
      "verdict": "fail",
      "eye_verdict": "not judged",
      "readings": [
        {
          "item": "CH1 5 V/div",
          "value": 3.26,
          "unit": "%",
          "low": -3.0,
          "high": 3.0,
          "verdict": "fail"
        },
        {
          "item": "CH2 5 V/div",
          "value": -0.4,
          "unit": "%",
          "low": -3.0,
          "high": 3.0,
          "verdict": "pass"
        }
      ],
      "presses": []
    },
    {
      "name": "calibrator",
      "start": "2026-12-06T17:20:40+01:00",
      "end": "2026-12-06T17:20:45+01:00",
      "ending": "left",
      "sources": [
        "PG 506"
      ],
      "verdict": null,
      "eye_verdict": "not judged",
      "readings": [],
      "presses": [
        {
          "question": "    PRESS ANY BEZEL BUTTON WHEN READY",
          "button": 0
        }
      ]
    }
  ]
}
)";

std::string SampleJson() {
  return kSampleJson;
}

TEST(RunRecorderTest, FilesTheRunAfterEachCheckInTheDocumentedLayout) {
  TempDir dir;
  RunRecorder rec(dir.path, "2.0", SteppingClock(), nullptr);
  RecordSampleRun(rec);
  EXPECT_EQ(rec.file(), dir.path / "20261206-172005-2440-B010101.json");
  EXPECT_EQ(ReadFile(rec.file()), SampleJson());
  // And back: the parsed document writes the same bytes.
  const ParsedRecord parsed = ParseRecord(SampleJson());
  ASSERT_TRUE(parsed.record) << parsed.error;
  EXPECT_EQ(RecordToJson(*parsed.record), SampleJson());
  EXPECT_EQ(OverallVerdict(*parsed.record), Overall::kFail);
}

TEST(RunRecordTest, TimestampsIdRepliesFoldersAndVerdicts) {
  const std::pair<Timestamp, const char*> times[] = {
      {{0, 0}, "1970-01-01T00:00:00+00:00"},
      {{1796574005, 60}, "2026-12-06T17:20:05+01:00"},
      {{1748788200, -330}, "2025-06-01T09:00:00-05:30"},
      {{1709251199, 0}, "2024-02-29T23:59:59+00:00"},
  };
  for (const auto& [t, text] : times) {
    EXPECT_EQ(FormatTimestamp(t), text);
    EXPECT_EQ(ParseTimestamp(text), t) << text;
  }
  EXPECT_EQ(ParseTimestamp("2024-02-29T23:59:59Z"), (Timestamp{1709251199, 0}));
  for (const char* bad : {"2026-13-01T00:00:00Z", "2025-02-29T00:00:00Z", "2026-12-06 17:20:05Z",
                          "2026-12-06T17:20:05+0100", "2026-12-06T17:20:05", ""}) {
    EXPECT_FALSE(ParseTimestamp(bad)) << bad;
  }

  const std::tuple<const char*, const char*, const char*> ids[] = {
      {"ID AB/2440,V81.1", "2440", "V81.1"},
      {"AB/2430A,V2.3,EXTRA\n", "2430A", "V2.3"},
      {"2432", "2432", ""},
      {"", "", ""},
  };
  for (const auto& [reply, model, firmware] : ids) {
    EXPECT_EQ(SplitIdReply(reply).model, model) << reply;
    EXPECT_EQ(SplitIdReply(reply).firmware, firmware) << reply;
  }

  const std::tuple<const char*, const char*, fs::path> folders[] = {
      {"/data", "/home/t", "/data/kalventa-checkout/records"},
      {nullptr, "/home/t", "/home/t/.local/share/kalventa-checkout/records"},
      {"", "/home/t", "/home/t/.local/share/kalventa-checkout/records"},
      {"relative", "/home/t", "/home/t/.local/share/kalventa-checkout/records"},
      {nullptr, nullptr, ""},
  };
  for (const auto& [xdg, home, folder] : folders) {
    EXPECT_EQ(DefaultRecordFolder(xdg, home), folder);
  }

  // Of a check run twice the last run counts; a left check leaves the run
  // incomplete.
  auto run_of = [](std::vector<std::pair<std::optional<Verdict>, CheckEnding>> checks) {
    RunRecord run;
    for (const auto& [verdict, ending] : checks) {
      CheckRecord c;
      c.name = "calibrator";
      c.verdict = verdict;
      c.ending = ending;
      run.checks.push_back(c);
    }
    return run;
  };
  const auto done = CheckEnding::kCompleted;
  EXPECT_EQ(OverallVerdict(run_of({})), Overall::kNoChecks);
  EXPECT_EQ(OverallVerdict(run_of({{Verdict::kFail, done}, {Verdict::kPass, done}})),
            Overall::kPass);
  EXPECT_EQ(OverallVerdict(run_of({{Verdict::kPass, done}, {Verdict::kFail, done}})),
            Overall::kFail);
  EXPECT_EQ(OverallVerdict(run_of({{Verdict::kPass, done}, {std::nullopt, CheckEnding::kLeft}})),
            Overall::kIncomplete);
}

TEST(RecordFolderTest, UnreadableFilesAreNamedSkippedAndLeftAsTheyAre) {
  TempDir dir;
  const std::string good = SampleJson();
  std::string no_checks = good;
  no_checks.replace(no_checks.find("\"checks\""), 8, "\"cheques\"");
  std::string bad_verdict = good;
  bad_verdict.replace(bad_verdict.find("\"verdict\": \"pass\""), 17, "\"verdict\": \"maybe\"");
  const std::tuple<const char*, std::string, const char*> files[] = {
      {"a-truncated.json", good.substr(0, good.size() / 2), "truncated JSON"},
      {"b-garbage.json", "{\"schema\": 1,, }", "not valid JSON"},
      {"c-future.json", "{\"schema\": 2, \"whatever\": true}", "unknown schema 2"},
      {"d-noschema.json", "{\"start\": \"2026-12-06T17:20:05+01:00\"}", "no \"schema\" field"},
      {"e-nochecks.json", no_checks, "has no field \"checks\""},
      {"f-verdict.json", bad_verdict, "\"verdict\" has an unknown value: maybe"},
      {"g-empty.json", "", "empty file"},
      {"h-list.json", "[1, 2]", "no JSON object"},
  };
  for (const auto& [name, text, reason] : files) WriteFile(dir.path / name, text);
  WriteFile(dir.path / "z-good.json", good);
  WriteFile(dir.path / ".z-good.json.Ab12Cd", good.substr(0, 100));  // a write cut short

  const FolderContents contents = LoadRecordFolder(dir.path);
  EXPECT_TRUE(contents.error.empty());
  ASSERT_EQ(contents.records.size(), 1u);
  EXPECT_EQ(contents.records[0].file, dir.path / "z-good.json");
  ASSERT_EQ(contents.skipped.size(), std::size(files));
  for (std::size_t i = 0; i < std::size(files); ++i) {
    const auto& [name, text, reason] = files[i];
    EXPECT_EQ(contents.skipped[i].file, dir.path / name);
    EXPECT_NE(contents.skipped[i].reason.find(reason), std::string::npos)
        << name << ": " << contents.skipped[i].reason;
    EXPECT_EQ(ReadFile(dir.path / name), text) << name;
  }
  EXPECT_FALSE(LoadRecordFolder(dir.path / "missing").error.empty());
}

// Kills the child when a test ends early.
struct Child {
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  pid_t pid = -1;
};

TEST(RunRecorderTest, KillNineWhileFilingLeavesTheLastFiledRunReadable) {
  TempDir dir;
  constexpr int kReadings = 8000;  // a few megabytes per filing
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  Child child;
  child.pid = fork();
  ASSERT_GE(child.pid, 0);
  if (child.pid == 0) {
    close(pipe_fds[0]);
    RunRecorder rec(dir.path, "2.0", SteppingClock(), nullptr);
    rec.BeginRun("sim:2440@1", 1, "ID AB/2440,V81.1");
    for (;;) {
      rec.BeginCheck("vert-acc");
      for (int i = 0; i < kReadings; ++i) rec.AddReading("CH1 2 mV/div", 0.5, Verdict::kPass);
      const char filing = 'f';
      if (write(pipe_fds[1], &filing, 1) != 1) _exit(1);
      rec.EndCheck(CheckEnding::kCompleted);
    }
  }
  close(pipe_fds[1]);
  // The third filing has begun: the first two have ended.
  char c = 0;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(read(pipe_fds[0], &c, 1), 1);
  kill(child.pid, SIGKILL);
  waitpid(child.pid, nullptr, 0);
  child.pid = -1;
  close(pipe_fds[0]);

  const FolderContents contents = LoadRecordFolder(dir.path);
  EXPECT_TRUE(contents.skipped.empty());
  ASSERT_EQ(contents.records.size(), 1u);
  const RunRecord& run = contents.records[0].run;
  ASSERT_GE(run.checks.size(), 2u);
  ASSERT_LE(run.checks.size(), 3u);
  for (const CheckRecord& check : run.checks) {
    EXPECT_EQ(check.ending, CheckEnding::kCompleted);
    EXPECT_EQ(check.readings.size(), static_cast<std::size_t>(kReadings));
  }
}

TEST(RunRecorderTest, AnUnwritableFolderGivesOneWarningAndTheRunGoesOn) {
  for (const bool read_only : {false, true}) {
    TempDir dir;
    const fs::path folder = dir.path / "records";
    if (read_only) {
      // Root writes anywhere: check the folder's mode as another user would.
      fs::create_directory(folder);
      chmod(dir.path.c_str(), 0755);
      chmod(folder.c_str(), 0555);
    } else {
      WriteFile(folder, "a file where the folder should be");
    }
    const bool as_root = read_only && geteuid() == 0;
    if (as_root) setfsuid(65534);
    std::vector<std::string> warnings;
    {
      RunRecorder rec(folder, "2.0", SteppingClock(),
                      [&](const std::string& w) { warnings.push_back(w); });
      RecordSampleRun(rec);
      EXPECT_EQ(rec.record().checks.size(), 4u);
    }
    if (as_root) setfsuid(0);
    ASSERT_EQ(warnings.size(), 1u) << (read_only ? "read-only" : "file in the way");
    EXPECT_NE(warnings[0].find(folder.string()), std::string::npos) << warnings[0];
    EXPECT_EQ(warnings[0].rfind("checkout record not saved: ", 0), 0u) << warnings[0];
    chmod(folder.c_str(), 0755);
  }
}

// The sample run with one earlier run of the same instrument.
Certificate SampleCertificate() {
  Certificate c;
  c.run = *ParseRecord(SampleJson()).record;
  RunRecord earlier = c.run;
  earlier.start = {1748788200, -330};
  earlier.checks.resize(1);
  earlier.checks[0].readings[0].value = 401.0;
  c.history.push_back(earlier);
  return c;
}

TEST(ReportTest, TextCertificateInAlignedColumns) {
  const std::string expected =
      "CHECKOUT CERTIFICATE\n"
      "Model:           2440\n"
      "Firmware:        V81.1\n"
      "Serial number:   B010101\n"
      "Date:            2026-12-06T17:20:05+01:00\n"
      "Technician:      Tech, A.\n"
      "Program version: 2.0\n"
      "Bus:             sim:2440@1, GPIB address 1\n"
      "Bench sources:   PG 506\n"
      "Overall verdict: FAIL\n"
      "\n"
      "Calibrator signal, 17:20:10 to 17:20:15, completed: PASS\n"
      "  Item                   Reading  Limits          Verdict\n"
      "  calibrator amplitude  400.3 mV  396.0 to 404.0  PASS\n"
      "  Button 1 at \"PRESS ANY BEZEL BUTTON WHEN READY\"\n"
      "\n"
      "Sample skew, 17:20:20 to 17:20:25, completed\n"
      "  Judged by eye: not applicable\n"
      "\n"
      "Vertical accuracy, 17:20:30 to 17:20:35, completed: FAIL\n"
      "  Item         Reading  Limits       Verdict\n"
      "  CH1 5 V/div    3.3 %  -3.0 to 3.0  FAIL\n"
      "  CH2 5 V/div   -0.4 %  -3.0 to 3.0  PASS\n"
      "\n"
      "Calibrator signal, 17:20:40 to 17:20:45, left with MENU OFF\n"
      "  Button MENU OFF at \"PRESS ANY BEZEL BUTTON WHEN READY\"\n"
      "\n"
      "History of this instrument, 1 earlier run\n"
      "  Item                  Runs  Lowest    Highest   Previous\n"
      "  calibrator amplitude     2  400.3 mV  401.0 mV  401.0 mV (2025-06-01)\n";
  EXPECT_EQ(TextCertificate(SampleCertificate()), expected);
}

TEST(ReportTest, CsvHasOneRowPerReading) {
  const std::string head = "2026-12-06T17:20:05+01:00,2440,B010101,\"Tech, A.\",";
  const std::string expected =
      "run_start,model,serial,technician,check,check_start,item,value,unit,low,high,verdict\r\n" +
      head + "calibrator,2026-12-06T17:20:10+01:00,calibrator amplitude,400.3,mV,396,404,pass\r\n" +
      head + "vert-acc,2026-12-06T17:20:30+01:00,CH1 5 V/div,3.26,%,-3,3,fail\r\n" + head +
      "vert-acc,2026-12-06T17:20:30+01:00,CH2 5 V/div,-0.4,%,-3,3,pass\r\n";
  EXPECT_EQ(CsvReport({SampleCertificate()}), expected);
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

struct CommandRun {
  int code;
  std::string out;
  std::string err;
};

CommandRun Report(std::vector<std::string> args) {
  args.insert(args.begin(), "report");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out;
  std::ostringstream err;
  const int code = RunReportCommand(static_cast<int>(argv.size()), argv.data(), out, err);
  return {code, out.str(), err.str()};
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
  TempDir dir;
  const std::string folder = dir.path.string();
  WriteFile(dir.path / "broken.json", "{\"schema\": 1");
  CommandRun r = Report({"--record-dir", folder});
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
  if (Tool("command -v pdftotext pdfinfo").empty()) GTEST_SKIP() << "no poppler-utils";
  TempDir dir;
  const Certificate c = SampleCertificate();
  WriteFile(dir.path / "older.json", RecordToJson(c.history[0]));
  WriteFile(dir.path / "newer.json", RecordToJson(c.run));
  const std::pair<const char*, const char*> papers[] = {{"a4", "595.276 x 841.89 pts (A4)"},
                                                        {"letter", "612 x 792 pts (letter)"}};
  for (const auto& [paper, size] : papers) {
    const std::string pdf = (dir.path / (std::string(paper) + ".pdf")).string();
    const CommandRun r = Report({(dir.path / "newer.json").string(), "-o", pdf, "--paper", paper});
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
