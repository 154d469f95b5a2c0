#pragma once

#include <cstdint>
#include <string>

#include "core/samples/day_log.h"

namespace pyranex {

// What a history save needs from the power view.
struct HistoryContext {
  const DayLog& log;
  std::string serialText;  // twelve characters
  int ratedPower = 0;      // units of 100 W
  int64_t startTime = 0;   // calendar seconds: the day log's (and the chart's) start time
};

// Writes the day log's history workbook. The acquisition engine decides when; this decides how.
class HistorySaver {
 public:
  virtual ~HistorySaver() = default;
  // Saves the whole day log; returns when the file is written (or the failure reported).
  virtual void SaveHistory(int minute, const HistoryContext& context) = 0;
  // The day log was emptied at the day change: the next save begins a new file.
  virtual void StartNewDayLog() = 0;
};

}  // namespace pyranex
