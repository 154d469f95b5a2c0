#include "ui/monitor/lamp_icons.h"

#include <QPainter>
#include <QRadialGradient>

#include "core/monitor/monitor_display.h"

namespace pyranex::ui {

QColor LampColor(int iconId) {
  switch (iconId) {
    case kLampInverting:
      return QColor(0x1e, 0xb4, 0x3c);
    case kLampFault:
      return QColor(0xdc, 0x23, 0x23);
    case kLampWarning:
      return QColor(0xf5, 0xc8, 0x14);
    default:
      return QColor(0x96, 0x96, 0x96);
  }
}

QPixmap LampPixmap(int iconId, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor colour = LampColor(iconId);
  const QRectF lamp(1.0, 1.0, size - 2.0, size - 2.0);
  // A light spot up left, so the lamp reads as a lamp and not as a hole; the centre keeps the
  // plain colour.
  QRadialGradient shade(lamp.center(), lamp.width() / 2,
                        lamp.topLeft() + QPointF(size / 3.0, size / 3.0));
  shade.setColorAt(0.0, colour.lighter(150));
  shade.setColorAt(0.45, colour);
  shade.setColorAt(1.0, colour.darker(130));
  painter.setPen(QPen(colour.darker(170), size >= 32 ? 1.5 : 1.0));
  painter.setBrush(shade);
  painter.drawEllipse(lamp);
  return pixmap;
}

QIcon LampIcon(int iconId) {
  QIcon icon;
  icon.addPixmap(LampPixmap(iconId, 32));
  icon.addPixmap(LampPixmap(iconId, 16));
  return icon;
}

}  // namespace pyranex::ui
