#pragma once

#include <cstdint>

namespace pyranex {

// A calendar date of the proleptic Gregorian calendar.
struct CivilDate {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

// Days since 1970-01-01 and back, free of any time zone's rules.
int64_t DayNumber(const CivilDate& date);
CivilDate DateOf(int64_t dayNumber);

}  // namespace pyranex
