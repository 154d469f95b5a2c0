#pragma once

#include <cstdint>

#include "core/platform/clock.h"

namespace pyranex {

// Where a sample lies relative to its day log's start.
struct CyclePosition {
  int64_t sampleTime = 0;  // calendar seconds: start + whole seconds elapsed since the first sample
  bool dayChanged = false;  // the local day of the month differs from the start's
  int minute = 0;  // local (hour, minute) of the sample minus those of the start, in minutes
};

// Elapsed time comes from the tick counts as an unsigned 32-bit difference, so a tick count that
// wrapped past 2^32 between the two samples still gives the right time.
CyclePosition LocateSample(const Clock& clock, int64_t startTime, uint32_t firstTick,
                           uint32_t sampleTick);

// The periodic save is due ten minutes after the last one unless an export is running; the save
// at the change of day always happens.
bool IsSaveDue(const CyclePosition& position, int lastSaveMinute, bool exportBusy);

}  // namespace pyranex
