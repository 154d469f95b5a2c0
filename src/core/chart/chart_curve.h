#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/chart/geometry.h"

namespace pyranex::chart {

inline constexpr double kMsPerMinute = 60000.0;

// The pane leaves a gap in the curve where two samples lie further apart than this: the link was
// down. Live data is polled about once a second and a reply that does not come is given 2 s, so
// one or two missed polls (samples up to about 5.5 s apart) still join, while three missed polls
// in a row, after which the link reports a time-out, a lost device or a reconnect (7 s and more)
// leave a gap. Six seconds is about six poll periods.
inline constexpr uint32_t kCurveGapMs = 6000;

// What the chart plots: samples (value, tick in ms) and the visible window.
struct ChartState {
  std::span<const float> values;
  std::span<const uint32_t> times;
  Rect plot;
  double yMin = 0.0;
  double yMax = 0.0;
  double xStart = 0.0;  // minutes after the first sample
  double xEnd = 0.0;
  // Two samples further apart than this (ms) are not joined; 0 joins every sample.
  uint32_t gapMs = 0;

  bool HasValidRanges() const { return yMax > yMin && xEnd > xStart && plot.Width() > 0; }
};

// Screen y of a value, clamped to the plot. ChartState must have valid ranges.
int ValueY(const ChartState& s, double value);
// Screen x of sample i in a full repaint; never left of the plot, not limited on the right.
int SampleX(const ChartState& s, size_t i);

// The curve of a full repaint: the polyline from the first drawn sample on, after the thinning
// rule (samples that share a pixel column are joined only when they extend that column's
// vertical range). The sample nearest the window end is not drawn. Empty when there is nothing
// to draw (no samples or invalid ranges). A gap (gapMs) ends one piece of the curve and the next
// sample begins the next; each piece is a polyline of its own, a single point when it has one.
struct CurvePath {
  std::vector<Point> line;
  std::vector<size_t> pieceStarts;  // where each piece after the first begins in `line`
  int topY = 0;                     // highest point of the curve (smallest y)

  size_t PieceCount() const { return line.empty() ? 0 : pieceStarts.size() + 1; }
  std::span<const Point> Piece(size_t i) const;
};
CurvePath BuildCurve(const ChartState& s);

// Drawing aid that keeps the pixels of a 1-pixel polyline but drops points: a run of points in
// one pixel column only ever covers the span between its lowest and highest point, so entry,
// extremes and exit per column suffice.
std::vector<Point> ReduceColumns(std::span<const Point> line);

// BuildCurve followed by ReduceColumns (piece by piece) in one pass, without the intermediate
// polyline.
CurvePath BuildDrawnCurve(const ChartState& s);

// BuildDrawnCurve kept for a pane that repaints often: the samples are walked once for a window,
// range and plot, and a repaint after new samples walks only those. Samples are only ever
// appended; Reset after they were cleared or replaced.
class CurveCache {
 public:
  CurveCache();
  ~CurveCache();
  CurveCache(const CurveCache&) = delete;
  CurveCache& operator=(const CurveCache&) = delete;

  // Equals BuildDrawnCurve(s).
  const CurvePath& Update(const ChartState& s);
  void Reset();

 private:
  struct Walk;
  std::unique_ptr<Walk> walk_;
  CurvePath path_;
};

// The area under a curve as one vertical span per pixel column, rows [top, bottom): each column
// from the first point's up to (not including) the last point's, topped by the line crossing
// the column's centre. Columns a run of same-column points spans add nothing (no area).
struct ColumnSpan {
  int x = 0;
  int top = 0;
  int bottom = 0;
  friend bool operator==(const ColumnSpan&, const ColumnSpan&) = default;
};
std::vector<ColumnSpan> FillColumns(std::span<const Point> line, int bottom);

// What a newly appended sample (the last in the state) needs drawn.
struct NewSamplePlan {
  enum class Kind {
    kNothing,  // ranges invalid, or the sample lies before the window start
    kBeyond,   // right of the window: extend it (tracking) or draw nothing
    kPixel,    // first sample: a single pixel
    kSegment,  // a segment from the previous sample
  };
  Kind kind = Kind::kNothing;  // kPixel also for the first sample after a gap
  Point point;
  Point previous;
  bool aboveRange = false;    // the value lies above yMax (drawn at the top edge)
  double extendedXEnd = 0.0;  // the window end that tracking would set (kBeyond)
};

// `value` is the new sample as given (before it was stored in single precision).
NewSamplePlan PlanNewSample(const ChartState& s, double value);
inline NewSamplePlan PlanNewSample(const ChartState& s) {
  return PlanNewSample(s, s.values.empty() ? 0.0 : s.values.back());
}

// The window start SetXRange accepts: 0 when there are no samples or when the start (its low 32
// bits of milliseconds, compared unsigned) is not before the last sample.
double AcceptedWindowStart(std::span<const uint32_t> times, double start);

// Minute offset under a client x.
double MinutesAtX(Rect plot, double xStart, double xEnd, int x);

// The two rectangles a position cursor at x covers: its column and its read-out box.
struct CursorArea {
  Rect column;
  Rect readout;
};
CursorArea CursorAreaAt(Rect plot, int x, Extent readoutExtent);

}  // namespace pyranex::chart
