#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/chart/geometry.h"

namespace pyranex::chart {

inline constexpr double kMsPerMinute = 60000.0;

// What the chart plots: samples (value, tick in ms) and the visible window.
struct ChartState {
  std::span<const float> values;
  std::span<const uint32_t> times;
  Rect plot;
  double yMin = 0.0;
  double yMax = 0.0;
  double xStart = 0.0;  // minutes after the first sample
  double xEnd = 0.0;

  bool HasValidRanges() const { return yMax > yMin && xEnd > xStart && plot.Width() > 0; }
};

// Screen y of a value, clamped to the plot. ChartState must have valid ranges.
int ValueY(const ChartState& s, double value);
// Screen x of sample i in a full repaint; never left of the plot, not limited on the right.
int SampleX(const ChartState& s, size_t i);

// The curve of a full repaint: the polyline from the first drawn sample on, after the thinning
// rule (samples that share a pixel column are joined only when they extend that column's
// vertical range). The sample nearest the window end is not drawn. Empty when there is nothing
// to draw (no samples or invalid ranges).
struct CurvePath {
  std::vector<Point> line;
  int topY = 0;  // highest point of the curve (smallest y)
};
CurvePath BuildCurve(const ChartState& s);

// Drawing aid that keeps the pixels of a 1-pixel polyline but drops points: a run of points in
// one pixel column only ever covers the span between its lowest and highest point, so entry,
// extremes and exit per column suffice.
std::vector<Point> ReduceColumns(std::span<const Point> line);

// BuildCurve followed by ReduceColumns in one pass, without the intermediate polyline.
CurvePath BuildDrawnCurve(const ChartState& s);

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
  Kind kind = Kind::kNothing;
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
