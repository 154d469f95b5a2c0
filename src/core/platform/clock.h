#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace pyranex {

// Time as the program sees it: a wrapping millisecond tick count, calendar seconds and local
// time. Every time-dependent decision goes through here so tests can step time at will.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary origin; wraps at 2^32, compare only by unsigned difference.
  virtual uint32_t TickCount() const = 0;
  // Calendar time in seconds since the epoch.
  virtual int64_t Now() const = 0;
  virtual std::tm ToLocal(int64_t seconds) const = 0;
  // Inverse of ToLocal (mktime semantics: fields may be out of range, isdst -1 lets it decide).
  virtual int64_t FromLocal(std::tm local) const = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// The process's own clock: monotonic ticks, wall time, the system's time zone.
class SystemClock final : public Clock {
 public:
  uint32_t TickCount() const override;
  int64_t Now() const override;
  std::tm ToLocal(int64_t seconds) const override;
  int64_t FromLocal(std::tm local) const override;
  void SleepMs(uint32_t ms) override;

  static SystemClock& Instance();
};

// strftime into a std::string.
std::string FormatLocal(const Clock& clock, int64_t seconds, const char* format);

}  // namespace pyranex
