#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/acquisition/link_status.h"
#include "core/platform/clock.h"
#include "core/samples/day_log.h"

namespace pyranex {

// The thirteen values of a live record, in the export's column order (after "Time").
enum class LiveField : size_t {
  Udc,
  Uac,
  Freq,
  Pac,
  EToday,
  ETotal,
  TToday,
  TTotal,
  Temp,
  IacShift,
  Dci,
  State1,
  State2,
};
inline constexpr size_t kLiveFieldCount = 13;

struct LiveFieldInfo {
  std::string_view key;    // stable machine name: "pac", "e_today", ...
  std::string_view title;  // the export's column title: "Pac(W)", ...
  std::string_view unit;   // "W", "kWh", "" for counts and bit sets
  int decimals;            // as the export shows it: 0, 1 or 2
};

const LiveFieldInfo& InfoOf(LiveField field);

// One completed live-data cycle, as everything after the live cycle (history, the home energy
// bus) sees it. A plain value: copied into each sink's own queue, never shared mutably.
struct LiveRecord {
  std::string serialNumber;      // twelve digits
  int ratedPower = 0;            // units of 100 W; 0 while unknown
  std::string firmwareVersion;   // "V4.10"; empty while unknown
  int64_t time = 0;              // calendar seconds (UTC)
  int32_t utcOffsetSeconds = 0;  // local time at `time` is time + offset
  LinkCondition link = LinkCondition::Connected;
  // NaN where the reply was cut short and the value is missing.
  std::array<double, kLiveFieldCount> values{};

  double Get(LiveField field) const { return values[static_cast<size_t>(field)]; }
  bool Has(LiveField field) const { return !std::isnan(Get(field)); }
};

// Sample k of the day log as a record; its values NaN where a series is shorter.
LiveRecord MakeLiveRecord(const DayLog& log, size_t k, int64_t time, const Clock& clock);

// Offset of the clock's local time from UTC at `time`, in seconds (e.g. 3600 for CET).
int32_t UtcOffsetSeconds(const Clock& clock, int64_t time);

// "2026-12-08T14:03:05+01:00".
std::string FormatIso8601(int64_t time, int32_t utcOffsetSeconds);

// Receives each live record. Called on the interface thread: must return at once (queue the
// record and do the work on a thread of its own).
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void Accept(const LiveRecord& record) = 0;
};

}  // namespace pyranex
