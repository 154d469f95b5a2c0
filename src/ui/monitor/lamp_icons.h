#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace pyranex::ui {

// The state lamp icons 139 (green), 140 (grey), 141 (red) and 142 (yellow): a plain round lamp
// in the state's colour, drawn here in 32 x 32 and 16 x 16. Any other id gives the grey lamp.
QColor LampColor(int iconId);
QPixmap LampPixmap(int iconId, int size);
QIcon LampIcon(int iconId);

}  // namespace pyranex::ui
