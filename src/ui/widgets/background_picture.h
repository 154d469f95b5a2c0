#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>

class QPainter;
class QWidget;

namespace pyranex::ui {

// The shared background picture "2.bmp" of the current directory; a null image when missing.
QImage LoadBackgroundPicture();

// Shown wherever the picture does not reach (missing or smaller than the view).
inline const QColor kPlainBackground{236, 240, 243};

// Paints the part of `picture` that starts at `source` into (0, 0, size), so a child looks
// transparent on a parent painted with the same picture. Uncovered parts get the plain colour.
void PaintPicturePart(QPainter& painter, const QImage& picture, QPoint source, QSize size);

// Top-left of a widget in its parent's client coordinates (0, 0 without a parent).
QPoint OffsetInParent(const QWidget& widget);

}  // namespace pyranex::ui
