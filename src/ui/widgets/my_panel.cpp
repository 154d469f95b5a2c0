#include "ui/widgets/my_panel.h"

#include <QPainter>
#include <QPainterPath>

#include "core/chart/gauge_geometry.h"
#include "ui/widgets/background_picture.h"

namespace pyranex::ui {
namespace {

const QColor kNeedleColor(25, 25, 25);

QPointF ToQt(chart::PointF p) {
  return {p.x, p.y};
}

QColor SectorColor(const chart::BandSector& s) {
  return QColor(s.red, s.green, s.blue);
}

QFont LabelFont() {
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);
  // A 16 px character cell, as the dial was designed for.
  font.setPixelSize(14);
  font.setBold(true);
  return font;
}

void DrawTextAt(QPainter& painter, QPoint topLeft, const QString& text) {
  painter.drawText(topLeft.x(), topLeft.y() + painter.fontMetrics().ascent(), text);
}

}  // namespace

CMyPanel::CMyPanel(QWidget* parent, const QImage* background)
    : QWidget(parent), m_background(background != nullptr ? *background : LoadBackgroundPicture()) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CMyPanel::SetPercent(int percent) {
  const float angle = chart::NeedleAngleFor(percent);
  if (angle == m_needleAngle) return;
  m_needleAngle = angle;
  update();
  // The parent repaints the picture under the panel as well.
  if (parentWidget() != nullptr) parentWidget()->update(geometry());
}

void CMyPanel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  PaintPicturePart(painter, m_background, OffsetInParent(*this), size());
  DrawDial(painter);
  DrawNeedle(painter);
}

void CMyPanel::DrawDial(QPainter& painter) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setBackgroundMode(Qt::TransparentMode);
  const chart::Dial dial = chart::DialFor({0, 0, width(), height()});
  m_radius = dial.radius;
  m_centerX = dial.centerX;
  m_centerY = dial.centerY;
  if (dial.width <= 0) {
    painter.restore();
    return;
  }

  QPainterPath outer;
  outer.addEllipse(QRectF(dial.x1, dial.y1, dial.width, dial.width));
  QPainterPath inner;
  inner.addEllipse(QRectF(dial.x2, dial.y2, dial.width2, dial.width2));
  const QPainterPath ring = outer.subtracted(inner);

  painter.setFont(LabelFont());
  const QFontMetrics metrics = painter.fontMetrics();
  const chart::Extent labelExtent{metrics.horizontalAdvance(QStringLiteral("66%")),
                                  metrics.height()};

  QPainterPath wedges;
  for (int i = 0; i < 3; ++i) {
    const chart::Wedge wedge = chart::WedgeFor(i, m_centerX, m_centerY, m_radius);
    QPolygonF figure;
    for (const chart::PointF& p : wedge.points) figure << ToQt(p);
    figure << figure.front();
    wedges.addPolygon(figure);
  }

  // Angles here run counter-clockwise in 1/16 degree; the band's are clockwise.
  painter.setClipPath(ring.subtracted(wedges));
  painter.setPen(Qt::NoPen);
  const QRectF sectorRect(dial.x1 + 1, dial.y1 + 1, dial.width - 2, dial.width - 2);
  for (int j = 0; j < 4; ++j) {
    const chart::BandSector s = chart::BandSectorFor(j);
    painter.setBrush(SectorColor(s));
    painter.drawPie(sectorRect, static_cast<int>(-s.startAngle * 16),
                    static_cast<int>(-s.sweep * 16));
  }

  painter.setClipPath(outer.subtracted(wedges));
  painter.setBrush(Qt::NoBrush);
  const QRectF arcRect(dial.x2 - 6, dial.y2 - 6, dial.width2 + 12, dial.width2 + 12);
  for (int j = 0; j < 4; ++j) {
    const chart::BandSector s = chart::BandSectorFor(j);
    painter.setPen(QPen(SectorColor(s), 12.0, Qt::SolidLine, Qt::FlatCap));
    painter.drawArc(arcRect, static_cast<int>(-s.startAngle * 16), static_cast<int>(-s.sweep * 16));
  }

  // Labels last, so a label pushed inside a narrow panel stays readable over the band.
  painter.setClipping(false);
  painter.setPen(Qt::black);
  const auto label = [&](chart::Point at, const QString& text) {
    at = chart::KeepLabelInside(at, metrics.horizontalAdvance(text), width());
    DrawTextAt(painter, {at.x, at.y}, text);
  };
  for (int i = 0; i < 3; ++i) {
    const chart::Wedge wedge = chart::WedgeFor(i, m_centerX, m_centerY, m_radius);
    label(chart::WedgeLabelTopLeft(i, wedge, labelExtent), QStringLiteral("%1%").arg((i + 1) * 25));
  }
  label(chart::ZeroLabelTopLeft(dial, labelExtent), QStringLiteral("0%"));
  label(chart::HundredLabelTopLeft(dial, labelExtent), QStringLiteral("100%"));
  painter.restore();
}

void CMyPanel::DrawNeedle(QPainter& painter) {
  if (m_radius <= 0) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  const auto outline = chart::NeedleOutline(m_centerX, m_centerY, m_radius, m_needleAngle);
  QPolygonF needle;
  for (const chart::PointF& p : outline) needle << ToQt(p);
  painter.setPen(Qt::NoPen);
  painter.setBrush(kNeedleColor);
  painter.drawPolygon(needle);
  painter.restore();
}

}  // namespace pyranex::ui
