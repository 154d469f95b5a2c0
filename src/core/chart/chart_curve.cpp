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

// The first and the end index of the drawn samples: from the sample nearest the window start to
// the one nearest its end, which is not drawn.
struct DrawnRange {
  size_t first = 0;
  size_t end = 0;
};

DrawnRange DrawnSamples(const ChartState& s, size_t count) {
  const std::span<const uint32_t> times = s.times.first(count);
  const int endIndex = FindSampleIndex(times, s.xEnd);
  const int startIndex = FindSampleIndex(times, s.xStart);
  return {startIndex < 0 ? 0 : static_cast<size_t>(startIndex),
          endIndex < 0 ? count : static_cast<size_t>(endIndex)};
}

// The per-sample mapping of a full repaint, hoisted and branch-light: it runs for every sample of
// the day. Clamping in floating point first keeps the conversions defined (NaN lands on an edge).
class SampleMapping {
 public:
  explicit SampleMapping(const ChartState& s)
      : origin_(s.times[0] + StartMs(s.xStart)),
        xScale_(XScale(s)),
        yScale_(s.plot.Height() / (s.yMax - s.yMin)),
        yMin_(s.yMin),
        left_(s.plot.left),
        farRight_(s.plot.right + 1e6),  // far enough right to stay off the plot
        height_(s.plot.Height()),
        bottom_(s.plot.bottom) {}

  int X(uint32_t time) const {
    const double x = left_ + static_cast<int32_t>(time - origin_) * xScale_;
    return static_cast<int>(x >= left_ ? (x <= farRight_ ? x : farRight_) : left_);
  }
  int Y(float value) const {
    const double up = (value - yMin_) * yScale_;
    return bottom_ - static_cast<int>(up >= 0.0 ? (up <= height_ ? up : height_) : 0.0);
  }

 private:
  uint32_t origin_;
  double xScale_, yScale_, yMin_, left_, farRight_, height_;
  int bottom_;
};

// The thinning rule, one sample at a time: hands each kept point to the sink, telling it when a
// point begins a new piece (after a gap).
struct Thinning {
  uint32_t gapMs = 0;
  bool started = false;
  uint32_t lastTime = 0;
  int lastX = 0, colMin = 0, colMax = 0, topY = 0;

  template <class Sink>
  void Add(int x, int y, uint32_t time, Sink& sink) {
    const bool gap = started && gapMs != 0 && time - lastTime > gapMs;
    lastTime = time;
    if (!started || gap) {
      sink.Add(Point{x, y}, gap);
      topY = started ? std::min(topY, y) : y;
      started = true;
      lastX = x;
      colMin = colMax = y;
      return;
    }
    if (x == lastX) {
      if (y > colMax) {
        colMax = y;
        sink.Add(Point{x, y}, false);
      } else if (y < colMin) {
        colMin = y;
        sink.Add(Point{x, y}, false);
      }
    } else {
      sink.Add(Point{x, y}, false);
      lastX = x;
      colMin = colMax = y;
    }
    topY = std::min(topY, y);
  }
};

// Collects every kept point.
struct LineSink {
  CurvePath& path;
  void Add(Point p, bool newPiece) {
    if (newPiece) path.pieceStarts.push_back(path.line.size());
    path.line.push_back(p);
  }
};

// Keeps, per pixel column of a piece, only the entry, both extremes in the order they were
// reached, and the exit. The column being collected is written out when the next one begins
// (Add) or on demand (WritePending, which keeps it open for more points).
class ColumnReducer {
 public:
  void Add(Point p, bool newPiece, CurvePath& out) {
    if (count_ > 0 && (newPiece || p.x != entry_.x)) Flush(out);
    if (newPiece) {
      out.pieceStarts.push_back(out.line.size());
      pieceFloor_ = out.line.size();
    }
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

  void WritePending(CurvePath& out) const {
    if (count_ == 0) return;
    const bool lowestFirst = lowestAt_ < highestAt_;
    for (const Point& p :
         {entry_, lowestFirst ? lowest_ : highest_, lowestFirst ? highest_ : lowest_, exit_}) {
      // Never merged with the last point of the piece before: each piece starts with its own.
      if (out.line.size() == pieceFloor_ || out.line.back() != p) out.line.push_back(p);
    }
  }

 private:
  void Flush(CurvePath& out) {
    WritePending(out);
    count_ = 0;
  }

  Point entry_, lowest_, highest_, exit_;
  size_t lowestAt_ = 0, highestAt_ = 0, count_ = 0;
  size_t pieceFloor_ = 0;
};

bool Drawable(const ChartState& s) {
  return std::min(s.values.size(), s.times.size()) > 0 && s.HasValidRanges();
}

// The thinning rule and the column reduction in one, for the drawn curve: per pixel column only
// its entry, its range and the order in which the range's ends were last extended are kept,
// which is what ReduceColumns leaves of the thinned points. Same result as Thinning feeding a
// ColumnReducer, with less work per sample.
class DrawnCurveWalker {
 public:
  explicit DrawnCurveWalker(uint32_t gapMs) : gapMs_(gapMs) {}

  void Add(int x, int y, uint32_t time, CurvePath& out) {
    const bool gap = started_ && gapMs_ != 0 && time - lastTime_ > gapMs_;
    lastTime_ = time;
    if (started_ && !gap && x == colX_) {
      if (y > colMax_) {
        colMax_ = y;
        maxAt_ = ++extensions_;
      } else if (y < colMin_) {
        colMin_ = y;
        minAt_ = ++extensions_;
      }
      topY_ = std::min(topY_, y);
      return;
    }
    if (started_) WritePending(out);
    if (gap) {
      out.pieceStarts.push_back(out.line.size());
      pieceFloor_ = out.line.size();
    }
    topY_ = started_ ? std::min(topY_, y) : y;
    started_ = true;
    colX_ = x;
    entryY_ = colMin_ = colMax_ = y;
    minAt_ = maxAt_ = extensions_ = 0;
  }

  // Writes the open column's points; it stays open for more samples.
  void WritePending(CurvePath& out) const {
    if (!started_) return;
    const bool lowestFirst = maxAt_ < minAt_;  // the bottom end (largest y) reached first
    const int exitY = maxAt_ > minAt_ ? colMax_ : minAt_ > maxAt_ ? colMin_ : entryY_;
    for (const int y :
         {entryY_, lowestFirst ? colMax_ : colMin_, lowestFirst ? colMin_ : colMax_, exitY}) {
      const Point p{colX_, y};
      if (out.line.size() == pieceFloor_ || out.line.back() != p) out.line.push_back(p);
    }
  }

  int TopY() const { return topY_; }

 private:
  uint32_t gapMs_;
  bool started_ = false;
  uint32_t lastTime_ = 0;
  int colX_ = 0, entryY_ = 0, colMin_ = 0, colMax_ = 0, topY_ = 0;
  size_t minAt_ = 0, maxAt_ = 0, extensions_ = 0;
  size_t pieceFloor_ = 0;
};

// Hands the walker each sample of [from, to) with its screen position: `add(x, y, time)`.
template <class Add>
void WalkSamples(const ChartState& s, size_t from, size_t to, const SampleMapping& map, Add&& add) {
  // The mapping first, a block at a time in loops without branches that the compiler can
  // vectorise; then the thinning over the mapped block.
  constexpr size_t kBlock = 2048;
  int xs[kBlock];
  int ys[kBlock];
  for (size_t begin = from; begin < to; begin += kBlock) {
    const size_t n = std::min(kBlock, to - begin);
    const uint32_t* times = s.times.data() + begin;
    const float* values = s.values.data() + begin;
    for (size_t k = 0; k < n; ++k) xs[k] = map.X(times[k]);
    for (size_t k = 0; k < n; ++k) ys[k] = map.Y(values[k]);
    for (size_t k = 0; k < n; ++k) add(xs[k], ys[k], times[k]);
  }
}

}  // namespace

std::span<const Point> CurvePath::Piece(size_t i) const {
  const size_t begin = i == 0 ? 0 : pieceStarts[i - 1];
  const size_t end = i < pieceStarts.size() ? pieceStarts[i] : line.size();
  return std::span<const Point>(line).subspan(begin, end - begin);
}

CurvePath BuildCurve(const ChartState& s) {
  CurvePath path;
  if (!Drawable(s)) return path;
  const DrawnRange range = DrawnSamples(s, std::min(s.values.size(), s.times.size()));
  Thinning thinning{s.gapMs};
  LineSink sink{path};
  WalkSamples(s, range.first, std::max(range.end, range.first + 1), SampleMapping(s),
              [&](int x, int y, uint32_t time) { thinning.Add(x, y, time, sink); });
  path.topY = thinning.topY;
  return path;
}

CurvePath BuildDrawnCurve(const ChartState& s) {
  CurvePath path;
  if (!Drawable(s)) return path;
  const DrawnRange range = DrawnSamples(s, std::min(s.values.size(), s.times.size()));
  DrawnCurveWalker walker(s.gapMs);
  WalkSamples(s, range.first, std::max(range.end, range.first + 1), SampleMapping(s),
              [&](int x, int y, uint32_t time) { walker.Add(x, y, time, path); });
  walker.WritePending(path);
  path.topY = walker.TopY();
  return path;
}

std::vector<Point> ReduceColumns(std::span<const Point> line) {
  CurvePath out;
  out.line.reserve(std::min<size_t>(line.size(), 4096));
  ColumnReducer reducer;
  for (const Point& p : line) reducer.Add(p, false, out);
  reducer.WritePending(out);
  return std::move(out.line);
}

// What a walk depends on besides the samples; any change means walking again from the start.
struct CurveCache::Walk {
  Rect plot;
  double yMin = 0, yMax = 0, xStart = 0, xEnd = 0;
  uint32_t gapMs = 0;
  uint32_t firstTime = 0;  // the samples' origin
  size_t first = 0;        // the first drawn sample
  size_t next = 0;         // the next sample to walk
  uint32_t lastWalkedTime = 0;
  size_t committed = 0;  // points of `line` that no later sample can change
  std::optional<DrawnCurveWalker> walker;

  bool SameAs(const ChartState& s, size_t firstDrawn) const {
    return plot == s.plot && yMin == s.yMin && yMax == s.yMax && xStart == s.xStart &&
           xEnd == s.xEnd && gapMs == s.gapMs && firstTime == s.times[0] && first == firstDrawn;
  }
};

CurveCache::CurveCache() = default;
CurveCache::~CurveCache() = default;

void CurveCache::Reset() {
  walk_.reset();
  path_ = {};
}

const CurvePath& CurveCache::Update(const ChartState& s) {
  if (!Drawable(s)) {
    Reset();
    return path_;
  }
  const DrawnRange range = DrawnSamples(s, std::min(s.values.size(), s.times.size()));
  const size_t end = std::max(range.end, range.first + 1);
  // Walked samples must still be those: the window may now end before them, or the samples
  // may have been replaced without a Reset.
  if (walk_ && (!walk_->SameAs(s, range.first) || end < walk_->next ||
                (walk_->next > 0 && s.times[walk_->next - 1] != walk_->lastWalkedTime))) {
    Reset();
  }
  if (!walk_) {
    walk_ = std::make_unique<Walk>();
    Walk& w = *walk_;
    w.plot = s.plot;
    w.yMin = s.yMin;
    w.yMax = s.yMax;
    w.xStart = s.xStart;
    w.xEnd = s.xEnd;
    w.gapMs = s.gapMs;
    w.firstTime = s.times[0];
    w.first = w.next = range.first;
    w.walker.emplace(s.gapMs);
  }
  Walk& walk = *walk_;
  if (end > walk.next) {
    path_.line.resize(walk.committed);  // the open column is written again below
    DrawnCurveWalker& walker = *walk.walker;
    WalkSamples(s, walk.next, end, SampleMapping(s),
                [&](int x, int y, uint32_t time) { walker.Add(x, y, time, path_); });
    walk.next = end;
    walk.lastWalkedTime = s.times[end - 1];
    walk.committed = path_.line.size();
    walker.WritePending(path_);
    path_.topY = walker.TopY();
  }
  return path_;
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
  // The first sample, or the first after a gap, begins a piece of the curve on its own.
  if (n == 1 || (s.gapMs != 0 && s.times[n - 1] - s.times[n - 2] > s.gapMs)) {
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
