#include "core/acquisition/readouts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace pyranex {
namespace {

struct RatedCase {
  int rated;
  int gaugeFullScale;
  double yMax;
};

class RatedPowerTest : public ::testing::TestWithParam<RatedCase> {};

TEST_P(RatedPowerTest, GaugeAndAxisUseTheirOwnSpecialValues) {
  const RatedCase c = GetParam();
  EXPECT_EQ(GaugeFullScale(c.rated), c.gaugeFullScale);
  EXPECT_DOUBLE_EQ(YAxisMax(c.rated), c.yMax);
}

INSTANTIATE_TEST_SUITE_P(Models, RatedPowerTest,
                         ::testing::Values(RatedCase{50, 4900, 5880.0},  // 5000 W
                                           RatedCase{30, 2800, 3600.0},  // 3000 W
                                           RatedCase{28, 2800, 3360.0},  // 2800 W
                                           RatedCase{40, 4000, 4800.0}, RatedCase{15, 1500, 1800.0},
                                           RatedCase{0, 0, kDefaultYMax}));

struct PercentCase {
  float pac;
  int rated;
  int percent;
};

class GaugePercentTest : public ::testing::TestWithParam<PercentCase> {};

TEST_P(GaugePercentTest, TruncatesAgainstFullScale) {
  const PercentCase c = GetParam();
  EXPECT_EQ(GaugePercent(c.pac, c.rated), c.percent) << c.pac << " W of rated " << c.rated;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GaugePercentTest,
    ::testing::Values(PercentCase{2450.0f, 50, 50},  // of 4900, not 5000
                      PercentCase{4899.9f, 50, 99},  // truncated, not rounded
                      PercentCase{4900.0f, 50, 100},
                      PercentCase{6000.0f, 50, 122},  // above full scale passed on
                      PercentCase{1400.0f, 30, 50},   // of 2800
                      PercentCase{1400.0f, 28, 50}, PercentCase{0.0f, 40, 0},
                      PercentCase{-40.0f, 40, -1},  // toward zero
                      PercentCase{1500.0f, 0, 0},   // no rated power: no division by zero
                      PercentCase{3.0e9f, 1, std::numeric_limits<int>::max()},
                      PercentCase{std::numeric_limits<float>::quiet_NaN(), 50, 0}));

TEST(ReadoutTextTest, PowerBoxHasLabelTwoSpacesAndOneDecimal) {
  EXPECT_EQ(PowerText(1500.0f), "Power  1500.0 W");
  EXPECT_EQ(PowerText(0.04f), "Power  0.0 W");
  EXPECT_EQ(PowerText(12.34f), "Power  12.3 W");
  EXPECT_EQ(PowerText(-3.0f), "Power  -3.0 W");
}

TEST(ReadoutTextTest, EnergyBoxHasTwoTabbedLines) {
  EXPECT_EQ(EnergyText(12.3f, 4567.8f), "Today Energy\t12.3kWh\nTotal Energy\t4567.8kWh");
  EXPECT_EQ(EnergyText(0.0f, 0.0f), "Today Energy\t0.0kWh\nTotal Energy\t0.0kWh");
}

TEST(ReadoutTextTest, Co2IsSevenTenthsOfTotalEnergyInSinglePrecision) {
  EXPECT_FLOAT_EQ(Co2ReductionKg(1000.0f), 700.0f);
  EXPECT_EQ(Co2ReductionKg(4567.8f), 4567.8f * 0.7f);
}

}  // namespace
}  // namespace pyranex
