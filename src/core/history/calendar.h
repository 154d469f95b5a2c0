#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/civil_date.h"

namespace pyranex::history {

// A "day number" (days since 1970-01-01) names a local calendar day everywhere in the history
// store, so days, months and years never depend on the machine's time zone rules.
using pyranex::CivilDate;
using pyranex::DateOf;
using pyranex::DayNumber;
int DaysInMonth(int year, int month);

// The local day a record belongs to: its UTC time plus the offset it was taken with.
inline int64_t LocalDayOf(int64_t utcSeconds, int32_t utcOffsetSeconds) {
  const int64_t local = utcSeconds + utcOffsetSeconds;
  return local >= 0 ? local / 86400 : (local - 86399) / 86400;
}
// Seconds after local midnight.
inline int64_t LocalSecondOfDay(int64_t utcSeconds, int32_t utcOffsetSeconds) {
  return utcSeconds + utcOffsetSeconds - LocalDayOf(utcSeconds, utcOffsetSeconds) * 86400;
}

// Months are counted as year * 12 + (month - 1).
inline int MonthIndex(int year, int month) {
  return year * 12 + month - 1;
}

// "2024-06-15", "2024-06", "2024".
std::string FormatDay(int64_t dayNumber);
std::string FormatMonth(int monthIndex);
// "12:31:05" from seconds after midnight.
std::string FormatClock(int64_t secondOfDay);

// A period given as "YYYY", "YYYY-MM" or "YYYY-MM-DD": its first and last day.
struct DayRange {
  int64_t first = 0;
  int64_t last = 0;
};
std::optional<DayRange> ParsePeriod(std::string_view text);

}  // namespace pyranex::history
