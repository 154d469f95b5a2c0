#pragma once

#include <cstdint>
#include <string>

namespace pyranex {

// Labels of the power view's text boxes (string table entries 103 to 105).
inline constexpr const char* kPowerLabel = "Power";
inline constexpr const char* kTodayEnergyLabel = "Today Energy";
inline constexpr const char* kTotalEnergyLabel = "Total Energy";

// kg of CO2 saved per kWh fed in.
inline constexpr float kCo2PerKwh = 0.7f;

// Y-axis maximum used when the rated power is unknown (0): the chart's own initial range.
inline constexpr double kDefaultYMax = 5500.0;

// Full scale of the gauge in W for a rated power in units of 100 W. 5000 W and 3000 W models
// read against 4900 W and 2800 W.
int GaugeFullScale(int ratedPower);
// Percent of full scale, truncated toward zero and passed on above 100. With no rated power
// (full scale 0 or less) the gauge stays at 0 rather than dividing by zero.
int GaugePercent(float pacW, int ratedPower);
// Upper end of the power axis: 5880 W for a 5000 W model, otherwise 1.2 x rated power; the
// default range while the rated power is unknown.
double YAxisMax(int ratedPower);

// "Power  1500.0 W" (label, two spaces, value).
std::string PowerText(float pacW);
// "Today Energy\t12.3kWh\nTotal Energy\t4567.8kWh".
std::string EnergyText(float eTodayKwh, float eTotalKwh);
// kg of CO2 saved for the total energy, in single precision.
float Co2ReductionKg(float eTotalKwh);

}  // namespace pyranex
