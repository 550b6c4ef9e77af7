// Speed of a certificate with history: the record folder holds fifty earlier
// runs of the same 2440 and the newest run, each with every check of the
// menu; one iteration reads the folder and draws the PDF with its trend
// charts, as `kalventa-checkout report --format pdf` does. KC_BENCH_KEEP=1
// keeps the folder (and the PDF) and prints where it is.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/checkout/report_command.h"
#include "record/check_catalogue.h"
#include "record/run_recorder.h"

namespace kc {
namespace {

// A reading a healthy instrument gives, with some scatter and a slow drift.
double Nominal(const ItemEntry& s, double scatter, double drift) {
  if (s.low && s.high) return (*s.low + *s.high) / 2 + (*s.high - *s.low) * (0.2 * scatter + drift);
  if (s.low) return *s.low * (1.07 + 0.02 * scatter - drift / 10);
  return *s.high * (0.2 + 0.1 * scatter + drift);
}

void RecordRun(const std::filesystem::path& folder, std::int64_t start, int index) {
  std::int64_t t = start;
  RunRecorder rec(
      folder, "2.0",
      [&t] {
        return Timestamp{t += 20, 60};
      },
      nullptr);
  rec.BeginRun("prologix://192.168.1.50", 1, "ID TEK/2440,V81.1");
  rec.SetSerial("B040123");
  rec.SetTechnician("R. Example");
  std::uint32_t n = static_cast<std::uint32_t>(index) * 1000u;
  for (const CheckEntry& entry : CheckCatalogue(7)) {
    rec.BeginCheck(entry.name);
    rec.ButtonPressed("    PRESS ANY BEZEL BUTTON WHEN READY", 1);
    for (const ItemEntry& item : entry.items) {
      std::uint32_t h = ++n * 2654435761u;
      h ^= h >> 15;
      h *= 2246822519u;
      h ^= h >> 13;
      const double scatter = static_cast<double>(h >> 8) / (1u << 24) - 0.5;
      const double value = Nominal(item, scatter, index * 0.004);
      const bool pass = (!item.low || value >= *item.low) && (!item.high || value <= *item.high);
      rec.AddReading(item.item, value, pass ? Verdict::kPass : Verdict::kFail);
    }
    rec.EndCheck(CheckEnding::kCompleted);
  }
}

std::filesystem::path MakeFolder(int earlier_runs) {
  char name[] = "/tmp/kc_report_bench_XXXXXX";
  if (mkdtemp(name) == nullptr) return {};
  const std::filesystem::path folder = name;
  const std::int64_t newest = 1796574005;  // 2026-12-06
  for (int i = 0; i <= earlier_runs; ++i) {
    RecordRun(folder, newest - std::int64_t{earlier_runs - i} * 30 * 86400, i);
  }
  return folder;
}

void BM_CertificateWithFiftyEarlierRuns(benchmark::State& state) {
  const std::filesystem::path folder = MakeFolder(50);
  if (folder.empty()) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string pdf = (folder / "certificate.pdf").string();
  const std::string dir = folder.string();
  const char* argv[] = {"report", "--record-dir", dir.c_str(), "-o", pdf.c_str()};
  for (auto _ : state) {
    std::ostringstream out;
    std::ostringstream err;
    if (RunReportCommand(5, argv, out, err) != 0) {
      state.SkipWithError(err.str().c_str());
      break;
    }
  }
  if (std::getenv("KC_BENCH_KEEP") != nullptr) {
    std::cerr << "kept " << pdf << "\n";
  } else {
    std::filesystem::remove_all(folder);
  }
}
BENCHMARK(BM_CertificateWithFiftyEarlierRuns)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kc

BENCHMARK_MAIN();
