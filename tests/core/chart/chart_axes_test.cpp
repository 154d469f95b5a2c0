#include "core/chart/chart_axes.h"

#include <gtest/gtest.h>

namespace pyranex::chart {
namespace {

// The pane at its size in the power view, with the plot a typical font leaves.
constexpr Rect kPlot{60, 15, 590, 245};

TEST(PlotRect, MarginsComeFromMeasuredTexts) {
  EXPECT_EQ(PlotRectFor({0, 0, 638, 274}, {69, 14}, 24), (Rect{69, 14, 590, 246}));
}

TEST(ValueAxis, PowerRangeLabelsStopBelowTheTop) {
  const auto ticks = ValueAxisTicks(kPlot, 0.0, 5500.0);
  struct Expected {
    int y;
    const char* label;
  };
  // y = 245 - trunc(v * 230 / 5500)
  const Expected expected[] = {{245, "0.0"},    {204, "1000.0"}, {162, "2000.0"},
                               {120, "3000.0"}, {78, "4000.0"},  {36, "5000.0"}};
  ASSERT_EQ(ticks.size(), std::size(expected));  // no 6000: it lies above 5500
  for (size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_EQ(ticks[i].y, expected[i].y) << i;
    EXPECT_EQ(ticks[i].label, expected[i].label) << i;
  }
}

TEST(ValueAxis, NegativeZeroMinimumStillLabelsZero) {
  const auto ticks = ValueAxisTicks(kPlot, -0.0, 5500.0);
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks.front().label, "0.0");
}

TEST(ValueAxis, InitialRangeHasTwoDecimals) {
  const auto ticks = ValueAxisTicks(kPlot, 0.0, 0.2);
  ASSERT_EQ(ticks.size(), 11u);
  EXPECT_EQ(ticks.front().label, "0.00");
  EXPECT_EQ(ticks[1].label, "0.02");
  EXPECT_EQ(ticks.back().label, "0.20");
  EXPECT_EQ(ticks.back().y, kPlot.top);
}

TEST(ValueAxis, NoTickBelowTheRange) {
  const auto ticks = ValueAxisTicks(kPlot, 50.0, 5550.0);
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks.front().label, "1000.0");
  for (const auto& t : ticks) EXPECT_LE(t.y, kPlot.bottom);
}

TEST(ValueAxis, NegativeValuesAreLabelled) {
  const auto ticks = ValueAxisTicks(kPlot, -1000.0, 5500.0);
  ASSERT_EQ(ticks.size(), 7u);
  EXPECT_EQ(ticks.front().label, "-1000.0");
  EXPECT_EQ(ticks.front().y, kPlot.bottom);
}

TEST(ValueAxis, EmptyOrInvertedRangeHasNoTicks) {
  EXPECT_TRUE(ValueAxisTicks(kPlot, 10.0, 10.0).empty());
  EXPECT_TRUE(ValueAxisTicks(kPlot, 10.0, 0.0).empty());
}

TEST(ValueAxis, LabelEndsAtTheTickAndIsCentredOnItAboveTheTimeLabels) {
  struct Case {
    int tickY;
    Extent label;
    Point topLeft;
  };
  // The time labels start at bottom + 2 = 247; a label centred lower is lifted to end there.
  const Case cases[] = {
      {204, {42, 15}, {11, 197}},  // centred
      {239, {42, 15}, {11, 232}},  // centred, its bottom just at 247
      {240, {42, 15}, {11, 232}},  // lifted by one
      {245, {21, 15}, {32, 232}},  // the bottom tick: "0.0" ends above "hh:mm:ss"
      {245, {21, 8}, {32, 239}},   // a small font still ends above
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ValueLabelTopLeft(kPlot, 7, c.tickY, c.label), c.topLeft) << c.tickY;
  }
}

bool Overlap(Point a, Extent ae, Point b, Extent be) {
  return a.x < b.x + be.width && b.x < a.x + ae.width && a.y < b.y + be.height &&
         b.y < a.y + ae.height;
}

TEST(Axes, NoValueLabelRunsIntoATimeLabel) {
  struct Case {
    double yMin, yMax, xStart, xEnd;
  };
  const Case cases[] = {{0.0, 5500.0, 0.0, 1440.0},
                        {0.0, 0.2, 0.0, 1.0},
                        {0.0, 3600.0, 0.0, 63.5},
                        {-1000.0, 5500.0, 120.0, 600.0}};
  const Extent timeLabel{51, 15};  // "12:10:10"
  const int w0 = 7;
  for (const Case& c : cases) {
    for (const ValueTick& value : ValueAxisTicks(kPlot, c.yMin, c.yMax)) {
      const Extent valueLabel{7 * static_cast<int>(value.label.size()), 15};
      const Point v = ValueLabelTopLeft(kPlot, w0, value.y, valueLabel);
      for (const TimeTick& time : TimeAxisTicks(kPlot, c.xStart, c.xEnd)) {
        if (!time.labelled) continue;
        const Point t = TimeLabelTopLeft(kPlot, time.x, timeLabel.width);
        EXPECT_FALSE(Overlap(v, valueLabel, t, timeLabel))
            << value.label << " at y " << value.y << ", time label at x " << time.x;
      }
    }
  }
}

struct TimeTickExpected {
  int x;
  double minutes;
  bool labelled;
  int64_t seconds;
};

void ExpectTicks(const std::vector<TimeTick>& ticks,
                 const std::vector<TimeTickExpected>& expected) {
  ASSERT_EQ(ticks.size(), expected.size());
  for (size_t i = 0; i < ticks.size(); ++i) {
    EXPECT_EQ(ticks[i].x, expected[i].x) << i;
    EXPECT_DOUBLE_EQ(ticks[i].minutes, expected[i].minutes) << i;
    EXPECT_EQ(ticks[i].labelled, expected[i].labelled) << i;
    if (expected[i].labelled) {
      EXPECT_EQ(ticks[i].secondsFromStart, expected[i].seconds) << i;
    }
  }
}

TEST(TimeAxis, DayWindowTicksEveryThreeHoursLabelsEverySix) {
  // x = 60 + trunc(v * 530 / 1440)
  ExpectTicks(TimeAxisTicks(kPlot, 0, 1440), {{60, 0, true, 0},
                                              {126, 180, false, 0},
                                              {192, 360, true, 21600},
                                              {258, 540, false, 0},
                                              {325, 720, true, 43200},
                                              {391, 900, false, 0},
                                              {457, 1080, true, 64800},
                                              {523, 1260, false, 0},
                                              {590, 1440, true, 86400}});
}

TEST(TimeAxis, InitialMinuteTicksEverySixSecondsLabelsEveryTwelve) {
  const auto ticks = TimeAxisTicks(kPlot, 0, 1);
  ASSERT_EQ(ticks.size(), 11u);
  std::vector<int64_t> labelled;
  for (const auto& t : ticks) {
    if (t.labelled) labelled.push_back(t.secondsFromStart);
  }
  EXPECT_EQ(labelled, (std::vector<int64_t>{0, 12, 24, 36, 48, 60}));
  EXPECT_EQ(ticks.front().x, kPlot.left);
  EXPECT_EQ(ticks.back().x, kPlot.right);
}

TEST(TimeAxis, LabelParityCountsTheUndrawnTickLeftOfThePlot) {
  // Step 180; the tick at minute 0 lies left of the plot but is counted, so 180 is unlabelled.
  const auto ticks = TimeAxisTicks(kPlot, 100, 1540);
  ASSERT_GE(ticks.size(), 2u);
  EXPECT_DOUBLE_EQ(ticks[0].minutes, 180);
  EXPECT_FALSE(ticks[0].labelled);
  EXPECT_DOUBLE_EQ(ticks[1].minutes, 360);
  EXPECT_TRUE(ticks[1].labelled);
  for (const auto& t : ticks) {
    EXPECT_GE(t.x, kPlot.left);
    EXPECT_LE(t.x, kPlot.right);
  }
}

TEST(TimeAxis, EmptyOrInvertedWindowHasNoTicks) {
  EXPECT_TRUE(TimeAxisTicks(kPlot, 5, 5).empty());
  EXPECT_TRUE(TimeAxisTicks(kPlot, 5, 1).empty());
}

TEST(TimeAxis, LabelIsCentredUnderItsTick) {
  EXPECT_EQ(TimeLabelTopLeft(kPlot, 126, 51), (Point{101, 247}));
}

}  // namespace
}  // namespace pyranex::chart
