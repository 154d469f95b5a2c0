#pragma once

#include <QImage>
#include <QWidget>

#include "core/chart/geometry.h"

class QPainter;

namespace pyranex::ui {

// Base of the chart pane: owns the background picture and the drawing hook the paint calls.
// Painting of its own is nothing: the derived pane covers every pixel.
class CBlackWnd : public QWidget {
  Q_OBJECT

 public:
  // `background`: the picture "2.bmp" when the owner has it loaded already; null: loaded here.
  explicit CBlackWnd(QWidget* parent = nullptr, const QImage* background = nullptr);

  // Draws the content; `reserved` is always 0 and ignored.
  virtual void Draw(QPainter& painter, const chart::Rect* plotRect, int reserved) = 0;

  QImage m_background;
};

}  // namespace pyranex::ui
