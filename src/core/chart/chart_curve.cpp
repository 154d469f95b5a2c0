#include "core/chart/chart_curve.h"

#include <algorithm>
#include <optional>

#include "core/samples/sample_index.h"

namespace pyranex::chart {
namespace {

uint32_t StartMs(double xStart) {
  // The window start in ms, reduced to the tick counter's 32 bits like every tick difference.
  return static_cast<uint32_t>(static_cast<uint64_t>(TruncToInt64(xStart * kMsPerMinute)));
}

double XScale(const ChartState& s) {
  return s.plot.Width() / ((s.xEnd - s.xStart) * kMsPerMinute);
}

}  // namespace

int ValueY(const ChartState& s, double value) {
  const double yScale = s.plot.Height() / (s.yMax - s.yMin);
  const int y = s.plot.bottom - TruncToInt((value - s.yMin) * yScale);
  return std::clamp(y, s.plot.top, s.plot.bottom);
}

int SampleX(const ChartState& s, size_t i) {
  const auto d = static_cast<int32_t>(s.times[i] - StartMs(s.xStart) - s.times[0]);
  const int x = s.plot.left + TruncToInt(d * XScale(s));
  return std::max(x, s.plot.left);
}

namespace {

// Walks the drawn samples with the thinning rule and hands each kept point to `emit`. Returns
// the highest point's y, or nothing when there is nothing to draw.
template <class Emit>
std::optional<int> WalkCurve(const ChartState& s, Emit&& emit) {
  const size_t count = std::min(s.values.size(), s.times.size());
  if (count == 0 || !s.HasValidRanges()) return std::nullopt;
  const std::span<const uint32_t> times = s.times.first(count);

  const int endIndex = FindSampleIndex(times, s.xEnd);
  const int startIndex = FindSampleIndex(times, s.xStart);
  const size_t iEnd = endIndex < 0 ? count : static_cast<size_t>(endIndex);
  const size_t iStart = startIndex < 0 ? 0 : static_cast<size_t>(startIndex);
  const int bottom = s.plot.bottom;

  // The per-sample mapping, hoisted and branch-light: this loop runs for every sample of the day.
  // Clamping in floating point first keeps the conversions defined (NaN lands on the edge).
  const uint32_t origin = s.times[0] + StartMs(s.xStart);
  const double xScale = XScale(s);
  const double yScale = s.plot.Height() / (s.yMax - s.yMin);
  const double left = s.plot.left;
  const double farRight = s.plot.right + 1e6;  // far enough right to stay off the plot
  const auto x_of = [&](size_t i) {
    const double x = left + static_cast<int32_t>(s.times[i] - origin) * xScale;
    return static_cast<int>(x >= left ? (x <= farRight ? x : farRight) : left);
  };
  const double height = s.plot.Height();
  const auto y_of = [&](size_t i) {
    const double up = (s.values[i] - s.yMin) * yScale;
    return bottom - static_cast<int>(up >= 0.0 ? (up <= height ? up : height) : 0.0);
  };

  int lastX = x_of(iStart);
  int colMin = y_of(iStart);
  int colMax = colMin;
  int topY = colMin;
  emit(Point{lastX, colMin});
  for (size_t i = iStart + 1; i < iEnd; ++i) {
    const int x = x_of(i);
    const int y = y_of(i);
    if (x == lastX) {
      if (y > colMax) {
        colMax = y;
        emit(Point{x, y});
      } else if (y < colMin) {
        colMin = y;
        emit(Point{x, y});
      }
    } else {
      emit(Point{x, y});
      lastX = x;
      colMin = colMax = y;
    }
    topY = std::min(topY, y);
  }
  return topY;
}

// Collects points and keeps, per pixel column, only the entry, both extremes in the order they
// were reached, and the exit.
class ColumnReducer {
 public:
  explicit ColumnReducer(std::vector<Point>& out) : out_(out) {}
  ~ColumnReducer() { Flush(); }

  void operator()(Point p) {
    if (count_ > 0 && p.x != entry_.x) Flush();
    if (count_ == 0) {
      entry_ = lowest_ = highest_ = exit_ = p;
      lowestAt_ = highestAt_ = 0;
    } else {
      if (p.y > lowest_.y) {
        lowest_ = p;
        lowestAt_ = count_;
      }
      if (p.y < highest_.y) {
        highest_ = p;
        highestAt_ = count_;
      }
      exit_ = p;
    }
    ++count_;
  }

 private:
  void Flush() {
    if (count_ == 0) return;
    const bool lowestFirst = lowestAt_ < highestAt_;
    for (const Point& p :
         {entry_, lowestFirst ? lowest_ : highest_, lowestFirst ? highest_ : lowest_, exit_}) {
      if (out_.empty() || out_.back() != p) out_.push_back(p);
    }
    count_ = 0;
  }

  std::vector<Point>& out_;
  Point entry_, lowest_, highest_, exit_;
  size_t lowestAt_ = 0, highestAt_ = 0, count_ = 0;
};

}  // namespace

CurvePath BuildCurve(const ChartState& s) {
  CurvePath path;
  const auto topY = WalkCurve(s, [&](Point p) { path.line.push_back(p); });
  path.topY = topY.value_or(0);
  return path;
}

CurvePath BuildDrawnCurve(const ChartState& s) {
  CurvePath path;
  std::optional<int> topY;
  {
    ColumnReducer reducer(path.line);
    topY = WalkCurve(s, reducer);
  }
  path.topY = topY.value_or(0);
  return path;
}

std::vector<Point> ReduceColumns(std::span<const Point> line) {
  std::vector<Point> out;
  out.reserve(std::min<size_t>(line.size(), 4096));
  {
    ColumnReducer reducer(out);
    for (const Point& p : line) reducer(p);
  }
  return out;
}

std::vector<ColumnSpan> FillColumns(std::span<const Point> line, int bottom) {
  std::vector<ColumnSpan> spans;
  if (line.size() < 2) return spans;
  spans.reserve(static_cast<size_t>(std::max(0, line.back().x - line.front().x)));
  size_t i = 0;
  while (i < line.size()) {
    size_t last = i;  // last point of this column's run
    while (last + 1 < line.size() && line[last + 1].x == line[i].x) ++last;
    if (last + 1 >= line.size()) break;
    const Point a = line[last];
    const Point b = line[last + 1];
    for (int c = a.x; c < b.x; ++c) {
      const double top = a.y + static_cast<double>(b.y - a.y) * (c + 0.5 - a.x) / (b.x - a.x);
      const int row = std::min(TruncToInt(std::ceil(top - 0.5)), bottom);
      spans.push_back({c, row, bottom});
    }
    i = last + 1;
  }
  return spans;
}

NewSamplePlan PlanNewSample(const ChartState& s, double value) {
  NewSamplePlan plan;
  const size_t n = std::min(s.values.size(), s.times.size());
  if (n == 0 || !s.HasValidRanges()) return plan;
  const Rect& p = s.plot;
  const double xScale = XScale(s);

  const uint32_t u = s.times[n - 1] - s.times[0] - StartMs(s.xStart);
  // A sample before the window start (possible after a Clear with the window moved right) is
  // not "beyond the end": read as unsigned it would push the end out to before the start.
  if (static_cast<int32_t>(u) < 0) return plan;
  const int x = p.left + TruncToInt(u * xScale);
  if (x > p.right) {
    plan.kind = NewSamplePlan::Kind::kBeyond;
    plan.extendedXEnd = static_cast<uint32_t>(s.times[n - 1] - s.times[0]) / kMsPerMinute +
                        (s.xEnd - s.xStart) / 7.0;
    return plan;
  }

  const double yScale = p.Height() / (s.yMax - s.yMin);
  const int rawY = p.bottom - TruncToInt((value - s.yMin) * yScale);
  plan.aboveRange = rawY < p.top;
  plan.point = {x, std::clamp(rawY, p.top, p.bottom)};
  if (n == 1) {
    plan.kind = NewSamplePlan::Kind::kPixel;
    return plan;
  }

  const double d = static_cast<uint32_t>(s.times[n - 2] - s.times[0]);
  plan.previous = {p.left + TruncToInt((d - s.xStart * kMsPerMinute) * xScale),
                   ValueY(s, s.values[n - 2])};
  plan.kind = NewSamplePlan::Kind::kSegment;
  return plan;
}

double AcceptedWindowStart(std::span<const uint32_t> times, double start) {
  if (times.empty()) return 0.0;
  const uint32_t span = times.back() - times.front();
  if (StartMs(start) >= span) return 0.0;
  return start;
}

double MinutesAtX(Rect plot, double xStart, double xEnd, int x) {
  if (plot.Width() <= 0) return xStart;
  return xStart + (xEnd - xStart) * (x - plot.left) / plot.Width();
}

CursorArea CursorAreaAt(Rect plot, int x, Extent readoutExtent) {
  return {{x, plot.top, x + 1, plot.bottom},
          {x + 1, plot.top, x + 1 + readoutExtent.width, plot.top + readoutExtent.height}};
}

}  // namespace pyranex::chart
