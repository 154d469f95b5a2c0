#include "core/history/calendar.h"

#include <charconv>
#include <cstdio>

namespace pyranex::history {

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
