#include "core/workbook/history_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>

#include "sample_log.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

constexpr int64_t kStart = 1322121959;  // 2011-11-24 08:05:59 UTC

class HistoryStoreTest : public ::testing::Test {
 protected:
  test::FakeClock clock_;
  test::RecordingNotifier notifier_;
  test::TempDir exeDir_;
  HistoryStore store_{exeDir_.path(), WorkbookEnv{clock_, notifier_, nullptr}};

  std::filesystem::path File(const std::string& name) const {
    return exeDir_.path() / "hisdata" / (name + ".xls");
  }
};

TEST_F(HistoryStoreTest, NameFromSerialRatedPowerAndStartMinute) {
  struct Case {
    const char* serial;
    int ratedPower;
    int64_t start;
    const char* name;
  };
  const Case cases[] = {
      {"000000000001", 50, kStart, "000000000001,5000,2011-11-24 08-05"},
      {"123456789012", 3, 1322179080, "123456789012,300,2011-11-24 23-58"},
      {"000000000000", 0, 0, "000000000000,0,1970-01-01 00-00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HistoryStore::BuildHistoryName(c.serial, c.ratedPower, c.start, clock_), c.name);
  }
}

TEST_F(HistoryStoreTest, SavesTheWholeDayLogAtOneMinuteSpacing) {
  const DayLog log = test::MakeLog(900, 20000);  // 5 hours at 20 s
  ASSERT_FALSE(std::filesystem::exists(exeDir_.path() / "hisdata"));
  store_.SaveHistory(10, {log, "000000000001", 50, kStart});
  EXPECT_EQ(notifier_.Count(), 0u);
  EXPECT_EQ(store_.HistoryName(), "000000000001,5000,2011-11-24 08-05");
  EXPECT_EQ(store_.ExportPath(), (exeDir_.path() / "hisdata" / store_.HistoryName()).string());
  const auto file = File("000000000001,5000,2011-11-24 08-05");
  for (const auto& book : {test::ReadWithFreeXl(file), test::ReadWithXlrd(file)}) {
    ASSERT_TRUE(book.ok) << book.error;
    EXPECT_EQ(book.cells.at({0, 0, 0}).text, "SN: 000000000001,Model: 5000");
    // Samples 0, 3, 6, ... (60 s apart), 300 rows.
    ASSERT_EQ(book.cells.size(), 15u + 300 * 14);
    for (uint32_t r = 0; r < 300; ++r) {
      const auto expected = test::ExpectedRow(log, r * 3, kStart, clock_);
      for (uint32_t col = 0; col < 14; ++col) {
        ASSERT_EQ(book.cells.at({0, 2 + r, col}), expected[col]) << r << "," << col;
      }
    }
  }
}

TEST_F(HistoryStoreTest, DayChangeSaveGoesIntoThePreviousDaysFile) {
  const int64_t start = 1322179080;  // 2011-11-24 23:58:00
  DayLog log = test::MakeLog(150);   // 23:58:00 .. 23:59:29
  store_.SaveHistory(0, {log, "000000000001", 50, start});
  const auto first = File("000000000001,5000,2011-11-24 23-58");
  ASSERT_TRUE(std::filesystem::exists(first));
  // The save at the first sample of the new day (00:01:00) still goes into the same file.
  log = test::MakeLog(181);
  store_.SaveHistory(2, {log, "000000000001", 50, start});
  EXPECT_EQ(store_.HistoryName(), "000000000001,5000,2011-11-24 23-58");
  const auto book = test::ReadWithXlrd(first);
  ASSERT_TRUE(book.ok);
  EXPECT_EQ(book.cells.at({0, 5, 0}).text, "2011-11-25 00-01-00");  // sample 180 included

  store_.StartNewDayLog();
  EXPECT_EQ(store_.HistoryName(), "");
  store_.SaveHistory(10, {test::MakeLog(20), "000000000001", 50, start + 183});
  EXPECT_EQ(store_.HistoryName(), "000000000001,5000,2011-11-25 00-01");
  EXPECT_TRUE(std::filesystem::exists(File("000000000001,5000,2011-11-25 00-01")));
  EXPECT_EQ(test::ReadWithXlrd(first).cells, book.cells);  // the previous day's file as it was
}

TEST_F(HistoryStoreTest, SaveThatFailsMidwayKeepsThePreviousFile) {
  const DayLog small = test::MakeLog(30);
  store_.SaveHistory(0, {small, "000000000001", 50, kStart});
  const auto file = File("000000000001,5000,2011-11-24 08-05");
  const std::string before = test::ReadFileBytes(file);
  ASSERT_FALSE(before.empty());

  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = 64 * 1024;  // the disk "fills" during the next save
  setrlimit(RLIMIT_FSIZE, &limited);
  store_.SaveHistory(10, {test::MakeLog(5000, 60000), "000000000001", 50, kStart});
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  ASSERT_EQ(notifier_.Count(), 1u);
  const std::string text = notifier_.Notices()[0].text;
  EXPECT_NE(text.find(file.string()), std::string::npos) << text;
  EXPECT_NE(text.find("File too large"), std::string::npos) << text;
  EXPECT_EQ(test::ReadFileBytes(file), before);
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(file.parent_path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST_F(HistoryStoreTest, FolderThatCannotBeCreatedIsReported) {
  // A plain file where the folder should be.
  { std::ofstream(exeDir_.path() / "hisdata") << "x"; }
  store_.SaveHistory(0, {test::MakeLog(3), "000000000001", 50, kStart});
  ASSERT_EQ(notifier_.Count(), 1u);
  EXPECT_NE(notifier_.Notices()[0].text.find("hisdata"), std::string::npos);
}

}  // namespace
}  // namespace pyranex
