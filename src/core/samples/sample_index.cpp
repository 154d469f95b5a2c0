#include "core/samples/sample_index.h"

#include <cmath>

namespace pyranex {

int FindSampleIndex(std::span<const uint32_t> times, double minutes) {
  const int64_t n = static_cast<int64_t>(times.size());
  if (n < 2) return -1;
  const double span = static_cast<double>(static_cast<uint32_t>(times[n - 1] - times[0])) / 60000.0;
  // Written so that NaN is outside too.
  if (!(minutes > 0.0 && minutes < span)) return -1;

  const int64_t target = static_cast<int64_t>(std::trunc(minutes * 60000.0));
  // Tick counts wrap: offsets are unsigned differences from the first sample.
  const auto offset = [&](int64_t i) -> int64_t {
    return static_cast<uint32_t>(times[i] - times[0]);
  };
  int64_t i = static_cast<int64_t>(std::trunc(static_cast<double>(n - 1) * minutes / span));
  if (i > n - 1) i = n - 1;
  if (i < 0) i = 0;

  if (offset(i) <= target) {
    while (i < n - 1 && offset(i) <= target) ++i;
    if (offset(i) <= target) return static_cast<int>(i);  // no later sample beyond target
    if (i == 0) return 0;
    // A tie goes to the later sample.
    return static_cast<int>(offset(i) - target <= target - offset(i - 1) ? i : i - 1);
  }
  while (i > 0 && offset(i) > target) --i;
  if (i == n - 1) return static_cast<int>(i);
  // A tie goes to the earlier sample.
  return static_cast<int>(target - offset(i) <= offset(i + 1) - target ? i : i + 1);
}

}  // namespace pyranex
