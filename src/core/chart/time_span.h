#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "core/platform/clock.h"

namespace pyranex::chart {

// A clock-time range of the day, "From" hour:minute to "To" hour:minute.
struct TimeSpan {
  int fromHour = 0, fromMin = 0, toHour = 0, toMin = 0;
};

// The clock times of the chart's window [xStart, xEnd] (minutes after startTime, cut to whole
// seconds), in local time.
TimeSpan TimeSpanForWindow(int64_t startTime, double xStart, double xEnd, const Clock& clock);

// The chart window in minutes after startTime for a clock-time range; the start time's seconds
// are ignored. nullopt when From is not strictly before To: the caller changes nothing.
std::optional<std::pair<double, double>> WindowForTimeSpan(int64_t startTime, const TimeSpan& span,
                                                           const Clock& clock);

}  // namespace pyranex::chart
