#include "core/acquisition/readouts.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace pyranex {

int GaugeFullScale(int ratedPower) {
  const int watts = ratedPower * 100;
  if (watts == 5000) return 4900;
  if (watts == 3000) return 2800;
  return watts;
}

int GaugePercent(float pacW, int ratedPower) {
  const int fullScale = GaugeFullScale(ratedPower);
  if (fullScale <= 0 || !std::isfinite(pacW)) return 0;
  // Through 64 bits so a corrupt power value cannot overflow the conversion.
  const double scaled = std::trunc(static_cast<double>(pacW) * 100.0);
  const int64_t percent = static_cast<int64_t>(scaled) / fullScale;
  if (percent > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (percent < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(percent);
}

double YAxisMax(int ratedPower) {
  if (ratedPower <= 0) return kDefaultYMax;
  if (ratedPower * 100 == 5000) return 5880.0;
  return ratedPower * 120.0;
}

std::string PowerText(float pacW) {
  char text[96];
  std::snprintf(text, sizeof text, "%s  %3.1f W", kPowerLabel, static_cast<double>(pacW));
  return text;
}

std::string EnergyText(float eTodayKwh, float eTotalKwh) {
  char text[160];
  std::snprintf(text, sizeof text, "%s\t%3.1fkWh\n%s\t%3.1fkWh", kTodayEnergyLabel,
                static_cast<double>(eTodayKwh), kTotalEnergyLabel, static_cast<double>(eTotalKwh));
  return text;
}

float Co2ReductionKg(float eTotalKwh) {
  return eTotalKwh * kCo2PerKwh;
}

}  // namespace pyranex
