#pragma once

#include <string>

namespace pyranex::chart {

struct AxisStep {
  double step = 0.0;   // 0 when the range is empty or inverted
  std::string format;  // printf format for the labels, e.g. "%3.1f"
};

// A 1, 2, 2.5 or 5 times a power of ten step giving about ten ticks over [min, max].
AxisStep ComputeAxisStep(double min, double max);

// The time axis step in minutes: as above, but steps above an hour become whole hours.
double TimeAxisStep(double startMinutes, double endMinutes);

}  // namespace pyranex::chart
