#pragma once

#include "core/platform/clock.h"

namespace pyranex::ui {

// The system clock whose SleepMs, on the interface thread, keeps handling events (not user
// input). The link's close and open wait through SleepMs; a port worker or the poll thread may
// meanwhile hand a message box to the interface thread and wait for its answer, so a plain sleep
// there would make the two wait for each other.
class QtClock final : public Clock {
 public:
  uint32_t TickCount() const override { return SystemClock::Instance().TickCount(); }
  int64_t Now() const override { return SystemClock::Instance().Now(); }
  std::tm ToLocal(int64_t seconds) const override {
    return SystemClock::Instance().ToLocal(seconds);
  }
  int64_t FromLocal(std::tm local) const override {
    return SystemClock::Instance().FromLocal(local);
  }
  void SleepMs(uint32_t ms) override;
};

}  // namespace pyranex::ui
