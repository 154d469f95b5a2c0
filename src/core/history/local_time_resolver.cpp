#include "core/history/local_time_resolver.h"

#include <algorithm>

namespace pyranex::history {

const std::vector<int64_t>& LocalTimeResolver::HourStarts(int64_t day, int hour) {
  const auto key = std::make_pair(day, hour);
  auto found = hours_.find(key);
  if (found != hours_.end()) return found->second;
  if (hours_.size() > 4096) hours_.clear();
  const CivilDate date = DateOf(day);
  std::tm local{};
  local.tm_year = date.year - 1900;
  local.tm_mon = date.month - 1;
  local.tm_mday = date.day;
  local.tm_hour = hour;
  local.tm_isdst = -1;
  const int64_t guess = clock_.FromLocal(local);
  std::vector<int64_t> starts;
  for (const int64_t candidate : {guess - 3600, guess, guess + 3600}) {
    const std::tm back = clock_.ToLocal(candidate);
    if (back.tm_year == local.tm_year && back.tm_mon == local.tm_mon &&
        back.tm_mday == local.tm_mday && back.tm_hour == hour && back.tm_min == 0 &&
        back.tm_sec == 0) {
      starts.push_back(candidate);
    }
  }
  if (starts.empty()) starts.push_back(guess);  // a skipped hour: as the clock reads it
  return hours_.emplace(key, std::move(starts)).first->second;
}

LocalTimeResolver::Moment LocalTimeResolver::Resolve(const CivilDate& date, int hour, int minute,
                                                     int second, int64_t notBefore) {
  const int64_t day = DayNumber(date);
  const std::vector<int64_t>& starts = HourStarts(day, hour);
  const int64_t within = int64_t{minute} * 60 + second;
  int64_t utc = starts.back() + within;
  for (const int64_t start : starts) {
    if (start + within >= notBefore) {
      utc = start + within;
      break;
    }
  }
  const int64_t localAsUtc = day * 86400 + int64_t{hour} * 3600 + within;
  return {utc, static_cast<int32_t>(localAsUtc - utc)};
}

}  // namespace pyranex::history
