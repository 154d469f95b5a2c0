#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <thread>

#include "core/platform/clock.h"

namespace pyranex::test {

// A clock that only moves when told. Local time is UTC plus a fixed offset, so tests do not
// depend on the machine's time zone. SleepMs advances the clock instead of waiting.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(int64_t now = 1322121600 /* 2011-11-24 08:00:00 UTC */, uint32_t tick = 1000,
                     int utcOffsetSeconds = 0)
      : tick_(tick), now_(now), offset_(utcOffsetSeconds) {}

  uint32_t TickCount() const override { return tick_.load(); }
  int64_t Now() const override { return now_.load(); }

  std::tm ToLocal(int64_t seconds) const override {
    std::tm local{};
    const std::time_t t = static_cast<std::time_t>(seconds + offset_);
#ifdef _WIN32
    gmtime_s(&local, &t);
#else
    gmtime_r(&t, &local);
#endif
    return local;
  }

  int64_t FromLocal(std::tm local) const override {
    local.tm_isdst = 0;
#ifdef _WIN32
    return static_cast<int64_t>(_mkgmtime(&local)) - offset_;
#else
    return static_cast<int64_t>(timegm(&local)) - offset_;
#endif
  }

  void SleepMs(uint32_t ms) override {
    sleeps_.fetch_add(1);
    Advance(ms);
    std::this_thread::yield();
  }

  // Moves both the tick count (wrapping) and the calendar time.
  void Advance(uint32_t ms) {
    std::lock_guard lock(mutex_);
    tick_.store(tick_.load() + ms);
    subSecondMs_ += ms;
    now_.store(now_.load() + subSecondMs_ / 1000);
    subSecondMs_ %= 1000;
  }

  void SetTick(uint32_t tick) {
    tick_.store(tick);
  }
  void SetNow(int64_t now) {
    now_.store(now);
  }
  int Sleeps() const {
    return sleeps_.load();
  }

 private:
  std::mutex mutex_;
  std::atomic<uint32_t> tick_;
  std::atomic<int64_t> now_;
  int64_t subSecondMs_ = 0;
  int offset_;
  std::atomic<int> sleeps_{0};
};

}  // namespace pyranex::test
