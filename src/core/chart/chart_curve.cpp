#include "core/chart/chart_curve.h"

#include <algorithm>

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

CurvePath BuildCurve(const ChartState& s) {
  CurvePath path;
  const size_t count = std::min(s.values.size(), s.times.size());
  if (count == 0 || !s.HasValidRanges()) return path;
  const std::span<const uint32_t> times = s.times.first(count);

  const int endIndex = FindSampleIndex(times, s.xEnd);
  const int startIndex = FindSampleIndex(times, s.xStart);
  const size_t iEnd = endIndex < 0 ? count : static_cast<size_t>(endIndex);
  const size_t iStart = startIndex < 0 ? 0 : static_cast<size_t>(startIndex);
  const int bottom = s.plot.bottom;

  const Point first{SampleX(s, iStart), ValueY(s, s.values[iStart])};
  path.line.reserve(iEnd > iStart ? std::min<size_t>(iEnd - iStart, 4096) + 1 : 1);
  path.line.push_back(first);
  int colMin = first.y;
  int colMax = first.y;
  int topY = first.y;
  for (size_t i = iStart + 1; i < iEnd; ++i) {
    const int x = SampleX(s, i);
    const int y = ValueY(s, s.values[i]);
    if (x == path.line.back().x) {
      if (y > colMax) {
        colMax = y;
        path.line.push_back({x, y});
      } else if (y < colMin) {
        colMin = y;
        path.line.push_back({x, y});
      }
    } else {
      path.line.push_back({x, y});
      colMin = colMax = y;
    }
    topY = std::min(topY, y);
  }

  const Point base{first.x, bottom};
  const int lastX = path.line.back().x;
  path.polygon.reserve(path.line.size() + 3);
  path.polygon.push_back(base);
  path.polygon.insert(path.polygon.end(), path.line.begin(), path.line.end());
  path.polygon.push_back({lastX, bottom});
  path.polygon.push_back(base);
  path.topY = topY;
  path.fillRect = {first.x, topY, lastX, bottom};
  return path;
}

NewSamplePlan PlanNewSample(const ChartState& s) {
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
  const int rawY = p.bottom - TruncToInt((s.values[n - 1] - s.yMin) * yScale);
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
  const Point& a = plan.previous;
  const Point& b = plan.point;
  plan.fillPolygon = {{a.x, p.bottom}, a, b, {b.x, p.bottom}, {a.x, p.bottom}};
  plan.fillRect = {a.x, std::min(a.y, b.y), b.x, p.bottom};
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
