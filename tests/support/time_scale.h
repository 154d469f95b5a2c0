#pragma once

#include <chrono>
#include <cstdlib>

namespace pyranex::test {

// Sanitizer builds run several times slower than the plain one; CI tells tests how much slower
// through PYRANEX_TEST_TIME_SCALE, so the bounds on how long something may take stay meaningful.
inline std::chrono::milliseconds Scaled(std::chrono::milliseconds limit) {
  const char* text = std::getenv("PYRANEX_TEST_TIME_SCALE");
  const double factor = text != nullptr ? std::atof(text) : 1.0;
  if (!(factor > 1.0)) return limit;
  return std::chrono::milliseconds(static_cast<long long>(limit.count() * factor));
}

}  // namespace pyranex::test
