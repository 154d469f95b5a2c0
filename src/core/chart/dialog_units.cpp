#include "core/chart/dialog_units.h"

#include <cstdint>

namespace pyranex::chart {
namespace {

// a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c) {
  const int64_t p = static_cast<int64_t>(a) * b;
  const int64_t half = c / 2;
  return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}

}  // namespace

Rect DialogUnitsToPixels(int x, int y, int width, int height) {
  return {MulDiv(x, 6, 4), MulDiv(y, 13, 8), MulDiv(x + width, 6, 4), MulDiv(y + height, 13, 8)};
}

}  // namespace pyranex::chart
