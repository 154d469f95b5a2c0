#include "core/chart/time_span.h"

#include <cmath>

namespace pyranex::chart {
namespace {

// trunc(minutes × 60) as seconds; a window beyond a few centuries is clamped rather than
// overflowing.
int64_t MinutesToSeconds(double minutes) {
  constexpr double kLimit = 1e10;
  if (std::isnan(minutes)) return 0;
  const double seconds = std::trunc(minutes * 60.0);
  if (seconds > kLimit) return static_cast<int64_t>(kLimit);
  if (seconds < -kLimit) return static_cast<int64_t>(-kLimit);
  return static_cast<int64_t>(seconds);
}

}  // namespace

TimeSpan TimeSpanForWindow(int64_t startTime, double xStart, double xEnd, const Clock& clock) {
  const std::tm from = clock.ToLocal(startTime + MinutesToSeconds(xStart));
  const std::tm to = clock.ToLocal(startTime + MinutesToSeconds(xEnd));
  return {from.tm_hour, from.tm_min, to.tm_hour, to.tm_min};
}

std::optional<std::pair<double, double>> WindowForTimeSpan(int64_t startTime, const TimeSpan& span,
                                                           const Clock& clock) {
  if (span.fromHour * 60 + span.fromMin >= span.toHour * 60 + span.toMin) return std::nullopt;
  const std::tm start = clock.ToLocal(startTime);
  const auto offset = [&](int hour, int minute) {
    return static_cast<double>((hour - start.tm_hour) * 60 + minute - start.tm_min);
  };
  return std::make_pair(offset(span.fromHour, span.fromMin), offset(span.toHour, span.toMin));
}

}  // namespace pyranex::chart
