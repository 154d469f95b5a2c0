#include "ui/history/bar_pane.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "core/chart/bar_layout.h"
#include "core/chart/chart_axes.h"
#include "ui/widgets/background_picture.h"

namespace pyranex::ui {
namespace {

const QColor kBarLine(255, 0, 0);
const QColor kBarFill(255, 0, 0, 60);

void DrawTextAt(QPainter& painter, QPoint topLeft, const QString& text) {
  painter.drawText(topLeft.x(), topLeft.y() + painter.fontMetrics().ascent(), text);
}

}  // namespace

CBarPane::CBarPane(QWidget* parent) : QWidget(parent), background_(LoadBackgroundPicture()) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void CBarPane::SetBars(std::vector<double> values, QStringList labels, double yMax,
                       QString caption) {
  values_ = std::move(values);
  labels_ = std::move(labels);
  yMax_ = yMax > 0 ? yMax : 1.0;
  caption_ = std::move(caption);
  update();
}

chart::Rect CBarPane::PlotRect() const {
  const QFontMetrics metrics = fontMetrics();
  return chart::PlotRectFor(
      {0, 0, width(), height()},
      {metrics.horizontalAdvance(QStringLiteral("-0.0000000")), metrics.height()},
      metrics.horizontalAdvance(QStringLiteral("时间")));
}

QPoint CBarPane::SlotPoint(size_t i) const {
  const chart::Rect plot = PlotRect();
  return {chart::SlotCentre(plot, values_.size(), i), plot.bottom - 2};
}

void CBarPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPicturePart(painter, background_, OffsetInParent(*this), size());
  const chart::Rect plot = PlotRect();
  const int L = plot.left, T = plot.top, R = plot.right, B = plot.bottom;
  const QFontMetrics metrics = painter.fontMetrics();
  const int w0 = metrics.horizontalAdvance(QStringLiteral("0"));

  for (size_t i = 0; i < values_.size(); ++i) {
    const auto bar = chart::BarRect(plot, values_.size(), i, values_[i], yMax_);
    if (!bar) continue;
    const QRect r(bar->left, bar->top, bar->Width(), bar->Height());
    painter.fillRect(r, kBarFill);
    painter.setPen(QPen(kBarLine, 0));
    painter.drawRect(r.adjusted(0, 0, -1, 0));
  }

  painter.setPen(QPen(Qt::black, 0));
  painter.drawLine(L, T - 4, L, B);
  DrawTextAt(painter, {L - w0, T - metrics.height() - 2}, caption_);
  const QPoint yArrow[] = {{L - 3, T + 2}, {L, T - 4}, {L + 3, T + 3}};
  painter.drawPolyline(yArrow, 3);
  for (const chart::ValueTick& tick : chart::ValueAxisTicks(plot, 0.0, yMax_)) {
    painter.drawLine(L, tick.y, L - w0, tick.y);
    const QString label = QString::fromStdString(tick.label);
    const chart::Point at = chart::ValueLabelTopLeft(
        plot, w0, tick.y, {metrics.horizontalAdvance(label), metrics.height()});
    DrawTextAt(painter, {at.x, at.y}, label);
  }
  painter.drawLine(L, B, R + 10, B);
  const QPoint xArrow[] = {{R + 5, B - 3}, {R + 10, B}, {R + 4, B + 5}};
  painter.drawPolyline(xArrow, 3);

  int widest = 0;
  for (const QString& label : labels_) widest = std::max(widest, metrics.horizontalAdvance(label));
  const size_t stride = chart::LabelStride(plot, values_.size(), widest);
  for (size_t i = 0; i < values_.size() && i < static_cast<size_t>(labels_.size()); i += stride) {
    const QString& label = labels_[static_cast<int>(i)];
    const int x = chart::SlotCentre(plot, values_.size(), i);
    painter.drawLine(x, B + 2, x, B);
    DrawTextAt(painter, {x - metrics.horizontalAdvance(label) / 2, B + 2}, label);
  }
}

void CBarPane::mouseReleaseEvent(QMouseEvent* event) {
  const auto slot = chart::SlotAt(PlotRect(), values_.size(), event->position().toPoint().x());
  if (event->button() == Qt::LeftButton && slot && !std::isnan(values_[*slot])) {
    Q_EMIT barClicked(static_cast<int>(*slot));
  }
  QWidget::mouseReleaseEvent(event);
}

}  // namespace pyranex::ui
