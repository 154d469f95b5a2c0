#include "ui/widgets/background_picture.h"

#include <QPainter>
#include <QWidget>

namespace pyranex::ui {

QImage LoadBackgroundPicture() {
  QImage picture(QStringLiteral("2.bmp"));
  if (picture.isNull()) return picture;
  return picture.convertToFormat(QImage::Format_RGB32);
}

void PaintPicturePart(QPainter& painter, const QImage& picture, QPoint source, QSize size) {
  const QRect target(QPoint(0, 0), size);
  const QRect covered = QRect(source, size).intersected(picture.rect());
  if (covered != QRect(source, size)) painter.fillRect(target, kPlainBackground);
  if (covered.isEmpty()) return;
  painter.drawImage(covered.topLeft() - source, picture, covered);
}

QPoint OffsetInParent(const QWidget& widget) {
  return widget.parentWidget() != nullptr ? widget.pos() : QPoint(0, 0);
}

}  // namespace pyranex::ui
