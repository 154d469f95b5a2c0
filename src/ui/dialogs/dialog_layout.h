#pragma once

#include <QFont>
#include <QWidget>

#include "core/chart/dialog_units.h"

namespace pyranex::ui {

// Places a control at a rectangle given in dialog units.
inline void PlaceInDialogUnits(QWidget& widget, int x, int y, int width, int height) {
  const chart::Rect r = chart::DialogUnitsToPixels(x, y, width, height);
  widget.setGeometry(r.left, r.top, r.Width(), r.Height());
}

// A dialog of a fixed client size given in dialog units, in the 8-point dialog font.
inline void SetDialogUnitsSize(QWidget& dialog, int width, int height) {
  const chart::Rect r = chart::DialogUnitsToPixels(0, 0, width, height);
  dialog.setFixedSize(r.Width(), r.Height());
  QFont font = dialog.font();
  font.setPointSize(8);
  dialog.setFont(font);
}

}  // namespace pyranex::ui
