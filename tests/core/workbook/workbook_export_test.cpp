#include "core/workbook/workbook_export.h"

#include <gtest/gtest.h>

#include "core/platform/messages.h"
#include "sample_log.h"
#include "support/fake_clock.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

constexpr int64_t kStart = 1322121959;  // 2011-11-24 08:05:59 UTC

ExportParams Params(const std::filesystem::path& path, int from = 0, int to = 1440 * 3,
                    int step = 0) {
  ExportParams p;
  p.serialText = "000000000001";
  p.ratedPower = 50;
  p.startTime = kStart;
  p.fromMin = from;
  p.toMin = to;
  p.stepMin = step;
  p.path = path.string();
  return p;
}

// Checks a written export: A1, the titles, one row per sample, nothing else.
void ExpectWorkbook(const test::ReadBook& book, const DayLog& log, size_t firstSample, size_t rows,
                    const Clock& clock) {
  ASSERT_TRUE(book.ok) << book.error;
  ASSERT_EQ(book.cells.size(), 1 + 14 + rows * 14);
  EXPECT_EQ(book.cells.at({0, 0, 0}).text, "SN: 000000000001,Model: 5000");
  for (uint32_t col = 0; col < 14; ++col) {
    EXPECT_EQ(book.cells.at({0, 1, col}).text, kColumnTitles[col]);
  }
  EXPECT_EQ(book.cells.at({0, 1, 9}).text, "T(°C)");
  for (size_t r = 0; r < rows; ++r) {
    const auto expected = test::ExpectedRow(log, firstSample + r, kStart, clock);
    for (uint32_t col = 0; col < 14; ++col) {
      const auto it = book.cells.find({0, static_cast<uint32_t>(2 + r), col});
      ASSERT_NE(it, book.cells.end()) << r << "," << col;
      ASSERT_EQ(it->second, expected[col]) << "row " << r << " col " << col;
    }
  }
}

class WorkbookExport : public ::testing::Test {
 protected:
  test::FakeClock clock_;
  test::RecordingNotifier notifier_;
  test::QueueSink sink_;
  WorkbookEnv env_{clock_, notifier_, &sink_};
  test::TempDir dir_;
};

class WorkbookSizes : public WorkbookExport, public ::testing::WithParamInterface<size_t> {};

TEST_P(WorkbookSizes, ReadBackCellForCellByFreeXlAndXlrd) {
  const size_t samples = GetParam();
  const DayLog log = test::MakeLog(samples);
  const auto path = dir_ / "export.xls";
  ASSERT_TRUE(WriteWorkbook(log, Params(path), WorkbookMode::Interactive, env_));
  EXPECT_EQ(notifier_.Count(), 0u);
  ExpectWorkbook(test::ReadWithFreeXl(path), log, 0, samples, clock_);
  ExpectWorkbook(test::ReadWithXlrd(path), log, 0, samples, clock_);
  const auto messages = sink_.TakeAll();
  EXPECT_LE(messages.size(), 11u);
  for (const PostedMessage& m : messages) {
    EXPECT_EQ(m.message, WM_EXPORT_PROGRESS);
    EXPECT_EQ(m.lParam, static_cast<intptr_t>(samples));
    EXPECT_LT(m.wParam, samples);
  }
  if (samples > 10) {
    EXPECT_GE(messages.size(), 10u);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, WorkbookSizes, ::testing::Values(1, 1440, 65530));

TEST_F(WorkbookExport, RowLimitAndFileOverSevenMegabytes) {
  const DayLog log = test::MakeLog(66000);
  const auto path = dir_ / "full.xls";
  ASSERT_TRUE(WriteWorkbook(log, Params(path), WorkbookMode::History, env_));
  EXPECT_GT(std::filesystem::file_size(path), 7143424u);  // needs DIFAT sectors
  const auto book = test::ReadWithFreeXl(path);
  ExpectWorkbook(book, log, 0, 65530, clock_);
  EXPECT_EQ(book.cells.rbegin()->first, std::make_tuple(0, 65531u, 13u));
  EXPECT_TRUE(sink_.TakeAll().empty());  // the history mode posts nothing
}

TEST_F(WorkbookExport, PathExtensions) {
  const DayLog log = test::MakeLog(3);
  const std::pair<const char*, const char*> cases[] = {
      {"a.xls", "a.xls"}, {"b.XLS", "b.XLS"}, {"c.Xls", "c.Xls.xls"}, {"d", "d.xls"}};
  for (const auto& [chosen, saved] : cases) {
    ASSERT_TRUE(WriteWorkbook(log, Params(dir_ / chosen), WorkbookMode::History, env_));
    EXPECT_TRUE(std::filesystem::exists(dir_ / saved)) << chosen;
    ExpectWorkbook(test::ReadWithXlrd(dir_ / saved), log, 0, 3, clock_);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "c.Xls"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "d"));
}

TEST_F(WorkbookExport, FromLaterThanToWritesOnlyTheHeaderRows) {
  const DayLog log = test::MakeLog(600);
  const auto path = dir_ / "empty.xls";
  ASSERT_TRUE(WriteWorkbook(log, Params(path, 8, 2), WorkbookMode::Interactive, env_));
  ExpectWorkbook(test::ReadWithFreeXl(path), log, 0, 0, clock_);
  ExpectWorkbook(test::ReadWithXlrd(path), log, 0, 0, clock_);
  EXPECT_TRUE(sink_.TakeAll().empty());
}

TEST_F(WorkbookExport, RangeAndStepInTheFile) {
  const DayLog log = test::MakeLog(3600);  // one hour at 1 s
  const auto path = dir_ / "range.xls";
  ASSERT_TRUE(WriteWorkbook(log, Params(path, 10, 40, 10), WorkbookMode::Interactive, env_));
  const auto book = test::ReadWithXlrd(path);
  // Samples 600 (10 min) .. 2399: the first one 10 min after sample 599, then every 600.
  ASSERT_TRUE(book.ok) << book.error;
  EXPECT_EQ(book.cells.size(), 15u + 3 * 14);
  const std::vector<size_t> samples = {1199, 1799, 2399};
  for (size_t r = 0; r < samples.size(); ++r) {
    EXPECT_EQ(book.cells.at({0, static_cast<uint32_t>(2 + r), 0}),
              test::ExpectedRow(log, samples[r], kStart, clock_)[0]);
  }
}

TEST_F(WorkbookExport, FailedSaveIsReportedAndThePreviousFileStays) {
  const auto path = dir_ / "day.xls";
  ASSERT_TRUE(WriteWorkbook(test::MakeLog(5), Params(path), WorkbookMode::History, env_));
  const std::string before = test::ReadFileBytes(path);

  // The target is now a folder: the rename cannot replace it.
  const auto blocked = dir_ / "blocked.xls";
  std::filesystem::create_directory(blocked);
  EXPECT_FALSE(WriteWorkbook(test::MakeLog(9), Params(blocked), WorkbookMode::History, env_));
  // A folder that does not exist.
  const auto missing = dir_ / "missing" / "x";
  EXPECT_FALSE(WriteWorkbook(test::MakeLog(9), Params(missing), WorkbookMode::History, env_));

  const auto notices = notifier_.Notices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_NE(notices[0].text.find(blocked.string()), std::string::npos) << notices[0].text;
  EXPECT_NE(notices[0].text.find("cannot replace"), std::string::npos) << notices[0].text;
  EXPECT_NE(notices[1].text.find(missing.string() + ".xls"), std::string::npos);
  EXPECT_NE(notices[1].text.find("No such file or directory"), std::string::npos);
  EXPECT_EQ(test::ReadFileBytes(path), before);
}

TEST_F(WorkbookExport, WriterThatCannotStart) {
  WorkbookEnv env{clock_, notifier_, &sink_, [] { return std::unique_ptr<XlsWriter>(); }};
  const auto path = dir_ / "never.xls";
  EXPECT_FALSE(WriteWorkbook(test::MakeLog(5), Params(path), WorkbookMode::Interactive, env));
  ASSERT_EQ(notifier_.Count(), 1u);
  EXPECT_EQ(notifier_.Notices()[0].text, "Couldn't start Excel and get Application object.");
  EXPECT_EQ(notifier_.Notices()[0].buttons, NoticeButtons::Ok);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(sink_.TakeAll().empty());
}

}  // namespace
}  // namespace pyranex
