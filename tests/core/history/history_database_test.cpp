#include "core/history/history_database.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/history/calendar.h"
#include "workbook/xls_readback.h"

namespace pyranex::history {
namespace {

LiveRecord MakeRecord(int64_t time, double pac) {
  LiveRecord r;
  r.serialNumber = "000000000001";
  r.ratedPower = 50;
  r.time = time;
  r.utcOffsetSeconds = 3600;
  r.values = {350.1, 230.4, 50.02, pac, 12.3, 12345.6, 321, 4321, 41.5, 2001, -12, 0x80000001, 1};
  return r;
}

TEST(HistoryDatabase, RecordsGoInOnceAndComeBackExactly) {
  test::TempDir dir;
  SqlError error;
  auto db = HistoryDatabase::Open(dir / "history.sqlite", HistoryDatabase::Access::Record, error);
  ASSERT_TRUE(db) << error.text;
  const auto id = db->InverterId("000000000001", 50, "V4.10", error);
  ASSERT_TRUE(id) << error.text;
  LiveRecord first = MakeRecord(1718445600, 4523.7f);  // a float's value, as the engine has it
  first.values[static_cast<size_t>(LiveField::Udc)] = kNoValue;  // cut short
  bool added = false;
  ASSERT_TRUE(db->InsertRecord(*id, first, HistoryDatabase::Keep::All, added, error)) << error.text;
  EXPECT_TRUE(added);
  // The same second again: an import leaves it out, a live record (two polls in one second, a
  // clock set back) is kept after it.
  const LiveRecord again = MakeRecord(1718445600, 1.0);
  ASSERT_TRUE(db->InsertRecord(*id, again, HistoryDatabase::Keep::Unique, added, error));
  EXPECT_FALSE(added);
  ASSERT_TRUE(db->InsertRecord(*id, again, HistoryDatabase::Keep::All, added, error));
  EXPECT_TRUE(added);

  const auto back = db->Records(*id, 1718445600, 1718445601, error);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_DOUBLE_EQ(back[1].Get(LiveField::Pac), 1.0);
  EXPECT_TRUE(std::isnan(back[0].Get(LiveField::Udc)));
  const std::array<double, kLiveFieldCount> want = {
      kNoValue, 230.4, 50.02, 4523.7, 12.3, 12345.6, 321, 4321, 41.5, 2001, -12, 0x80000001, 1};
  for (size_t i = 1; i < kLiveFieldCount; ++i) EXPECT_DOUBLE_EQ(back[0].values[i], want[i]) << i;
  EXPECT_EQ(back[0].utcOffsetSeconds, 3600);
  EXPECT_EQ(back[0].serialNumber, "000000000001");
  EXPECT_EQ(back[0].ratedPower, 50);
  EXPECT_EQ(LocalDayOf(back[0].time, 3600), DayNumber({2024, 6, 15}));
}

TEST(HistoryDatabase, RefusesWhatItMustNotChange) {
  test::TempDir dir;
  SqlError error;
  const auto newer = dir / "newer.sqlite";
  {
    auto db = HistoryDatabase::Open(newer, HistoryDatabase::Access::Record, error);
    ASSERT_TRUE(db);
    ASSERT_TRUE(db->Connection().Exec("INSERT INTO schema_version VALUES(7, 0)", error));
  }
  const std::string before = test::ReadFileBytes(newer);
  EXPECT_FALSE(HistoryDatabase::Open(newer, HistoryDatabase::Access::Record, error));
  EXPECT_NE(error.text.find("newer version"), std::string::npos) << error.text;
  EXPECT_NE(error.text.find("schema 7"), std::string::npos) << error.text;
  EXPECT_EQ(test::ReadFileBytes(newer), before);

  const auto damaged = dir / "damaged.sqlite";
  std::ofstream(damaged) << std::string(8192, 'x');
  EXPECT_FALSE(HistoryDatabase::Open(damaged, HistoryDatabase::Access::Record, error));
  EXPECT_NE(error.text.find("damaged"), std::string::npos) << error.text;
  EXPECT_EQ(test::ReadFileBytes(damaged), std::string(8192, 'x'));

  const auto foreign = dir / "foreign.sqlite";
  {
    auto db = SqlConnection::Open(foreign.string(), SqlConnection::Mode::ReadWrite, error);
    ASSERT_TRUE(db->Exec("CREATE TABLE songs(title TEXT)", error));
  }
  EXPECT_FALSE(HistoryDatabase::Open(foreign, HistoryDatabase::Access::Record, error));
  EXPECT_NE(error.text.find("another program"), std::string::npos) << error.text;

  EXPECT_FALSE(HistoryDatabase::Open(dir / "none.sqlite", HistoryDatabase::Access::Read, error));
  EXPECT_FALSE(std::filesystem::exists(dir / "none.sqlite"));
}

TEST(HistoryDatabase, ThinningKeepsTheFirstRecordOfEachMinute) {
  test::TempDir dir;
  SqlError error;
  auto db = HistoryDatabase::Open(dir / "h.sqlite", HistoryDatabase::Access::Bulk, error);
  ASSERT_TRUE(db);
  const int64_t id = *db->InverterId("000000000001", 50, "", error);
  const int64_t start = 1718445600;  // a whole minute
  bool added;
  for (int64_t t = start; t < start + 600; t += 7) {
    ASSERT_TRUE(db->InsertRecord(id, MakeRecord(t, 100), HistoryDatabase::Keep::All, added, error));
    ASSERT_TRUE(db->InsertRecord(id, MakeRecord(t, 200), HistoryDatabase::Keep::All, added, error));
  }
  EXPECT_EQ(db->ThinRecords(id, start + 300, 5, error), 2 * (300 / 7 + 1) - 5);
  const auto kept = db->Records(id, start, start + 600, error);
  std::vector<int64_t> times;
  for (const auto& r : kept) times.push_back(r.time - start);
  EXPECT_EQ(std::vector<int64_t>(times.begin(), times.begin() + 6),
            (std::vector<int64_t>{0, 63, 126, 182, 245, 301}));
  EXPECT_EQ(db->ThinRecords(id, start + 300, 5, error), 0);  // picks up where it stopped
}

}  // namespace
}  // namespace pyranex::history
