#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "core/history/calendar.h"
#include "core/platform/clock.h"

namespace pyranex::history {

// Turns the local clock times of a workbook back into UTC. A local time can mean two moments
// (the hour that is repeated when clocks go back) or none (the hour skipped when they go
// forward); rows are in time order, so of two meanings the earliest one not before the previous
// row is taken.
class LocalTimeResolver {
 public:
  explicit LocalTimeResolver(const Clock& clock) : clock_(clock) {}

  struct Moment {
    int64_t utc = 0;
    int32_t offset = 0;
  };
  Moment Resolve(const CivilDate& date, int hour, int minute, int second, int64_t notBefore);

 private:
  // UTC of the start of a local hour, one per meaning of it.
  const std::vector<int64_t>& HourStarts(int64_t day, int hour);

  const Clock& clock_;
  std::map<std::pair<int64_t, int>, std::vector<int64_t>> hours_;
};

}  // namespace pyranex::history
