// Checkout records: the JSON layout against a document written by hand,
// unreadable files named and left alone, filing that survives a kill. (A
// folder that cannot take the record is the program's test, in
// checkout_record_test.cc.)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "gtest/gtest.h"
#include "record/record_fixture.h"
#include "record/record_folder.h"

namespace kc {
namespace {

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
  double elapsed = 100;
  const auto clock_times = TimesFromClock({1796574005, 60}, [&elapsed] { return elapsed; });
  for (const auto& [seconds, expected] : std::vector<std::pair<double, std::int64_t>>{
           {100, 1796574005}, {190.9, 1796574095}, {50, 1796574005}, {NAN, 1796574005}}) {
    elapsed = seconds;
    EXPECT_EQ(clock_times(), (Timestamp{expected, 60})) << seconds;
  }
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
  using Check = std::pair<std::optional<Verdict>, CheckEnding>;
  const Check pass{Verdict::kPass, CheckEnding::kCompleted};
  const Check fail{Verdict::kFail, CheckEnding::kCompleted};
  const std::pair<std::vector<Check>, Overall> runs[] = {
      {{}, Overall::kNoChecks},
      {{fail, pass}, Overall::kPass},
      {{pass, fail}, Overall::kFail},
      {{pass, {std::nullopt, CheckEnding::kLeft}}, Overall::kIncomplete}};
  for (const auto& [checks, overall] : runs) {
    RunRecord run;
    for (const auto& [verdict, ending] : checks) {
      run.checks.emplace_back().name = "calibrator";
      run.checks.back().verdict = verdict;
      run.checks.back().ending = ending;
    }
    EXPECT_EQ(OverallVerdict(run), overall);
  }
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

TEST(RunRecorderTest, KillNineWhileFilingLeavesTheLastFiledRunReadable) {
  TempDir dir;
  constexpr int kReadings = 8000;  // a few megabytes per filing
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
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
  // Once the third filing has begun the first two have ended (a child that
  // dies early closes the pipe).
  char c = 0;
  int filings = 0;
  while (filings < 3 && read(pipe_fds[0], &c, 1) == 1) ++filings;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(pipe_fds[0]);
  ASSERT_EQ(filings, 3);

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

}  // namespace
}  // namespace kc
