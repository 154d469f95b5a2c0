#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace pyranex::chart {

// A window-system rectangle: right and bottom are exclusive edges.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct PointF {
  double x = 0.0;
  double y = 0.0;
};

// Measured size of a text in pixels.
struct Extent {
  int width = 0;
  int height = 0;
};

// trunc() to int that saturates instead of overflowing on absurd inputs (NaN gives 0).
inline int TruncToInt(double v) {
  if (std::isnan(v)) return 0;
  constexpr double kLimit = 1 << 30;
  if (v > kLimit) return 1 << 30;
  if (v < -kLimit) return -(1 << 30);
  return static_cast<int>(std::trunc(v));
}

// trunc() to int64 that saturates; used for millisecond counts.
inline int64_t TruncToInt64(double v) {
  if (std::isnan(v)) return 0;
  constexpr double kLimit = 4.0e18;
  if (v > kLimit) return static_cast<int64_t>(kLimit);
  if (v < -kLimit) return -static_cast<int64_t>(kLimit);
  return static_cast<int64_t>(std::trunc(v));
}

}  // namespace pyranex::chart
