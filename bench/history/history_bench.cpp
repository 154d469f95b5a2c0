// The history store's costs: importing ten years of daily history workbooks (goal: under a
// minute), what a year of records takes on disk, and the recorder's work per record.
#include <benchmark/benchmark.h>

#include "core/history/calendar.h"
#include "core/history/history_database.h"
#include "core/history/history_import.h"
#include "core/history/history_recorder.h"
#include "core/history/history_workbook.h"
#include "core/workbook/history_store.h"
#include "history_fill.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"
#include "workbook/xls_readback.h"

namespace pyranex::history {
namespace {

constexpr int kTenYears = 3650;

// A day as the program saves it: a sample a minute from 05:30 to 18:30.
DayLog DayOfSamples(int day) {
  DayLog log;
  for (uint32_t k = 0; k < 781; ++k) {
    const float x = static_cast<float>(k) / 780.0f;
    const float pac = 4500.0f * std::sin(3.14159f * x) * (0.5f + static_cast<float>(day % 7) / 12);
    log.tickMs.push_back(k * 60000);
    log.udc.push_back(350.0f + x);
    log.uac.push_back(230.1f);
    log.freq.push_back(50.01f);
    log.pac.push_back(std::round(pac * 10) / 10);
    log.eToday.push_back(std::round(x * 250) / 10);
    log.eTotal.push_back(10000.0f + static_cast<float>(day) * 20 + x * 25);
    log.tToday.push_back(k);
    log.tTotal.push_back(5000 + static_cast<uint32_t>(day) * 13);
    log.temp.push_back(35.5f);
    log.iacShift.push_back(2001);
    log.dci.push_back(3.0f);
    log.state1.push_back(0);
    log.state2.push_back(1);
  }
  return log;
}

// Ten years of daily workbooks, written once by our own writer.
const std::filesystem::path& TenYearsOfWorkbooks() {
  static test::TempDir dir;
  static bool made = false;
  if (!made) {
    test::FakeClock clock;
    test::RecordingNotifier notifier;
    for (int day = 0; day < kTenYears; ++day) {
      HistoryStore store(dir.path(), WorkbookEnv{clock, notifier, nullptr});
      const int64_t start = (DayNumber({2015, 1, 1}) + day) * 86400 + 5 * 3600 + 1800;
      store.SaveHistory(0, {DayOfSamples(day), "000000000001", 50, start});
    }
    made = true;
  }
  return dir.path();
}

void BM_Import3650DailyWorkbooks(benchmark::State& state) {
  const auto folder = TenYearsOfWorkbooks() / "hisdata";
  std::vector<ImportProblem> problems;
  const auto workbooks = FindWorkbooks({folder}, problems);
  test::FakeClock clock;
  for (auto _ : state) {
    state.PauseTiming();
    test::TempDir store;
    state.ResumeTiming();
    HistoryImporter importer(store / "history.sqlite", clock);
    const ImportReport report = importer.Run(workbooks, {});
    if (report.imported != kTenYears) state.SkipWithError("not every workbook went in");
    state.counters["records"] = static_cast<double>(report.recordsAdded);
    state.counters["store_MB"] =
        static_cast<double>(std::filesystem::file_size(store / "history.sqlite")) / 1e6;
  }
}
BENCHMARK(BM_Import3650DailyWorkbooks)->Unit(benchmark::kSecond)->Iterations(1);

// The reading alone (FreeXL behind the structure check, the rows turned into records), which
// the import overlaps with the writing.
void BM_Read3650DailyWorkbooks(benchmark::State& state) {
  const auto folder = TenYearsOfWorkbooks() / "hisdata";
  std::vector<ImportProblem> problems;
  const auto workbooks = FindWorkbooks({folder}, problems);
  test::FakeClock clock;
  for (auto _ : state) {
    HistoryWorkbook workbook;
    std::string why;
    size_t records = 0;
    for (const auto& path : workbooks) {
      if (ReadHistoryWorkbook(path, clock, workbook, why)) records += workbook.records.size();
    }
    state.counters["records"] = static_cast<double>(records);
  }
}
BENCHMARK(BM_Read3650DailyWorkbooks)->Unit(benchmark::kSecond)->Iterations(1);

// A year of records on disk: one a minute (kept for ever) and one a second (kept two weeks).
void BM_StoreSizePerYear(benchmark::State& state) {
  const int step = static_cast<int>(state.range(0));
  const int days = step == 1 ? 14 : 365;
  for (auto _ : state) {
    test::TempDir dir;
    FillOptions fill;
    fill.store = dir / "history.sqlite";
    fill.firstDay = DayNumber({2025, 1, 1});
    fill.lastDay = fill.firstDay + days - 1;
    fill.stepSeconds = step;
    std::string why;
    const int64_t records = FillSimulatedDays(fill, why);
    if (records < 0) state.SkipWithError(why.c_str());
    {
      SqlError error;
      auto db = HistoryDatabase::Open(fill.store, HistoryDatabase::Access::Bulk, error);
      db->Connection().Exec("PRAGMA wal_checkpoint(TRUNCATE)", error);
    }
    const double bytes = static_cast<double>(std::filesystem::file_size(fill.store));
    state.counters["days"] = days;
    state.counters["records"] = static_cast<double>(records);
    state.counters["bytes_per_record"] = bytes / static_cast<double>(records);
    state.counters["MB"] = bytes / 1e6;
    state.counters["MB_per_year"] = bytes / 1e6 * 365.0 / days;
  }
}
BENCHMARK(BM_StoreSizePerYear)->Arg(60)->Arg(1)->Unit(benchmark::kSecond)->Iterations(1);

// What the recorder's thread spends per live record, committed as it commits (a batch of
// fifteen, the records of its commit interval), each commit on the disk.
void BM_RecorderCommitOf15Records(benchmark::State& state) {
  test::TempDir dir;
  test::FakeClock clock;
  HistoryRecorder::Options options;
  options.file = dir / "history.sqlite";
  options.clock = &clock;
  HistoryRecorder recorder(options);
  LiveRecord r;
  r.serialNumber = "000000000001";
  r.ratedPower = 50;
  r.values.fill(1.0);
  int64_t t = DayNumber({2025, 6, 1}) * 86400 + 6 * 3600;
  for (auto _ : state) {
    for (int i = 0; i < 15; ++i) {
      r.time = ++t;
      recorder.Accept(r);
    }
    recorder.Sync();
  }
  state.SetItemsProcessed(state.iterations() * 15);
}
BENCHMARK(BM_RecorderCommitOf15Records)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pyranex::history

BENCHMARK_MAIN();
