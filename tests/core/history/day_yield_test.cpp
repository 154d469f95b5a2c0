#include "core/history/day_yield.h"

#include <gtest/gtest.h>

#include <vector>

namespace pyranex::history {
namespace {

constexpr int64_t kDay = 19'889;  // 2024-06-15
constexpr int64_t kMidnight = kDay * 86400;
constexpr double N = kNoValue;

struct Row {
  int64_t secondOfDay;
  double pacW;
  double eToday;
  double tToday = N;
};

struct Case {
  const char* name;
  std::vector<Row> rows;
  double yieldKwh;
  double counterKwh;
};

YieldSample At(const Row& r) {
  return {kMidnight + r.secondOfDay, 0, r.pacW, r.eToday, r.tToday, 50};
}

// 5 kW rated. Power 3600 W makes one kWh in 1000 s.
const Case kCases[] = {
    {"a day watched from sunrise: the counter's last value",
     {{6 * 3600, 0, 0.0}, {6 * 3600 + 1000, 3600, 0.5}, {6 * 3600 + 2000, 3600, 1.5}},
     1.5,
     1.5},
    {"started at ten: what the counter made before counts",
     {{10 * 3600, 3600, 12.3}, {10 * 3600 + 1000, 3600, 13.3}},
     13.3,
     13.3},
    {"a restart at noon: the counter covers the two hours nobody watched",
     {{10 * 3600, 3600, 5.0}, {10 * 3600 + 1, 3600, 5.0}, {12 * 3600, 3600, 12.0}},
     12.0,
     12.0},
    {"counter cleared during the day: both parts count",
     {{9 * 3600, 3600, 10.0}, {9 * 3600 + 1, 3600, 0.0}, {9 * 3600 + 1001, 3600, 1.0}},
     11.0,
     11.0},
    {"a misread value in between is not trusted; the power fills those seconds",
     {{9 * 3600, 3600, 10.0}, {9 * 3600 + 1, 3600, 99.9}, {9 * 3600 + 2, 3600, 10.0}},
     10.0 + 2 * 0.001,
     10.0},
    {"no counter at all: the power integrated",
     {{9 * 3600, 3600, N}, {9 * 3600 + 500, 3600, N}, {9 * 3600 + 1000, 3600, N}},
     1.0,
     0.0},
    {"just after midnight a large value is yesterday's, not today's",
     {{10, 0, 25.3}, {20, 0, 25.3}},
     0.0,
     0.0},
    {"a gap of an hour without a counter is not guessed",
     {{9 * 3600, 3600, N}, {10 * 3600, 3600, N}},
     0.0,
     0.0},
    {"the clock set back an hour: steps go by arrival, nothing counted twice",
     {{11 * 3600, 3600, 4.0},
      {11 * 3600 + 1000, 3600, 5.0},
      {10 * 3600 + 1001, 3600, 5.0},
      {10 * 3600 + 2001, 3600, 6.0}},
     6.0,
     6.0},
};

TEST(DayYield, CounterWhereSoundPowerOtherwise) {
  for (const Case& c : kCases) {
    DayAccumulator day(kDay);
    for (const Row& r : c.rows) day.Add(At(r));
    EXPECT_NEAR(day.Summary().yieldKwh, c.yieldKwh, 1e-9) << c.name;
    EXPECT_NEAR(day.Summary().counterKwh, c.counterKwh, 1e-9) << c.name;
  }
}

TEST(DayYield, PeakAndRunningTime) {
  DayAccumulator day(kDay);
  // Running time from "Ttoday" (minutes) where sound; a missing value is bridged by the time
  // with power above zero.
  day.Add({kMidnight + 8 * 3600, 0, 100, 0.1, 120, 50});
  day.Add({kMidnight + 8 * 3600 + 60, 0, 4200.5, 0.2, 121, 50});
  day.Add({kMidnight + 8 * 3600 + 120, 0, 4200.5, 0.3, N, 50});
  day.Add({kMidnight + 8 * 3600 + 180, 0, 900, 0.4, N, 50});
  const DaySummary& s = day.Summary();
  EXPECT_DOUBLE_EQ(s.peakW, 4200.5);
  EXPECT_EQ(s.peakTime, kMidnight + 8 * 3600 + 60);  // the first of equal peaks
  EXPECT_NEAR(s.gridHours, (121.0 + 2.0) / 60.0, 1e-9);
  EXPECT_EQ(s.records, 4);
  EXPECT_EQ(s.firstTime, kMidnight + 8 * 3600);
  EXPECT_EQ(s.lastTime, kMidnight + 8 * 3600 + 180);
}

}  // namespace
}  // namespace pyranex::history
