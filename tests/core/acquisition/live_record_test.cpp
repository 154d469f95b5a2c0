#include "core/acquisition/live_record.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "core/platform/bounded_worker.h"
#include "support/fake_clock.h"

namespace pyranex::test {
namespace {

TEST(LiveRecordTest, Iso8601WithTheLocalOffset) {
  struct Case {
    int64_t time;
    int32_t offset;
    const char* text;
  } const cases[] = {
      {1322121600, 0, "2011-11-24T08:00:00+00:00"},
      {1322121600, 3600, "2011-11-24T09:00:00+01:00"},
      {1322121600, -9 * 3600 - 1800, "2011-11-23T22:30:00-09:30"},
      {951868799, 0, "2000-02-29T23:59:59+00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatIso8601(c.time, c.offset), c.text) << c.time;
}

TEST(LiveRecordTest, OffsetComesFromTheClockAndShortSeriesGiveNaN) {
  FakeClock clock(1322121600, 0, -5 * 3600);
  EXPECT_EQ(UtcOffsetSeconds(clock, clock.Now()), -5 * 3600);
  DayLog log;
  log.udc = {360.0f};
  log.pac = {1500.0f};
  const LiveRecord record = MakeLiveRecord(log, 0, clock.Now(), clock);
  EXPECT_EQ(record.utcOffsetSeconds, -5 * 3600);
  EXPECT_DOUBLE_EQ(record.Get(LiveField::Pac), 1500.0);
  EXPECT_TRUE(record.Has(LiveField::Udc));
  EXPECT_FALSE(record.Has(LiveField::ETotal));
}

TEST(BoundedWorkerTest, DropsTheOldestWhenFullAndCountsIt) {
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  std::vector<int> handled;
  BoundedWorker<int> worker("test-worker", 3, std::chrono::hours(1), [&](std::vector<int>& batch) {
    entered = true;
    while (!release.load()) std::this_thread::yield();
    handled.insert(handled.end(), batch.begin(), batch.end());
  });
  worker.Push(0);
  while (!entered.load()) std::this_thread::yield();
  // The worker is held inside the batch {0}: everything pushed now queues, three at most.
  for (int i = 1; i <= 5; ++i) worker.Push(i);
  EXPECT_EQ(worker.Dropped(), 2u);
  release = true;
  worker.Flush();
  EXPECT_EQ(handled, (std::vector<int>{0, 3, 4, 5}));
  worker.Stop();
  EXPECT_FALSE(worker.Push(6)) << "a stopped worker takes nothing";
}

}  // namespace
}  // namespace pyranex::test
