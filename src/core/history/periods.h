#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/acquisition/live_record.h"
#include "core/history/day_yield.h"
#include "core/samples/day_log.h"

namespace pyranex::history {

enum class PeriodKind { Day, Month, Year };

// The totals of a day, a month or a year.
struct PeriodTotals {
  PeriodKind kind = PeriodKind::Day;
  int64_t key = 0;  // day number, month index (year * 12 + month - 1) or year
  double yieldKwh = 0;
  double gridHours = 0;
  double peakW = kNoValue;
  int64_t peakTime = 0;
  int32_t peakOffset = 0;
  int days = 0;  // days with records
  bool HasPeak() const { return !std::isnan(peakW); }
};

PeriodTotals TotalsOfDay(const DaySummary& day);
// Days in order, folded into months or years (only those with days).
std::vector<PeriodTotals> FoldInto(const std::vector<DaySummary>& days, PeriodKind kind);

// The period's name: "2024-06-15", "2024-06" or "2024".
std::string PeriodName(const PeriodTotals& totals);

// CSV of totals: "date,yield_kwh,peak_w,peak_time,hours"; the peak time of a day is its local
// clock time, of a month or a year its local date and time.
std::string TotalsCsvHeader();
std::string TotalsCsvRow(const PeriodTotals& totals);

// A stored record as `pyranex-cli poll` prints a live one: its local time (by the offset it was
// taken with) "%Y-%m-%d %H-%M-%S", then the thirteen values in the export's formats, empty where
// a value is missing. The header is LiveCsvHeader().
std::string RecordCsvRow(const LiveRecord& record);

// Stored records as a day log (tick counts of milliseconds from the first record), for the
// chart, the export writer and CSV rows.
DayLog DayLogOf(const std::vector<LiveRecord>& records);

}  // namespace pyranex::history
