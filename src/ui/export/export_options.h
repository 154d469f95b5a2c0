#pragma once

#include <cstdint>

#include "core/platform/clock.h"

namespace pyranex::ui {

// The fields of "Data Options for Export".
struct ExportOptions {
  int fromHour = 0;
  int fromMin = 0;
  int toHour = 0;
  int toMin = 0;
  int sampling = 0;  // 0 "Max Points", 1 "1Min", 2 "5Min", 3 "10Min"
};

// From = the chart's start time, To = its start time plus the end of its window (minutes,
// truncated to whole seconds), both as local hour and minute; "Max Points".
ExportOptions PrefillExportOptions(int64_t startTime, double xEndMinutes, const Clock& clock);

// Least spacing in minutes of the written samples for a sampling choice; out of range: 0.
int SamplingStepMinutes(int sampling);

// Minutes of hour:minute from the start time's local hour and minute (its seconds ignored).
int MinutesFromStart(int64_t startTime, int hour, int minute, const Clock& clock);

}  // namespace pyranex::ui
