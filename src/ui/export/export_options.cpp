#include "ui/export/export_options.h"

#include <array>
#include <cmath>

namespace pyranex::ui {

ExportOptions PrefillExportOptions(int64_t startTime, double xEndMinutes, const Clock& clock) {
  const std::tm from = clock.ToLocal(startTime);
  const std::tm to =
      clock.ToLocal(startTime + static_cast<int64_t>(std::trunc(xEndMinutes * 60.0)));
  return ExportOptions{from.tm_hour, from.tm_min, to.tm_hour, to.tm_min, 0};
}

int SamplingStepMinutes(int sampling) {
  constexpr std::array<int, 4> kSteps = {0, 1, 5, 10};
  if (sampling < 0 || sampling >= static_cast<int>(kSteps.size())) return 0;
  return kSteps[static_cast<size_t>(sampling)];
}

int MinutesFromStart(int64_t startTime, int hour, int minute, const Clock& clock) {
  const std::tm start = clock.ToLocal(startTime);
  return (hour - start.tm_hour) * 60 + minute - start.tm_min;
}

}  // namespace pyranex::ui
