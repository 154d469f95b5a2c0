// History save of a day at one-minute spacing and a full-size export, each written and flushed
// exactly as the program does it: to the temporary folder's disk (argument 0), where the flush
// waits for the device, and to /dev/shm (argument 1), where it does not, which leaves the
// writer's own cost.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include "core/workbook/history_store.h"
#include "core/workbook/sample_log.h"
#include "core/workbook/workbook_export.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

class CountingSink final : public MessageSink {
 public:
  void Post(uint32_t, uintptr_t, intptr_t) override { ++posted; }
  size_t posted = 0;
};

// A fresh folder on disk or in memory, removed afterwards.
class BenchDir {
 public:
  explicit BenchDir(bool inMemory) {
    if (inMemory && std::filesystem::is_directory("/dev/shm")) {
      path_ = "/dev/shm/pyranex-bench-" + std::to_string(::getpid());
      std::filesystem::create_directories(path_);
    } else {
      path_ = disk_.path();
    }
  }
  ~BenchDir() {
    std::error_code ec;
    if (path_ != disk_.path()) std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  test::TempDir disk_;
  std::filesystem::path path_;
};

void BM_HistorySave1440Rows(benchmark::State& state) {
  test::FakeClock clock;
  test::RecordingNotifier notifier;
  BenchDir dir(state.range(0) == 1);
  HistoryStore store(dir.path(), WorkbookEnv{clock, notifier, nullptr});
  const DayLog log = test::MakeLog(1440, 60000);
  for (auto _ : state) store.SaveHistory(10, {log, "000000000001", 50, 1322121959});
  if (notifier.Count() != 0) state.SkipWithError("save failed");
  state.SetItemsProcessed(state.iterations() * 1440);
}
BENCHMARK(BM_HistorySave1440Rows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Export65530Rows(benchmark::State& state) {
  test::FakeClock clock;
  test::RecordingNotifier notifier;
  CountingSink sink;
  BenchDir dir(state.range(0) == 1);
  const DayLog log = test::MakeLog(65530);
  ExportParams params;
  params.serialText = "000000000001";
  params.ratedPower = 50;
  params.startTime = 1322121959;
  params.fromMin = 0;
  params.toMin = 1440;
  params.path = (dir.path() / "export.xls").string();
  const WorkbookEnv env{clock, notifier, &sink};
  for (auto _ : state) WriteWorkbook(log, params, WorkbookMode::Interactive, env);
  if (notifier.Count() != 0) state.SkipWithError("export failed");
  state.SetItemsProcessed(state.iterations() * 65530);
}
BENCHMARK(BM_Export65530Rows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pyranex

BENCHMARK_MAIN();
