#pragma once

#include "core/chart/geometry.h"

namespace pyranex::chart {

// Dialog units to pixels with the base units of an 8-point dialog font (6 × 13 px per 4 × 8
// units, so 1.5 px across and 1.625 px down), each edge rounded as the window system does.
// The rectangle is given as left, top, width, height in dialog units.
Rect DialogUnitsToPixels(int x, int y, int width, int height);

}  // namespace pyranex::chart
