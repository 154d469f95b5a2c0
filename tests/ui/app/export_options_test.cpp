#include "ui/export/export_options.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/fake_clock.h"

namespace pyranex::ui {
namespace {

// 2011-11-24 08:05:40 in the fake clock's local time (UTC).
constexpr int64_t kStart = 1322121600 + 5 * 60 + 40;

TEST(ExportOptions, PrefillFromTheChartWindow) {
  const test::FakeClock clock;
  struct Case {
    double xEnd;
    int toHour, toMin;
  };
  const std::vector<Case> cases = {
      {1.0, 8, 6},      // the first window: one minute
      {0.99, 8, 6},     // 59.4 s: 08:06:39
      {265.0, 12, 30},  // 08:05:40 + 4 h 25 min
      {960.0, 0, 5},    // past midnight wraps to the next day's clock time
      {-10.0, 7, 55},   // a window ending before the start
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xEnd);
    const ExportOptions o = PrefillExportOptions(kStart, c.xEnd, clock);
    EXPECT_EQ(o.fromHour, 8);
    EXPECT_EQ(o.fromMin, 5);
    EXPECT_EQ(o.toHour, c.toHour);
    EXPECT_EQ(o.toMin, c.toMin);
    EXPECT_EQ(o.sampling, 0);
  }
}

TEST(ExportOptions, SamplingStepsInMinutes) {
  const std::vector<std::pair<int, int>> cases = {{0, 0}, {1, 1}, {2, 5}, {3, 10}, {4, 0}, {-1, 0}};
  for (const auto& [sampling, step] : cases) EXPECT_EQ(SamplingStepMinutes(sampling), step);
}

TEST(ExportOptions, MinutesFromTheStartIgnoreItsSeconds) {
  const test::FakeClock clock;
  const std::vector<std::tuple<int, int, int>> cases = {
      {8, 5, 0}, {8, 0, -5}, {12, 30, 265}, {0, 0, -485}, {23, 59, 954}};
  for (const auto& [hour, minute, offset] : cases) {
    EXPECT_EQ(MinutesFromStart(kStart, hour, minute, clock), offset) << hour << ":" << minute;
  }
}

}  // namespace
}  // namespace pyranex::ui
