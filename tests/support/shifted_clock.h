#pragma once

#include <ctime>

#include "core/platform/clock.h"

namespace pyranex::test {

// The system's clock moved to a chosen moment: ticks and sleeps are real, calendar time runs
// from `start` at the real pace, and local time is UTC plus a fixed offset. Tests with a real
// link get the same day whatever the time the machine shows.
class ShiftedClock final : public Clock {
 public:
  ShiftedClock(int64_t start, int utcOffsetSeconds)
      : shift_(start - SystemClock::Instance().Now()), offset_(utcOffsetSeconds) {}

  uint32_t TickCount() const override { return SystemClock::Instance().TickCount(); }
  int64_t Now() const override { return SystemClock::Instance().Now() + shift_; }
  std::tm ToLocal(int64_t seconds) const override {
    const std::time_t t = static_cast<std::time_t>(seconds + offset_);
    std::tm local{};
    gmtime_r(&t, &local);
    return local;
  }
  int64_t FromLocal(std::tm local) const override {
    local.tm_isdst = 0;
    return static_cast<int64_t>(timegm(&local)) - offset_;
  }
  void SleepMs(uint32_t ms) override { SystemClock::Instance().SleepMs(ms); }

 private:
  int64_t shift_;
  int offset_;
};

}  // namespace pyranex::test
