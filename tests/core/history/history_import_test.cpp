#include "core/history/history_import.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/history/calendar.h"
#include "core/history/history_database.h"
#include "core/history/history_workbook.h"
#include "core/history/local_time_resolver.h"
#include "core/history/periods.h"
#include "core/workbook/history_store.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"
#include "workbook/xls_readback.h"

namespace pyranex::history {
namespace {

constexpr int64_t k0600 = 1718431200;  // 2024-06-15 06:00 UTC

// A day log of `n` samples a minute apart whose "Today" counter starts at `eStart`.
DayLog Samples(size_t n, float eStart) {
  DayLog log;
  for (size_t i = 0; i < n; ++i) {
    const auto k = static_cast<uint32_t>(i);
    log.tickMs.push_back(1000 + k * 60000);
    log.udc.push_back(300.0f);
    log.uac.push_back(230.0f);
    log.freq.push_back(50.0f);
    log.pac.push_back(1000.0f + static_cast<float>(k));
    log.eToday.push_back(eStart + static_cast<float>(k) * 0.1f);
    log.eTotal.push_back(5000.0f);
    log.tToday.push_back(k);
    log.tTotal.push_back(100);
    log.temp.push_back(30.0f);
    log.iacShift.push_back(1);
    log.dci.push_back(2.0f);
    log.state1.push_back(0);
    log.state2.push_back(1);
  }
  return log;
}

class HistoryImportTest : public ::testing::Test {
 protected:
  // The history workbook the program saves for a day log started at `start`.
  void Save(int64_t start, const DayLog& log) {
    HistoryStore store(dir.path(), WorkbookEnv{clock, notifier, nullptr});
    store.SaveHistory(0, {log, "000000000001", 50, start});
    ASSERT_EQ(notifier.Count(), 0u);
  }
  ImportReport Import() {
    std::vector<ImportProblem> problems;
    const auto books = FindWorkbooks({dir / "hisdata"}, problems);
    EXPECT_TRUE(problems.empty());
    HistoryImporter importer(dir / "history.sqlite", clock);
    return importer.Run(books, {});
  }
  std::vector<DaySummary> Days() {
    SqlError error;
    auto db = HistoryDatabase::Open(dir / "history.sqlite", HistoryDatabase::Access::Read, error);
    return db->DaySummaries(1, 0, 100000, error);
  }

  test::TempDir dir;
  test::FakeClock clock{k0600, 1000, 7200};  // local time UTC+2
  test::RecordingNotifier notifier;
};

TEST_F(HistoryImportTest, MergesRestartsOnceAndSkipsWhatItCannotRead) {
  Save(k0600, Samples(120, 0.0f));             // 08:00-09:59 local, counter 0.0 .. 11.9
  Save(k0600 + 4 * 3600, Samples(60, 24.0f));  // restarted at 12:00, counter 24.0 .. 29.9
  Save(k0600 + 86400, Samples(10, 0.0f));      // the next day
  const auto hisdata = dir / "hisdata";
  std::filesystem::copy_file(hisdata / "000000000001,5000,2024-06-16 08-00.xls",
                             hisdata / "damaged.xls");
  std::filesystem::resize_file(hisdata / "damaged.xls", 3000);
  {
    auto writer = XlsWriter::Start();
    writer->NewWorkbook();
    writer->FirstSheet();
    writer->PutCellText("A1", "Shopping list");
    ASSERT_EQ(writer->SaveAs(hisdata / "foreign.xls"), "");
  }

  const ImportReport first = Import();
  ASSERT_TRUE(first.Ok()) << first.failure;
  EXPECT_EQ(first.workbooks, 5u);
  EXPECT_EQ(first.imported, 3u);
  EXPECT_EQ(first.recordsAdded, 190u);
  ASSERT_EQ(first.skipped.size(), 2u);
  EXPECT_EQ(first.skipped[0].name, "damaged.xls");
  EXPECT_EQ(first.skipped[1].name, "foreign.xls");
  EXPECT_NE(first.skipped[1].reason.find("not a history workbook"), std::string::npos);

  const auto days = Days();
  ASSERT_EQ(days.size(), 2u);
  EXPECT_EQ(days[0].day, DayNumber({2024, 6, 15}));
  EXPECT_EQ(days[0].records, 180);
  // Both workbooks of the day count: the counter's 29.9 kWh, the restart gap included.
  EXPECT_NEAR(days[0].yieldKwh, 29.9, 1e-4);
  EXPECT_DOUBLE_EQ(days[0].peakW, 1119.0);
  EXPECT_EQ(FormatClock(LocalSecondOfDay(days[0].peakTime, days[0].peakOffset)), "09:59:00");
  EXPECT_NEAR(days[1].yieldKwh, 0.9, 1e-4);

  const ImportReport again = Import();
  EXPECT_EQ(again.recordsAdded, 0u);
  EXPECT_EQ(again.recordsPresent, 190u);
  const auto daysAgain = Days();
  ASSERT_EQ(daysAgain.size(), 2u);
  EXPECT_DOUBLE_EQ(daysAgain[0].yieldKwh, days[0].yieldKwh);
  EXPECT_EQ(daysAgain[0].records, days[0].records);
}

TEST_F(HistoryImportTest, AnExportedDayReadsBackAsTheSameRecords) {
  std::vector<LiveRecord> records;
  for (int i = 0; i < 3; ++i) {
    LiveRecord& r = records.emplace_back();
    r.time = k0600 + i * 61;
    r.utcOffsetSeconds = 7200;
    r.values = {350.1, 230.4, 50.02, 1234.5 + i, 1.2, 5000.3, 7, 100, 41.5, 2001, -3, 1, 1};
  }
  records[1].values[static_cast<size_t>(LiveField::Temp)] = kNoValue;  // cut short
  ExportParams params;
  params.serialText = "000000000001";
  params.ratedPower = 50;
  params.startTime = records.front().time;
  params.toMin = 1440;
  params.path = (dir / "day").string();
  ASSERT_TRUE(WriteWorkbook(DayLogOf(records), params, WorkbookMode::History,
                            WorkbookEnv{clock, notifier, nullptr}));
  HistoryWorkbook back;
  std::string why;
  ASSERT_TRUE(ReadHistoryWorkbook(dir / "day.xls", clock, back, why)) << why;
  ASSERT_EQ(back.records.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back.records[i].time, records[i].time);
    EXPECT_EQ(back.records[i].utcOffsetSeconds, 7200);
    EXPECT_EQ(RecordCsvRow(back.records[i]), RecordCsvRow(records[i])) << i;
  }
  const test::ReadBook book = test::ReadWithFreeXl(dir / "day.xls");
  EXPECT_EQ(book.cells.count({0, 3, 9}), 0u);  // the missing temperature: an empty cell
}

// Central European time: +1 h, and +2 h from the last Sunday of March to that of October
// (clocks go back at 01:00 UTC).
class DstClock final : public Clock {
 public:
  static constexpr int64_t kBack = 1729990800;  // 2024-10-27 01:00 UTC
  uint32_t TickCount() const override { return 0; }
  int64_t Now() const override { return kBack; }
  std::tm ToLocal(int64_t s) const override {
    const std::time_t t = static_cast<std::time_t>(s + (s < kBack ? 7200 : 3600));
    std::tm local{};
    gmtime_r(&t, &local);
    return local;
  }
  int64_t FromLocal(std::tm local) const override {
    local.tm_isdst = 0;
    const int64_t asUtc = timegm(&local);
    return asUtc - 7200 < kBack ? asUtc - 7200 : asUtc - 3600;
  }
  void SleepMs(uint32_t) override {}
};

TEST(LocalTimeResolver, TheRepeatedHourFollowsTheRowOrder) {
  DstClock clock;
  LocalTimeResolver resolver(clock);
  const CivilDate date{2024, 10, 27};
  const auto a = resolver.Resolve(date, 2, 30, 0, 0);  // first 02:30, summer time
  EXPECT_EQ(a.utc, DstClock::kBack - 1800);
  EXPECT_EQ(a.offset, 7200);
  const auto b = resolver.Resolve(date, 2, 10, 0, a.utc);  // 02:10 again, an hour later
  EXPECT_EQ(b.utc, DstClock::kBack + 600);
  EXPECT_EQ(b.offset, 3600);
  const auto c = resolver.Resolve(date, 4, 0, 0, b.utc);
  EXPECT_EQ(c.utc, DstClock::kBack + 2 * 3600);
}

}  // namespace
}  // namespace pyranex::history
