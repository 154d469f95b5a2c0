#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <cstdint>
#include <vector>

#include "core/chart/chart_curve.h"
#include "core/chart/geometry.h"
#include "core/platform/clock.h"
#include "core/platform/notifier.h"
#include "ui/widgets/black_wnd.h"

namespace pyranex::ui {

// The power curve over time, drawn over the part of the background picture under the pane.
// The rendered pane is cached: a new sample draws its segment into the cache and repaints only
// that rectangle; range changes, resizes and tracking rebuild the cache, from the picture with
// the axes (kept while the ranges stay) and the curve's points (walked again only for a new
// window or range).
class CFlowPane final : public CBlackWnd {
  Q_OBJECT

 public:
  // `background` as for CBlackWnd.
  explicit CFlowPane(Notifier& notifier, QWidget* parent = nullptr,
                     const Clock& clock = SystemClock::Instance(),
                     const QImage* background = nullptr);

  void AddPoint(uint32_t tick, double value);
  void SetYRange(double min, double max);
  void SetXRange(double startMinutes, double endMinutes);
  void Clear();
  int FindSampleIndex(double minutes) const;
  void SetCursorVisible(bool show);

  void Draw(QPainter& painter, const chart::Rect* plotRect, int reserved) override;

  // The owner reads and writes these directly (then calls update()); the cached rendering notices
  // changed ranges, start time or samples by itself.
  chart::Rect m_plotRect;
  double m_yMin = 0.0;
  double m_yMax = 0.2;
  std::vector<float> m_values;
  std::vector<uint32_t> m_times;
  double m_xEnd = 1.0;  // the owner's first window is 0 to 1 minute
  double m_xStart = 0.0;
  bool m_autoExtend = true;
  int64_t m_startTime = 0;
  int m_cursorX = 0;
  bool m_cursorVisible = false;
  QPoint m_parentOffset;

  // Repaints the whole pane, composed afresh unless it shows exactly what it last composed.
  void InvalidateAll();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  chart::ChartState State() const;
  void RebuildCache();
  void PaintPlotBackground(QPainter& painter, chart::Rect plot);
  void DrawCurve(QPainter& painter, chart::Rect plot, const chart::CurvePath& curve,
                 bool plotClean);
  void DrawValueArrow(QPainter& painter);
  void DrawAxes(QPainter& painter);
  void DrawPositionCursor(QPainter& painter);
  void InvalidateCursorArea(int x);
  void Layout();
  void EnsureLayout();

  Notifier& notifier_;
  const Clock& clock_;
  QImage cache_;  // the whole pane as last rendered (without the cursor)
  bool cacheValid_ = false;
  // What the cached rendering shows; any difference from the members means it is stale.
  struct Shown {
    double yMin, yMax, xStart, xEnd;
    int64_t startTime;
    size_t samples;
    chart::Rect plot;
    QPoint offset;  // where the pane sits on the picture
    qint64 background;
    bool operator==(const Shown&) const = default;
  };
  Shown Showing() const;
  bool CacheCurrent() const;
  Shown shown_{};
  // The picture under the pane with the axes, and what it was drawn for.
  struct AxesShown {
    double yMin, yMax, xStart, xEnd;
    int64_t startTime;
    chart::Rect plot;
    QPoint offset;
    QFont font;
    bool operator==(const AxesShown&) const = default;
  };
  AxesShown AxesShowing() const;
  QImage axesLayer_;
  AxesShown axesShown_{};
  // The last composition from layers and points, kept until what it shows changes: a full
  // repaint with nothing changed reuses it.
  QImage composed_;
  Shown composedShown_{};
  chart::CurveCache curve_;  // the curve's points, walked once per window and range
  QSize layoutSize_;         // the size m_plotRect was computed for
};

}  // namespace pyranex::ui
