#include "core/chart/time_span.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/fake_clock.h"

namespace pyranex::chart {
namespace {

constexpr int64_t kStart = 1322121600 + 5 * 60 + 40;  // 08:05:40

TEST(TimeSpan, ClockTimesToChartWindow) {
  test::FakeClock clock;
  const struct {
    TimeSpan span;
    std::optional<std::pair<double, double>> window;
  } cases[] = {
      {{8, 0, 12, 30}, std::make_pair(-5.0, 265.0)},
      {{9, 0, 12, 30}, std::make_pair(55.0, 265.0)},
      {{8, 5, 8, 6}, std::make_pair(0.0, 1.0)},
      {{0, 0, 23, 59}, std::make_pair(-485.0, 954.0)},
      {{10, 0, 10, 0}, std::nullopt},
      {{12, 0, 10, 0}, std::nullopt},
      {{10, 1, 10, 0}, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WindowForTimeSpan(kStart, c.span, clock), c.window)
        << c.span.fromHour << ":" << c.span.fromMin << "-" << c.span.toHour << ":" << c.span.toMin;
  }
}

TEST(TimeSpan, ChartWindowToClockTimes) {
  test::FakeClock clock;
  const struct {
    double xStart, xEnd;
    TimeSpan span;
  } cases[] = {
      {-5, 265, {8, 0, 12, 30}},   // the window just set reads back the same
      {0, 0.99, {8, 5, 8, 6}},     // 59.4 s cut to 59 s: 08:06:39
      {-0.5, 1440, {8, 5, 8, 5}},  // 30 s earlier; a whole day later
      {NAN, 1e300, {8, 5, 8, 5}},  // nonsense neither throws nor overflows
  };
  for (const auto& c : cases) {
    const TimeSpan s = TimeSpanForWindow(kStart, c.xStart, c.xEnd, clock);
    if (std::isfinite(c.xEnd)) {
      EXPECT_EQ(s.fromHour, c.span.fromHour) << c.xStart;
      EXPECT_EQ(s.fromMin, c.span.fromMin) << c.xStart;
    }
    if (c.xEnd < 1e10) {
      EXPECT_EQ(s.toHour, c.span.toHour) << c.xEnd;
      EXPECT_EQ(s.toMin, c.span.toMin) << c.xEnd;
    }
  }
}

}  // namespace
}  // namespace pyranex::chart
