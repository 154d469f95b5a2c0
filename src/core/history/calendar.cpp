#include "core/history/calendar.h"

#include <charconv>
#include <cstdio>

namespace pyranex::history {

// Howard Hinnant's days_from_civil and civil_from_days.
int64_t DayNumber(const CivilDate& date) {
  int64_t y = date.year - (date.month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const auto m = static_cast<unsigned>(date.month);
  const unsigned doy =
      (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + static_cast<unsigned>(date.day) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

CivilDate DateOf(int64_t dayNumber) {
  const int64_t z = dayNumber + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
  return {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
  }
  return kDays[(month - 1) % 12];
}

std::string FormatDay(int64_t dayNumber) {
  const CivilDate d = DateOf(dayNumber);
  char text[24];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
  return text;
}

std::string FormatMonth(int monthIndex) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d", monthIndex / 12, monthIndex % 12 + 1);
  return text;
}

std::string FormatClock(int64_t secondOfDay) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(secondOfDay / 3600),
                static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
  return text;
}

std::optional<DayRange> ParsePeriod(std::string_view text) {
  int parts[3] = {0, 0, 0};
  size_t count = 0;
  size_t pos = 0;
  while (count < 3) {
    const size_t dash = text.find('-', pos);
    const std::string_view part =
        text.substr(pos, dash == std::string_view::npos ? dash : dash - pos);
    const size_t width = count == 0 ? 4 : 2;
    if (part.size() != width) return std::nullopt;
    const auto r = std::from_chars(part.data(), part.data() + part.size(), parts[count]);
    if (r.ec != std::errc() || r.ptr != part.data() + part.size()) return std::nullopt;
    ++count;
    if (dash == std::string_view::npos) break;
    pos = dash + 1;
    if (count == 3) return std::nullopt;  // something after the day
  }
  const int year = parts[0];
  if (count == 1) return DayRange{DayNumber({year, 1, 1}), DayNumber({year, 12, 31})};
  const int month = parts[1];
  if (month < 1 || month > 12) return std::nullopt;
  if (count == 2) {
    return DayRange{DayNumber({year, month, 1}),
                    DayNumber({year, month, DaysInMonth(year, month)})};
  }
  const int day = parts[2];
  if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  const int64_t n = DayNumber({year, month, day});
  return DayRange{n, n};
}

}  // namespace pyranex::history
