#include "core/history/history_recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/history/calendar.h"
#include "core/history/history_database.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "workbook/xls_readback.h"

namespace pyranex::history {
namespace {

constexpr int64_t kMidnight = 1718402400;  // 2024-06-15 00:00 at UTC+2

LiveRecord At(int64_t time, double pac, double eToday) {
  LiveRecord r;
  r.serialNumber = "000000000001";
  r.ratedPower = 50;
  r.firmwareVersion = "V4.10";
  r.time = time;
  r.utcOffsetSeconds = 7200;
  r.values.fill(1.0);
  r.values[static_cast<size_t>(LiveField::Pac)] = pac;
  r.values[static_cast<size_t>(LiveField::EToday)] = eToday;
  r.values[static_cast<size_t>(LiveField::TToday)] = kNoValue;
  return r;
}

class RecorderTest : public ::testing::Test {
 protected:
  HistoryRecorder::Options Options(std::filesystem::path file) {
    HistoryRecorder::Options o;
    o.file = std::move(file);
    o.clock = &clock;
    o.wakeInterval = std::chrono::milliseconds(5);
    o.onProblem = [this](const std::string& text) {
      std::lock_guard lock(mutex);
      problems.push_back(text);
    };
    o.onRecovered = [this](const std::string&) { ++recoveries; };
    return o;
  }
  std::vector<DaySummary> Days(const std::filesystem::path& file) {
    SqlError error;
    auto db = HistoryDatabase::Open(file, HistoryDatabase::Access::Read, error);
    EXPECT_TRUE(db) << error.text;
    return db ? db->DaySummaries(1, 0, 100000, error) : std::vector<DaySummary>{};
  }

  test::TempDir dir;
  test::FakeClock clock;
  std::mutex mutex;
  std::vector<std::string> problems;
  std::atomic<int> recoveries{0};
};

TEST_F(RecorderTest, CommitsOnItsOwnWithinTheIntervalAndKeepsDayTotals) {
  const auto file = dir / "hisdata" / "history.sqlite";
  HistoryRecorder recorder(Options(file));
  // 23:00 to 01:00 local with the clock set back an hour at 00:30: a day change in between.
  recorder.Accept(At(kMidnight - 3600, 0, 20.0));
  recorder.Accept(At(kMidnight - 1, 0, 20.5));
  recorder.Accept(At(kMidnight + 10, 0, 0.0));
  recorder.Accept(At(kMidnight + 1800, 0, 0.2));
  recorder.Accept(At(kMidnight - 1800 + 1, 0, 0.2));  // the clock back: yesterday again
  recorder.Accept(At(kMidnight + 3600, 0, 0.3));
  EXPECT_TRUE(test::Eventually([&] { return recorder.Status().backlog == 6; }));
  EXPECT_EQ(recorder.Status().stored, 0u);
  clock.Advance(15'000);
  ASSERT_TRUE(test::Eventually([&] { return recorder.Status().stored == 6; }));

  const auto days = Days(file);
  ASSERT_EQ(days.size(), 2u);
  EXPECT_EQ(days[0].day, DayNumber({2024, 6, 14}));
  EXPECT_EQ(days[0].records, 3);
  EXPECT_NEAR(days[0].yieldKwh, 20.5, 1e-9);
  EXPECT_EQ(days[1].records, 3);
  EXPECT_NEAR(days[1].yieldKwh, 0.3, 1e-9);

  // A restart: a new recorder goes on from the stored records of the day.
  recorder.Accept(At(kMidnight + 7200, 0, 0.6));
  ASSERT_TRUE(recorder.Sync());
  HistoryRecorder second(Options(file));
  second.Accept(At(kMidnight + 3 * 3600, 0, 1.0));
  ASSERT_TRUE(second.Sync());
  EXPECT_NEAR(Days(file)[1].yieldKwh, 1.0, 1e-9);
  EXPECT_TRUE(problems.empty());
}

TEST_F(RecorderTest, AStoreThatCannotBeWrittenIsReportedOnceAndLosesNothing) {
  // A file where the folder should be: nothing can be created there, not even by root.
  std::ofstream(dir / "hisdata") << "in the way";
  const auto file = dir / "hisdata" / "history.sqlite";
  HistoryRecorder recorder(Options(file));
  recorder.Accept(At(kMidnight + 3600, 100, 0.1));
  EXPECT_FALSE(recorder.Sync());
  recorder.Accept(At(kMidnight + 3601, 100, 0.1));
  EXPECT_FALSE(recorder.Sync());
  {
    std::lock_guard lock(mutex);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(file.string()), std::string::npos) << problems[0];
  }
  RecorderStatus status = recorder.Status();
  EXPECT_FALSE(status.writing);
  EXPECT_EQ(status.backlog, 2u);

  std::filesystem::remove(dir / "hisdata");
  ASSERT_TRUE(recorder.Sync());
  status = recorder.Status();
  EXPECT_TRUE(status.writing);
  EXPECT_EQ(status.stored, 2u);
  EXPECT_EQ(status.dropped, 0u);
  EXPECT_EQ(recoveries.load(), 1);
  EXPECT_EQ(Days(file).at(0).records, 2);
}

TEST_F(RecorderTest, TheMemoryBacklogIsBoundedAndCountsWhatItDrops) {
  std::ofstream(dir / "hisdata") << "in the way";
  HistoryRecorder::Options options = Options(dir / "hisdata" / "history.sqlite");
  options.backlogCapacity = 3;
  HistoryRecorder recorder(options);
  for (int i = 0; i < 5; ++i) recorder.Accept(At(kMidnight + 3600 + i, 100, 0.1));
  recorder.Sync();
  EXPECT_EQ(recorder.Status().backlog, 3u);
  EXPECT_EQ(recorder.Status().dropped, 2u);
}

TEST_F(RecorderTest, TwoProgramsShareOneStore) {
  // The window and `pyranex-cli poll`, each with its own inverter, committing at the same time.
  const auto file = dir / "history.sqlite";
  HistoryRecorder first(Options(file));
  HistoryRecorder second(Options(file));
  for (int i = 0; i < 300; ++i) {
    LiveRecord a = At(kMidnight + 36000 + i, 1000, 0.1);
    LiveRecord b = a;
    b.serialNumber = "000000000002";
    first.Accept(a);
    second.Accept(b);
    if (i % 50 == 49) {
      std::thread other([&] { second.Sync(); });
      first.Sync();
      other.join();
    }
  }
  ASSERT_TRUE(first.Sync());
  ASSERT_TRUE(second.Sync());
  SqlError error;
  auto db = HistoryDatabase::Open(file, HistoryDatabase::Access::Read, error);
  ASSERT_EQ(db->Inverters(error).size(), 2u);
  for (int64_t id : {1, 2}) EXPECT_EQ(db->DaySummaries(id, 0, 100000, error).at(0).records, 300);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

}  // namespace
}  // namespace pyranex::history
