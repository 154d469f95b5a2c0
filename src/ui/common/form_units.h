#pragma once

#include <QRect>

#include "core/chart/dialog_units.h"

namespace pyranex::ui {

// A control's place on a form, given in dialog units as the form template gives it.
inline QRect FormRect(int x, int y, int width, int height) {
  const chart::Rect r = chart::DialogUnitsToPixels(x, y, width, height);
  return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace pyranex::ui
