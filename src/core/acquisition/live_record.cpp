#include "core/acquisition/live_record.h"

#include "core/platform/civil_date.h"

#include <cstdio>
#include <limits>
#include <vector>

namespace pyranex {

namespace {

constexpr std::array<LiveFieldInfo, kLiveFieldCount> kFields = {{
    {"udc", "Udc(V)", "V", 1},
    {"uac", "Uac(V)", "V", 1},
    {"frequency", "f(Hz)", "Hz", 2},
    {"pac", "Pac(W)", "W", 1},
    {"e_today", "Etoday(kWh)", "kWh", 1},
    {"e_total", "Etotal(kWh)", "kWh", 1},
    {"t_today", "Ttoday(min)", "min", 0},
    {"t_total", "Ttotal(h)", "h", 0},
    {"temperature", "T(°C)", "°C", 1},
    {"iac_shift", "Iac-Shift", "", 0},
    {"dci", "DCI(mA)", "mA", 0},
    {"state1", "State 1", "", 0},
    {"state2", "State 2", "", 0},
}};

template <typename T>
double At(const std::vector<T>& series, size_t k) {
  return k < series.size() ? static_cast<double>(series[k])
                           : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace

const LiveFieldInfo& InfoOf(LiveField field) {
  return kFields[static_cast<size_t>(field)];
}

LiveRecord MakeLiveRecord(const DayLog& log, size_t k, int64_t time, const Clock& clock) {
  LiveRecord record;
  record.time = time;
  record.utcOffsetSeconds = UtcOffsetSeconds(clock, time);
  record.values = {At(log.udc, k),    At(log.uac, k),      At(log.freq, k),   At(log.pac, k),
                   At(log.eToday, k), At(log.eTotal, k),   At(log.tToday, k), At(log.tTotal, k),
                   At(log.temp, k),   At(log.iacShift, k), At(log.dci, k),    At(log.state1, k),
                   At(log.state2, k)};
  return record;
}

int32_t UtcOffsetSeconds(const Clock& clock, int64_t time) {
  const std::tm local = clock.ToLocal(time);
  const int64_t asUtc = DayNumber({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday}) * 86400 +
                        local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return static_cast<int32_t>(asUtc - time);
}

std::string FormatIso8601(int64_t time, int32_t utcOffsetSeconds) {
  const int64_t local = time + utcOffsetSeconds;
  int64_t days = local / 86400;
  int64_t secondOfDay = local % 86400;
  if (secondOfDay < 0) {
    secondOfDay += 86400;
    --days;
  }
  const CivilDate date = DateOf(days);
  const int32_t offsetMinutes = (utcOffsetSeconds < 0 ? -utcOffsetSeconds : utcOffsetSeconds) / 60;
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02lld:%02lld:%02lld%c%02d:%02d",
                static_cast<long long>(date.year), date.month, date.day,
                static_cast<long long>(secondOfDay / 3600),
                static_cast<long long>(secondOfDay / 60 % 60),
                static_cast<long long>(secondOfDay % 60), utcOffsetSeconds < 0 ? '-' : '+',
                offsetMinutes / 60, offsetMinutes % 60);
  return text;
}

}  // namespace pyranex
