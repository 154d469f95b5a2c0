#include <chrono>
#include <thread>

#include "core/platform/clock.h"

namespace pyranex {

uint32_t SystemClock::TickCount() const {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

int64_t SystemClock::Now() const {
  return static_cast<int64_t>(std::time(nullptr));
}

std::tm SystemClock::ToLocal(int64_t seconds) const {
  std::tm local{};
  const std::time_t t = static_cast<std::time_t>(seconds);
#ifdef _WIN32
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  return local;
}

int64_t SystemClock::FromLocal(std::tm local) const {
  return static_cast<int64_t>(std::mktime(&local));
}

void SystemClock::SleepMs(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

SystemClock& SystemClock::Instance() {
  static SystemClock clock;
  return clock;
}

std::string FormatLocal(const Clock& clock, int64_t seconds, const char* format) {
  const std::tm local = clock.ToLocal(seconds);
  char buffer[128];
  const size_t n = std::strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, n);
}

}  // namespace pyranex
