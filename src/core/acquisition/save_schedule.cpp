#include "core/acquisition/save_schedule.h"

namespace pyranex {

CyclePosition LocateSample(const Clock& clock, int64_t startTime, uint32_t firstTick,
                           uint32_t sampleTick) {
  CyclePosition position;
  const uint32_t elapsedMs = sampleTick - firstTick;
  position.sampleTime = startTime + static_cast<int64_t>(elapsedMs / 1000);
  const std::tm start = clock.ToLocal(startTime);
  const std::tm sample = clock.ToLocal(position.sampleTime);
  position.dayChanged = sample.tm_mday != start.tm_mday;
  position.minute = (sample.tm_hour - start.tm_hour) * 60 + (sample.tm_min - start.tm_min);
  return position;
}

bool IsSaveDue(const CyclePosition& position, int lastSaveMinute, bool exportBusy) {
  if (position.dayChanged) return true;
  return position.minute >= lastSaveMinute + 10 && !exportBusy;
}

}  // namespace pyranex
