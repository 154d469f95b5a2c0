#include "core/chart/axis_step.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace pyranex::chart {

AxisStep ComputeAxisStep(double min, double max) {
  const double range = max - min;
  if (!(range > 0.0) || !std::isfinite(range)) return {0.0, "%3.1f"};

  constexpr double kEpsilon = 2.220446e-16;
  const double r = std::log10(range / 10.0);
  int e = static_cast<int>(std::floor(r));
  const double f = r - e;
  double m = 1.0;
  if (f < kEpsilon) {
    m = 1.0;
  } else if (f <= std::log10(2.0) + kEpsilon) {
    m = 2.0;
  } else if (f <= std::log10(2.5) + kEpsilon) {
    m = 2.5;
  } else if (f <= std::log10(5.0) + kEpsilon) {
    m = 5.0;
  } else {
    m = 1.0;
    e += 1;
  }

  double power = 1.0;
  for (int i = 0; i < std::abs(e); ++i) power *= 10.0;
  if (e < 0) power = 1.0 / power;

  int decimals = 1;  // steps of ten and more still show one decimal
  if (e <= 0) decimals = -e + (m == 2.5 ? 1 : 0);

  char format[32];
  std::snprintf(format, sizeof format, "%%%i.%if", decimals + 2, decimals);
  return {m * power, format};
}

double TimeAxisStep(double startMinutes, double endMinutes) {
  double step = ComputeAxisStep(startMinutes, endMinutes).step;
  if (step > 60.0) step -= static_cast<double>(static_cast<int64_t>(std::trunc(step)) % 60);
  return step;
}

}  // namespace pyranex::chart
