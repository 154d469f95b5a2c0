#pragma once

#include <QImage>
#include <QWidget>

namespace pyranex::ui {

// A semicircular gauge for a percentage: a coloured band from 0 % (left) over 50 % (top) to
// 100 % (right) with tick gaps at 25, 50 and 75 %, and a dark needle.
class CMyPanel final : public QWidget {
  Q_OBJECT

 public:
  // `background`: the picture "2.bmp" when the owner has it loaded already; null: loaded here.
  explicit CMyPanel(QWidget* parent = nullptr, const QImage* background = nullptr);

  // Repaints (with the parent's area under the panel) only when the needle angle changes.
  void SetPercent(int percent);

  float m_needleAngle = 90.0f;
  QImage m_background;
  int m_radius = 0;
  int m_centerX = 0;
  int m_centerY = 0;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void DrawDial(QPainter& painter);
  void DrawNeedle(QPainter& painter);
};

}  // namespace pyranex::ui
