#include "ui/widgets/my_text_box.h"

#include <QPainter>

#include "core/chart/text_box_layout.h"
#include "ui/widgets/background_picture.h"

namespace pyranex::ui {

CMyTextBox::CMyTextBox(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CMyTextBox::SetText(std::string_view text, int lineCount) {
  m_text = std::string(text);
  m_lineCount = lineCount;
  update();
}

void CMyTextBox::LoadBackground() {
  m_background = LoadBackgroundPicture();
}

void CMyTextBox::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  PaintPicturePart(painter, m_background, OffsetInParent(*this), size());
  painter.fillRect(rect(), QColor(255, 255, 255, 120));

  painter.setPen(Qt::black);
  painter.setBackgroundMode(Qt::TransparentMode);
  const QFontMetrics metrics = painter.fontMetrics();
  const auto measure = [&metrics](std::string_view s) {
    return chart::Extent{metrics.horizontalAdvance(QString::fromUtf8(s.data(), s.size())),
                         metrics.height()};
  };
  for (const chart::PlacedText& item :
       chart::LayoutTextBox(m_text, m_lineCount, {0, 0, width(), height()}, measure)) {
    painter.drawText(item.topLeft.x, item.topLeft.y + metrics.ascent(),
                     QString::fromStdString(item.text));
  }
}

}  // namespace pyranex::ui
