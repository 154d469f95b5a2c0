#include <gtest/gtest.h>

#include "core/platform/messages.h"
#include "core/workbook/workbook_export.h"
#include "sample_log.h"
#include "support/fake_clock.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

ExportParams Params(const std::filesystem::path& path) {
  ExportParams p;
  p.serialText = "000000000042";
  p.ratedPower = 30;
  p.startTime = 1322121959;
  p.fromMin = 0;
  p.toMin = 1440;
  p.stepMin = 0;
  p.path = path.string();
  return p;
}

class ExportThreadTest : public ::testing::Test {
 protected:
  test::FakeClock clock_;
  test::RecordingNotifier notifier_;
  test::QueueSink sink_;
  WorkbookEnv env_{clock_, notifier_, &sink_};
  test::TempDir dir_;
};

// The interface thread keeps appending to its day log, and clears it, while the export runs on
// its snapshot.
TEST_F(ExportThreadTest, WritesTheSnapshotAndPostsDoneLast) {
  DayLog live = test::MakeLog(2000);
  ExportParams params = Params(dir_ / "snap");
  ExportJob job{live, params};
  const DayLog snapshot = live;

  ExportThread thread;
  ASSERT_TRUE(thread.Start(std::move(job), env_));
  EXPECT_TRUE(thread.Running());
  EXPECT_FALSE(thread.Start(ExportJob{live, params}, env_));  // one export at a time
  for (int i = 0; i < 500; ++i) {
    live.tickMs.push_back(live.tickMs.back() + 1000);
    live.udc.push_back(1.0f);
  }
  live.Clear();
  params.path = "/nowhere";

  ASSERT_TRUE(sink_.WaitForCount(1));
  std::vector<PostedMessage> messages;
  while (messages.empty() || messages.back().message != WM_EXPORT_DONE) {
    ASSERT_TRUE(sink_.WaitForCount(1));
    const auto m = sink_.Take();
    messages.push_back(*m);
  }
  thread.Join();
  EXPECT_FALSE(thread.Running());
  EXPECT_EQ(messages.back(), (PostedMessage{WM_EXPORT_DONE, 0, 0}));
  EXPECT_EQ(messages.size(), 11u);  // ten progress messages, then done
  for (size_t k = 0; k + 1 < messages.size(); ++k) {
    EXPECT_EQ(messages[k], (PostedMessage{WM_EXPORT_PROGRESS, k * 200, 2000}));
  }
  EXPECT_EQ(notifier_.Count(), 0u);

  const auto book = test::ReadWithFreeXl(dir_ / "snap.xls");
  ASSERT_TRUE(book.ok) << book.error;
  EXPECT_EQ(book.cells.size(), 15u + 2000 * 14);
  EXPECT_EQ(book.cells.at({0, 0, 0}).text, "SN: 000000000042,Model: 3000");
  EXPECT_EQ(book.cells.at({0, 2001, 1}), test::ExpectedRow(snapshot, 1999, 1322121959, clock_)[1]);

  // Once joined, the next export may start.
  ASSERT_TRUE(thread.Start(ExportJob{test::MakeLog(3), Params(dir_ / "next.xls")}, env_));
  thread.Join();
  EXPECT_TRUE(std::filesystem::exists(dir_ / "next.xls"));
}

TEST_F(ExportThreadTest, FailedExportIsReportedAndStillEnds) {
  {
    ExportThread thread;
    ASSERT_TRUE(thread.Start(ExportJob{test::MakeLog(5), Params(dir_ / "no" / "such.xls")}, env_));
    ASSERT_TRUE(notifier_.WaitForCount(1));
  }  // the destructor joins
  const auto messages = sink_.TakeAll();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], (PostedMessage{WM_EXPORT_DONE, 0, 0}));
  const std::string text = notifier_.Notices()[0].text;
  EXPECT_NE(text.find((dir_ / "no" / "such.xls").string()), std::string::npos) << text;
}

TEST_F(ExportThreadTest, WriterThatCannotStartStillEnds) {
  WorkbookEnv env{clock_, notifier_, &sink_, [] { return std::unique_ptr<XlsWriter>(); }};
  EXPECT_EQ(ExportThreadProc(ExportJob{test::MakeLog(5), Params(dir_ / "x.xls")}, env), 0);
  EXPECT_EQ(notifier_.Notices().at(0).text, "Couldn't start Excel and get Application object.");
  EXPECT_EQ(sink_.TakeAll(), (std::vector<PostedMessage>{{WM_EXPORT_DONE, 0, 0}}));
}

}  // namespace
}  // namespace pyranex
