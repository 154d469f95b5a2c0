#include "core/chart/bar_layout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pyranex::chart {
namespace {

TEST(BarLayout, SlotsBarsAndHits) {
  const Rect plot{40, 10, 340, 210};  // 300 wide, 200 high; 30 slots of 10 px
  EXPECT_EQ(BarRect(plot, 30, 0, 5.0, 10.0), (Rect{41, 110, 48, 210}));
  EXPECT_EQ(BarRect(plot, 30, 29, 10.0, 10.0), (Rect{331, 10, 338, 210}));
  EXPECT_EQ(BarRect(plot, 30, 3, 20.0, 10.0)->top, 10);  // never above the plot
  EXPECT_FALSE(BarRect(plot, 30, 3, 0.0, 10.0));
  EXPECT_FALSE(BarRect(plot, 30, 3, std::nan(""), 10.0));
  EXPECT_FALSE(BarRect(plot, 30, 30, 1.0, 10.0));

  EXPECT_EQ(SlotAt(plot, 30, 40), 0u);
  EXPECT_EQ(SlotAt(plot, 30, 339), 29u);
  EXPECT_FALSE(SlotAt(plot, 30, 39));
  EXPECT_FALSE(SlotAt(plot, 30, 340));
  EXPECT_EQ(SlotCentre(plot, 12, 0), 52);
  EXPECT_EQ(LabelStride(plot, 31, 14), 3u);  // 9.7 px slots: a two-digit day every third
  EXPECT_EQ(LabelStride(plot, 12, 18), 1u);
}

TEST(BarLayout, AxisTopIsARoundStepAboveTheTallestBar) {
  EXPECT_DOUBLE_EQ(BarAxisMax({12.3, std::nan(""), 30.1}), 35.0);
  EXPECT_DOUBLE_EQ(BarAxisMax({4800.0}), 6000.0);
  EXPECT_DOUBLE_EQ(BarAxisMax({}), 1.0);
}

}  // namespace
}  // namespace pyranex::chart
