#include "core/chart/axis_step.h"

#include <gtest/gtest.h>

namespace pyranex::chart {
namespace {

struct StepCase {
  double min, max;
  double step;
  const char* format;
};

class AxisStepTest : public testing::TestWithParam<StepCase> {};

TEST_P(AxisStepTest, StepAndLabelFormat) {
  const StepCase& c = GetParam();
  const AxisStep axis = ComputeAxisStep(c.min, c.max);
  EXPECT_DOUBLE_EQ(axis.step, c.step);
  EXPECT_EQ(axis.format, c.format);
}

INSTANTIATE_TEST_SUITE_P(Ranges, AxisStepTest,
                         testing::Values(StepCase{0, 5500, 1000, "%3.1f"},  // power axis
                                         StepCase{-0.0, 5500, 1000, "%3.1f"},
                                         StepCase{0, 0.2, 0.02, "%4.2f"},  // initial axis
                                         StepCase{0, 1440, 200, "%3.1f"},  // a day in minutes
                                         StepCase{0, 1, 0.1, "%3.1f"},     // initial window
                                         StepCase{0, 10, 1, "%2.0f"},      // e = 0
                                         StepCase{0, 50, 5, "%2.0f"},
                                         StepCase{0, 70, 10, "%3.1f"},     // mantissa rolls over
                                         StepCase{0, 2.5, 0.25, "%4.2f"},  // 2.5 adds a decimal
                                         StepCase{0, 25, 2.5, "%3.1f"},
                                         StepCase{100, 3700, 500, "%3.1f"},
                                         StepCase{0, 0.0003, 0.00005, "%7.5f"}));

TEST(AxisStep, EmptyOrInvertedRangeHasNoStep) {
  EXPECT_EQ(ComputeAxisStep(5, 5).step, 0.0);
  EXPECT_EQ(ComputeAxisStep(5, 1).step, 0.0);
}

struct TimeCase {
  double start, end;
  double step;
};

class TimeStepTest : public testing::TestWithParam<TimeCase> {};

TEST_P(TimeStepTest, StepsAboveAnHourBecomeWholeHours) {
  EXPECT_DOUBLE_EQ(TimeAxisStep(GetParam().start, GetParam().end), GetParam().step);
}

INSTANTIATE_TEST_SUITE_P(Windows, TimeStepTest,
                         testing::Values(TimeCase{0, 1440, 180},  // 200 -> 180
                                         TimeCase{0, 720, 60},    // 100 -> 60
                                         TimeCase{0, 5000, 480},  // 500 -> 480
                                         TimeCase{0, 600, 60},    // 100 -> 60
                                         TimeCase{0, 300, 50},    // under an hour unchanged
                                         TimeCase{0, 1, 0.1},     // six seconds
                                         TimeCase{1, 0, 0}));

}  // namespace
}  // namespace pyranex::chart
