#include "ui/widgets/flow_pane.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>
#include <QRegion>
#include <algorithm>
#include <cstdio>

#include "core/chart/chart_axes.h"
#include "core/samples/sample_index.h"
#include "ui/widgets/background_picture.h"

namespace pyranex::ui {
namespace {

const QColor kCurveRed(255, 0, 0);
const QColor kFillRed(255, 0, 0, 30);
const QColor kCursorYellow(255, 255, 0);

QPoint ToQt(chart::Point p) {
  return {p.x, p.y};
}

// A rectangle with exclusive right and bottom edges, as the geometry gives it.
QRect ToQt(const chart::Rect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

QPolygon ToPolygon(std::span<const chart::Point> points) {
  QPolygon polygon(static_cast<int>(points.size()));
  for (size_t i = 0; i < points.size(); ++i) polygon.setPoint(static_cast<int>(i), ToQt(points[i]));
  return polygon;
}

void DrawTextAt(QPainter& painter, QPoint topLeft, const QString& text) {
  painter.drawText(topLeft.x(), topLeft.y() + painter.fontMetrics().ascent(), text);
}

chart::Extent Measure(const QFontMetrics& metrics, const QString& text) {
  return {metrics.horizontalAdvance(text), metrics.height()};
}

// The translucent area under the curve, blended straight into the pixels row by row: far
// cheaper than a polygon fill of a day's outline, and the same pixels on every repaint.
void FillUnder(QImage& image, const std::vector<chart::ColumnSpan>& spans, QRect clip) {
  // Red at alpha 30 over each channel, precomputed: (src * 30 + dst * 225) / 255.
  struct BlendTable {
    uint8_t red[256];
    uint8_t other[256];
    BlendTable() {
      for (int v = 0; v < 256; ++v) {
        red[v] = static_cast<uint8_t>((255 * 30 + v * 225) / 255);
        other[v] = static_cast<uint8_t>(v * 225 / 255);
      }
    }
  };
  static const BlendTable blend;

  clip &= image.rect();
  if (spans.empty() || clip.isEmpty()) return;
  const int firstX = std::max(spans.front().x, clip.left());
  const int lastX = std::min(spans.back().x, clip.right());
  if (firstX > lastX) return;
  // Top row per column (spans come one per column, left to right); columns without one stay empty.
  std::vector<int> top(static_cast<size_t>(lastX - firstX + 1), clip.bottom() + 1);
  int highest = clip.bottom() + 1;
  int lowest = clip.top();
  for (const chart::ColumnSpan& span : spans) {
    if (span.x < firstX || span.x > lastX) continue;
    top[static_cast<size_t>(span.x - firstX)] = std::max(span.top, clip.top());
    highest = std::min(highest, std::max(span.top, clip.top()));
    lowest = std::max(lowest, std::min(span.bottom, clip.bottom() + 1));
  }
  uchar* const bits = image.bits();
  const qsizetype stride = image.bytesPerLine();
  for (int y = highest; y < lowest; ++y) {
    auto* row = reinterpret_cast<QRgb*>(bits + y * stride);
    for (int x = firstX; x <= lastX; ++x) {
      if (top[static_cast<size_t>(x - firstX)] > y) continue;
      const QRgb d = row[x];
      row[x] = qRgb(blend.red[qRed(d)], blend.other[qGreen(d)], blend.other[qBlue(d)]);
    }
  }
}

}  // namespace

CFlowPane::CFlowPane(Notifier& notifier, QWidget* parent, const Clock& clock,
                     const QImage* background)
    : CBlackWnd(parent, background), notifier_(notifier), clock_(clock) {
  // The plot rectangle is laid out when first needed (EnsureLayout): measuring its caption
  // loads the fallback font for Chinese, which need not hold up the window's first showing.
}

chart::ChartState CFlowPane::State() const {
  return {m_values, m_times, m_plotRect, m_yMin, m_yMax, m_xStart, m_xEnd, chart::kCurveGapMs};
}

void CFlowPane::Layout() {
  layoutSize_ = size();
  const QFontMetrics metrics = fontMetrics();
  const chart::Rect client{0, 0, width(), height()};
  m_plotRect = chart::PlotRectFor(client, Measure(metrics, QStringLiteral("-0.0000000")),
                                  metrics.horizontalAdvance(QStringLiteral("时间")));
}

CFlowPane::Shown CFlowPane::Showing() const {
  return {m_yMin,
          m_yMax,
          m_xStart,
          m_xEnd,
          m_startTime,
          m_values.size(),
          m_plotRect,
          OffsetInParent(*this),
          m_background.cacheKey()};
}

bool CFlowPane::CacheCurrent() const {
  return cacheValid_ && cache_.size() == size() && shown_ == Showing();
}

void CFlowPane::InvalidateAll() {
  cacheValid_ = false;
  update();
}

void CFlowPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Laid out for the new size when first needed.
  cacheValid_ = false;
  update();
}

void CFlowPane::EnsureLayout() {
  // A hidden widget gets its resize event only when shown; the geometry must not wait for that.
  if (layoutSize_ != size()) {
    Layout();
    cacheValid_ = false;
  }
}

void CFlowPane::AddPoint(uint32_t tick, double value) {
  EnsureLayout();
  // Whether the cache shows everything up to this sample: then only the new segment is drawn.
  const bool incremental = CacheCurrent();
  m_values.push_back(static_cast<float>(value));
  m_times.push_back(tick);
  const chart::NewSamplePlan plan = chart::PlanNewSample(State(), value);
  using Kind = chart::NewSamplePlan::Kind;

  if (plan.kind == Kind::kBeyond && m_autoExtend) {
    m_xEnd = plan.extendedXEnd;
    InvalidateAll();
    return;
  }
  if (plan.kind == Kind::kBeyond || plan.kind == Kind::kNothing) {
    // Nothing to draw for this sample; what is on screen stays as it is.
    if (incremental) shown_.samples = m_values.size();
    return;
  }

  if (!incremental) {
    InvalidateAll();  // the rebuild draws this sample with the rest
  } else {
    shown_.samples = m_values.size();
    QPainter painter(&cache_);
    // The axes and labels outside the plot are never drawn over.
    painter.setClipRect(ToQt(m_plotRect).adjusted(0, 0, 1, 1));
    QRect dirty;
    if (plan.kind == Kind::kPixel) {
      painter.fillRect(QRect(ToQt(plan.point), QSize(1, 1)), kCurveRed);
      dirty = QRect(ToQt(plan.point), QSize(1, 1));
    } else {
      painter.setPen(QPen(kCurveRed, 0));
      painter.drawLine(ToQt(plan.previous), ToQt(plan.point));
      painter.end();
      const chart::Point segment[] = {plan.previous, plan.point};
      FillUnder(cache_, chart::FillColumns(segment, m_plotRect.bottom),
                ToQt(m_plotRect).adjusted(0, 0, 1, 1));
      dirty = QRect(ToQt(plan.previous), ToQt(plan.point)).normalized();
      dirty.setBottom(m_plotRect.bottom);
    }
    if (painter.isActive()) painter.end();
    update(dirty.adjusted(-1, -1, 1, 1));
  }

  if (plan.aboveRange) {
    char text[64];
    std::snprintf(text, sizeof text, "%3.2f", value);
    notifier_.Show(text, "Quorvane", NoticeIcon::None, NoticeButtons::Ok);
  }
}

void CFlowPane::SetYRange(double min, double max) {
  m_yMin = min;
  m_yMax = max;
  InvalidateAll();
}

void CFlowPane::SetXRange(double startMinutes, double endMinutes) {
  m_xStart = chart::AcceptedWindowStart(m_times, startMinutes);
  m_xEnd = endMinutes;
  InvalidateAll();
}

void CFlowPane::Clear() {
  m_values.clear();
  m_values.shrink_to_fit();
  m_times.clear();
  m_times.shrink_to_fit();
  curve_.Reset();
  composed_ = QImage();
  // No repaint now, but whatever repaints next shows the cleared pane.
  cacheValid_ = false;
}

int CFlowPane::FindSampleIndex(double minutes) const {
  return pyranex::FindSampleIndex(m_times, minutes);
}

void CFlowPane::SetCursorVisible(bool show) {
  m_cursorVisible = show;
  InvalidateCursorArea(m_cursorX);
}

void CFlowPane::InvalidateCursorArea(int x) {
  EnsureLayout();
  const QFontMetrics metrics = fontMetrics();
  const chart::CursorArea area = chart::CursorAreaAt(
      m_plotRect, x, Measure(metrics, QStringLiteral("2011-11-24 12-10-10 5000.1")));
  update(ToQt(area.column));
  update(ToQt(area.readout));
}

void CFlowPane::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    EnsureLayout();
    const int x = event->position().toPoint().x();
    const double m = chart::MinutesAtX(m_plotRect, m_xStart, m_xEnd, x);
    if (FindSampleIndex(m) >= 0) {
      InvalidateCursorArea(m_cursorX);
      m_cursorX = x;
      // Painting is confined to the update region here, so the new place is invalidated too.
      InvalidateCursorArea(m_cursorX);
    }
  }
  QWidget::mouseReleaseEvent(event);
}

void CFlowPane::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
}

void CFlowPane::paintEvent(QPaintEvent* event) {
  EnsureLayout();
  if (!CacheCurrent()) RebuildCache();
  QPainter painter(this);
  painter.drawImage(event->rect(), cache_, event->rect());
  if (m_cursorVisible) DrawPositionCursor(painter);
}

void CFlowPane::RebuildCache() {
  m_parentOffset = OffsetInParent(*this);
  if (!composed_.isNull() && composed_.size() == size() && composedShown_ == Showing()) {
    // Composed for exactly this before (new samples drawn since went into a copy): reused.
    cache_ = composed_;
    cacheValid_ = true;
    shown_ = composedShown_;
    return;
  }
  const AxesShown axes = AxesShowing();
  if (axesLayer_.size() != size() || !(axesShown_ == axes)) {
    // The picture under the pane with the axes and a clean plot area, ready for the curve:
    // drawn again only when what it shows changed.
    axesLayer_ = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    QPainter painter(&axesLayer_);
    painter.setFont(font());
    PaintPicturePart(painter, m_background, m_parentOffset, size());
    DrawAxes(painter);
    PaintPlotBackground(painter, m_plotRect);
    axesShown_ = axes;
  }
  cache_ = axesLayer_;
  static const chart::CurvePath kNoCurve;
  const chart::CurvePath& curve = m_values.empty() ? kNoCurve : curve_.Update(State());
  QPainter painter(&cache_);
  if (curve.line.empty() || m_plotRect.Width() <= 1 || m_plotRect.Height() <= 3) {
    // Without a curve the plot area keeps what the axes drew into it: the tip of their arrow.
    painter.setPen(QPen(Qt::black, 0));
    DrawValueArrow(painter);
  } else {
    DrawCurve(painter, m_plotRect, curve, /*plotClean=*/true);
  }
  painter.end();
  cacheValid_ = true;
  shown_ = Showing();
  composed_ = cache_;
  composedShown_ = shown_;
}

CFlowPane::AxesShown CFlowPane::AxesShowing() const {
  return {m_yMin, m_yMax, m_xStart, m_xEnd, m_startTime, m_plotRect, m_parentOffset, font()};
}

void CFlowPane::DrawValueArrow(QPainter& painter) {
  const int L = m_plotRect.left, T = m_plotRect.top;
  const QPoint yArrow[] = {{L - 3, T + 2}, {L, T - 4}, {L + 3, T + 3}};
  painter.drawPolyline(yArrow, 3);
}

void CFlowPane::DrawAxes(QPainter& painter) {
  painter.save();
  painter.setPen(QPen(Qt::black, 0));
  painter.setBackgroundMode(Qt::TransparentMode);
  const QFontMetrics metrics = painter.fontMetrics();
  const int L = m_plotRect.left, T = m_plotRect.top, R = m_plotRect.right, B = m_plotRect.bottom;
  const int w0 = metrics.horizontalAdvance(QStringLiteral("0"));
  const int h0 = metrics.height();

  painter.drawLine(L, T - 4, L, B);
  DrawTextAt(painter, {L - w0, T - h0 - 2}, QStringLiteral("Power(W)"));
  DrawValueArrow(painter);
  for (const chart::ValueTick& tick : chart::ValueAxisTicks(m_plotRect, m_yMin, m_yMax)) {
    painter.drawLine(L, tick.y, L - w0, tick.y);
    const QString label = QString::fromStdString(tick.label);
    DrawTextAt(painter,
               ToQt(chart::ValueLabelTopLeft(m_plotRect, w0, tick.y, Measure(metrics, label))),
               label);
  }

  painter.drawLine(L, B, R + 10, B);
  const QPoint xArrow[] = {{R + 5, B - 3}, {R + 10, B}, {R + 4, B + 5}};
  painter.drawPolyline(xArrow, 3);
  DrawTextAt(painter, {R + 15, B - 10}, QStringLiteral("Time"));
  for (const chart::TimeTick& tick : chart::TimeAxisTicks(m_plotRect, m_xStart, m_xEnd)) {
    painter.drawLine(tick.x, B + 2, tick.x, B);
    if (!tick.labelled) continue;
    const QString label = QString::fromStdString(
        FormatLocal(clock_, m_startTime + tick.secondsFromStart, "%H:%M:%S"));
    DrawTextAt(painter,
               ToQt(chart::TimeLabelTopLeft(m_plotRect, tick.x, metrics.horizontalAdvance(label))),
               label);
  }
  painter.restore();
}

void CFlowPane::Draw(QPainter& painter, const chart::Rect* plotRect, int /*reserved*/) {
  DrawAxes(painter);
  if (m_values.empty() || plotRect == nullptr) return;
  chart::ChartState state = State();
  state.plot = *plotRect;
  DrawCurve(painter, *plotRect, chart::BuildDrawnCurve(state), /*plotClean=*/false);
}

void CFlowPane::PaintPlotBackground(QPainter& painter, chart::Rect plot) {
  // The axis line at the left edge and the top three rows keep what the axes drew.
  const QRect inner(plot.left + 1, plot.top + 3, plot.Width() - 1, plot.Height() - 3);
  if (inner.isEmpty()) return;
  painter.save();
  painter.setClipRect(inner);
  painter.translate(inner.topLeft());
  PaintPicturePart(painter, m_background, m_parentOffset + inner.topLeft(), inner.size());
  painter.restore();
}

void CFlowPane::DrawCurve(QPainter& painter, chart::Rect plot, const chart::CurvePath& curve,
                          bool plotClean) {
  if (plot.Width() <= 1 || plot.Height() <= 3 || curve.line.empty()) return;
  // The plot area gets a fresh copy of the picture and then the curve. Everything here is drawn
  // into the off-screen cache, so the curve never flickers over the background.
  if (!plotClean) PaintPlotBackground(painter, plot);
  const QRect inner(plot.left + 1, plot.top + 3, plot.Width() - 1, plot.Height() - 3);
  painter.save();
  painter.setClipRect(inner);
  painter.setPen(QPen(kCurveRed, 0));
  // One polyline per piece: where the link was down the curve leaves a gap.
  std::vector<chart::ColumnSpan> fill;
  for (size_t i = 0; i < curve.PieceCount(); ++i) {
    const std::span<const chart::Point> piece = curve.Piece(i);
    if (piece.size() == 1) {
      painter.drawPoint(ToQt(piece.front()));
      continue;
    }
    painter.drawPolyline(ToPolygon(piece));
    const std::vector<chart::ColumnSpan> spans = chart::FillColumns(piece, plot.bottom);
    fill.insert(fill.end(), spans.begin(), spans.end());
  }
  painter.restore();
  // The cache is the only surface this pane paints on; anything else gets the curve alone.
  auto* image = dynamic_cast<QImage*>(painter.device());
  if (image != nullptr && image->depth() == 32 && painter.transform().isIdentity()) {
    FillUnder(*image, fill, QRect(plot.left, plot.top, plot.Width() + 1, plot.Height() + 1));
  }
}

void CFlowPane::DrawPositionCursor(QPainter& painter) {
  const double m = chart::MinutesAtX(m_plotRect, m_xStart, m_xEnd, m_cursorX);
  const int i = FindSampleIndex(m);
  if (i < 0) return;
  painter.save();
  painter.setPen(QPen(kCursorYellow, 1));
  painter.drawLine(m_cursorX, m_plotRect.bottom - 1, m_cursorX, m_plotRect.top);
  const std::string time =
      FormatLocal(clock_, m_startTime + chart::TruncToInt64(m * 60.0), "%H:%M:%S");
  char text[96];
  std::snprintf(text, sizeof text, "%s %3.1f", time.c_str(), static_cast<double>(m_values[i]));
  painter.setPen(Qt::black);
  painter.setBackgroundMode(Qt::TransparentMode);
  DrawTextAt(painter, {m_cursorX + 2, m_plotRect.top}, QString::fromUtf8(text));
  painter.restore();
}

}  // namespace pyranex::ui
