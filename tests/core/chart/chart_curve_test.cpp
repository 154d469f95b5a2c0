#include "core/chart/chart_curve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace pyranex::chart {
namespace {

// A plot of 10 x 100 pixels: with a 0..10 minute window one pixel column is one minute, and with
// a 0..100 value range one pixel row is one unit (y = 100 - value).
struct Samples {
  std::vector<float> values;
  std::vector<uint32_t> times;

  void Add(double minute, float value, uint32_t origin = 0) {
    values.push_back(value);
    times.push_back(origin + static_cast<uint32_t>(minute * 60000.0 + 0.5));
  }
  ChartState State(double xStart = 0, double xEnd = 10, Rect plot = {0, 0, 10, 100}) const {
    return {values, times, plot, 0.0, 100.0, xStart, xEnd};
  }
};

TEST(ChartCurve, ValueYIsClampedToThePlot) {
  Samples s;
  const ChartState state = s.State();
  EXPECT_EQ(ValueY(state, 30), 70);
  EXPECT_EQ(ValueY(state, 250), 0);
  EXPECT_EQ(ValueY(state, -40), 100);
}

TEST(ChartCurve, NoSamplesNoCurve) {
  Samples s;
  EXPECT_TRUE(BuildCurve(s.State()).line.empty());
}

TEST(ChartCurve, OneSampleGivesADegeneratePolygon) {
  Samples s;
  s.Add(0, 40);
  const CurvePath curve = BuildCurve(s.State());
  ASSERT_EQ(curve.line.size(), 1u);
  EXPECT_EQ(curve.line[0], (Point{0, 60}));
  EXPECT_TRUE(FillColumns(curve.line, 100).empty());  // no area under a single point
}

TEST(ChartCurve, SamplesInOneColumnJoinOnlyWhenTheyExtendItsRange) {
  Samples s;
  s.Add(0.0, 50);  // first point (0, 50)
  s.Add(0.1, 60);  // y 40 raises the column: joined
  s.Add(0.2, 55);  // y 45 inside [40, 50]: skipped
  s.Add(0.3, 30);  // y 70 lowers it: joined
  s.Add(0.4, 45);  // y 55 inside [40, 70]: skipped
  s.Add(1.0, 20);  // new column
  s.Add(1.5, 20);  // same y in the same column: skipped
  s.Add(2.0, 90);  // new column, highest point
  s.Add(12.0, 0);  // nearest to the window end: not drawn
  const CurvePath curve = BuildCurve(s.State());
  EXPECT_EQ(curve.line, (std::vector<Point>{{0, 50}, {0, 40}, {0, 70}, {1, 80}, {2, 10}}));
  EXPECT_EQ(curve.topY, 10);
  // The fill leaves the column's run (no area) and follows the segments between columns,
  // topped where they cross each column's centre: 70 -> 80 at 0.5, 80 -> 10 at 1.5.
  EXPECT_EQ(FillColumns(curve.line, 100), (std::vector<ColumnSpan>{{0, 75, 100}, {1, 45, 100}}));
}

TEST(ChartCurve, WindowEndingInsideTheDataStopsBeforeTheNearestSample) {
  Samples s;
  for (int m = 0; m <= 20; ++m) s.Add(m, static_cast<float>(m));
  // Window 0..10: sample 10 is nearest to the end and is not drawn; sample 9 is the last.
  const CurvePath curve = BuildCurve(s.State(0, 10));
  ASSERT_EQ(curve.line.size(), 10u);
  EXPECT_EQ(curve.line.back(), (Point{9, 91}));
}

TEST(ChartCurve, WindowStartingInsideTheDataBeginsAtTheNearestSample) {
  Samples s;
  for (int m = 0; m <= 20; ++m) s.Add(m, static_cast<float>(m));
  const CurvePath curve = BuildCurve(s.State(5, 15));
  ASSERT_FALSE(curve.line.empty());
  EXPECT_EQ(curve.line.front(), (Point{0, 95}));  // sample 5 at the left edge
  EXPECT_EQ(curve.line.back(), (Point{9, 86}));   // sample 14; 15 is nearest to the end
}

TEST(ChartCurve, SamplesLeftOfTheWindowAreRaisedToTheLeftEdge) {
  Samples s;
  for (int m = 0; m <= 4; ++m) s.Add(m, 10);
  EXPECT_EQ(SampleX(s.State(3, 13, {20, 0, 30, 100}), 0), 20);
  EXPECT_EQ(SampleX(s.State(3, 13, {20, 0, 30, 100}), 4), 21);
}

TEST(ChartCurve, TickCountWrapBetweenSamplesKeepsPositions) {
  Samples s;
  const uint32_t origin = 0xFFFFFFFFu - 30000u;  // wraps half a minute in
  for (int m = 0; m <= 5; ++m) s.Add(m, 50, origin);
  const CurvePath curve = BuildCurve(s.State());
  ASSERT_EQ(curve.line.size(), 6u);
  for (int m = 0; m <= 5; ++m) EXPECT_EQ(curve.line[m].x, m);
}

TEST(ChartCurve, InvalidRangesDrawNothing) {
  Samples s;
  s.Add(0, 1);
  s.Add(1, 2);
  ChartState state = s.State();
  state.yMax = state.yMin;
  EXPECT_TRUE(BuildCurve(state).line.empty());
  state = s.State(5, 5);
  EXPECT_TRUE(BuildCurve(state).line.empty());
  EXPECT_EQ(PlanNewSample(state).kind, NewSamplePlan::Kind::kNothing);
}

TEST(ChartCurve, ColumnReductionKeepsEntryExtremesAndExit) {
  const std::vector<Point> line{{0, 50}, {0, 40}, {0, 45}, {0, 70}, {0, 60},
                                {0, 55}, {1, 80}, {2, 10}, {2, 20}};
  EXPECT_EQ(ReduceColumns(line),
            (std::vector<Point>{{0, 50}, {0, 40}, {0, 70}, {0, 55}, {1, 80}, {2, 10}, {2, 20}}));
  EXPECT_TRUE(ReduceColumns({}).empty());
}

TEST(ChartCurve, DrawnCurveIsTheReducedThinnedCurve) {
  // A noisy day: many samples per column, so the reduction has work to do.
  Samples s;
  for (int i = 0; i < 20000; ++i) {
    s.Add(i * 0.0005, static_cast<float>(50 + 40 * std::sin(i * 0.37) * std::sin(i * 0.0011)));
  }
  for (double end : {10.0, 5.0}) {
    const ChartState state = s.State(0, end);
    const CurvePath thinned = BuildCurve(state);
    const CurvePath drawn = BuildDrawnCurve(state);
    EXPECT_EQ(drawn.line, ReduceColumns(thinned.line));
    EXPECT_EQ(drawn.topY, thinned.topY);
    EXPECT_LE(drawn.line.size(), 4u * 11u);
    EXPECT_EQ(FillColumns(drawn.line, 100), FillColumns(thinned.line, 100));
  }
}

TEST(ChartCurve, FillStopsAtTheBottomAndSpansEveryColumnOnce) {
  const std::vector<Point> line{{2, 100}, {5, 40}, {5, 90}, {9, 90}};
  const auto spans = FillColumns(line, 100);
  ASSERT_EQ(spans.size(), 7u);  // columns 2..8
  for (size_t i = 0; i < spans.size(); ++i) {
    EXPECT_EQ(spans[i].x, static_cast<int>(2 + i));
    EXPECT_EQ(spans[i].bottom, 100);
    EXPECT_LE(spans[i].top, 100);
  }
  EXPECT_EQ(spans[0].top, 90);  // 100 -> 40 over three columns, crossing at 0.5: 90
  EXPECT_EQ(spans[3].top, 90);  // after the run at column 5 the level line at 90
}

// --- gaps: the link was down ---

TEST(CurveGap, SamplesFurtherApartThanTheGapAreNotJoined) {
  struct Case {
    const char* name;
    std::vector<double> minutes;
    uint32_t gapMs;
    std::vector<size_t> pieceStarts;
  };
  const std::vector<Case> cases = {
      {"no gap rule", {0, 1, 2, 5, 6, 9}, 0, {}},
      {"two gaps", {0, 1, 2, 5, 6, 9}, 90000, {3, 5}},
      {"spacing equal to the gap joins", {0, 1.5, 3}, 90000, {}},
      {"one millisecond more does not", {0, 1.5, 3.0 + 1.0 / 60000}, 90000, {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Samples s;
    for (double m : c.minutes) s.Add(m, 50);
    ChartState state = s.State();
    state.gapMs = c.gapMs;
    const CurvePath curve = BuildCurve(state);
    ASSERT_EQ(curve.line.size(), c.minutes.size());
    EXPECT_EQ(curve.pieceStarts, c.pieceStarts);
    EXPECT_EQ(curve.PieceCount(), c.pieceStarts.size() + 1);
    EXPECT_EQ(BuildDrawnCurve(state).pieceStarts, c.pieceStarts);
  }
}

TEST(CurveGap, NoLineAndNoFillAcrossTheGap) {
  // Window 0..10 on 10 columns: samples at minutes 0..2 and 6..8, the link down from 2 to 6.
  Samples s;
  for (double m : {0.0, 1.0, 2.0, 6.0, 7.0, 8.0}) s.Add(m, 40);
  ChartState state = s.State();
  state.gapMs = 60000;
  const CurvePath curve = BuildDrawnCurve(state);
  ASSERT_EQ(curve.PieceCount(), 2u);
  const auto first = curve.Piece(0);
  const auto second = curve.Piece(1);
  EXPECT_EQ(std::vector<Point>(first.begin(), first.end()),
            (std::vector<Point>{{0, 60}, {1, 60}, {2, 60}}));
  EXPECT_EQ(std::vector<Point>(second.begin(), second.end()),
            (std::vector<Point>{{6, 60}, {7, 60}, {8, 60}}));
  std::vector<ColumnSpan> fill;
  for (size_t i = 0; i < curve.PieceCount(); ++i) {
    for (const ColumnSpan& span : FillColumns(curve.Piece(i), 100)) fill.push_back(span);
  }
  EXPECT_EQ(fill,
            (std::vector<ColumnSpan>{{0, 60, 100}, {1, 60, 100}, {6, 60, 100}, {7, 60, 100}}));
}

TEST(CurveGap, APieceMayStartWhereTheLastEndedAndStillCounts) {
  // The link came back within the same pixel column at the same height: the new piece keeps its
  // own first point (a single point is drawn as a pixel).
  Samples s;
  s.Add(0.0, 40);
  s.Add(0.5, 40);
  ChartState state = s.State();
  state.gapMs = 1000;
  const CurvePath curve = BuildDrawnCurve(state);
  EXPECT_EQ(curve.line, (std::vector<Point>{{0, 60}, {0, 60}}));
  EXPECT_EQ(curve.pieceStarts, (std::vector<size_t>{1}));
}

TEST(CurveGap, DrawnPiecesAreTheReducedThinnedPieces) {
  Samples s;
  double minute = 0;
  for (int i = 0; i < 20000; ++i) {
    minute += i % 3000 == 2999 ? 0.3 : 0.0005;  // the link down for 18 s now and then
    s.Add(minute, static_cast<float>(50 + 40 * std::sin(i * 0.37) * std::sin(i * 0.0011)));
  }
  ChartState state = s.State(0, 12);
  state.gapMs = 6000;
  const CurvePath thinned = BuildCurve(state);
  const CurvePath drawn = BuildDrawnCurve(state);
  ASSERT_EQ(thinned.PieceCount(), 7u);
  ASSERT_EQ(drawn.PieceCount(), thinned.PieceCount());
  for (size_t i = 0; i < drawn.PieceCount(); ++i) {
    const auto piece = drawn.Piece(i);
    EXPECT_EQ(std::vector<Point>(piece.begin(), piece.end()), ReduceColumns(thinned.Piece(i))) << i;
  }
  EXPECT_EQ(drawn.topY, thinned.topY);
}

TEST(CurveGap, FirstSampleAfterAGapIsASinglePixel) {
  Samples s;
  s.Add(0, 25);
  s.Add(3, 40);
  ChartState state = s.State();
  state.gapMs = 3 * 60000;
  EXPECT_EQ(PlanNewSample(state).kind, NewSamplePlan::Kind::kSegment);
  state.gapMs = 3 * 60000 - 1;
  const NewSamplePlan plan = PlanNewSample(state);
  EXPECT_EQ(plan.kind, NewSamplePlan::Kind::kPixel);
  EXPECT_EQ(plan.point, (Point{3, 60}));
}

// The cached curve is the curve of a fresh walk whatever happened since the last one.
TEST(CurveCache, EqualsAFreshWalkAfterNewSamplesAndChangedRanges) {
  Samples s;
  CurveCache cache;
  const auto expectFresh = [&](ChartState state, const char* what) {
    const CurvePath fresh = BuildDrawnCurve(state);
    const CurvePath& cached = cache.Update(state);
    EXPECT_EQ(cached.line, fresh.line) << what << " after " << s.values.size();
    EXPECT_EQ(cached.pieceStarts, fresh.pieceStarts) << what;
    EXPECT_EQ(cached.topY, fresh.topY) << what;
  };
  double minute = 0;
  for (int i = 0; i < 3000; ++i) {
    // Noisy, with the link down now and then.
    minute += i % 700 == 699 ? 0.5 : 0.002;
    s.Add(minute, static_cast<float>(50 + 45 * std::sin(i * 0.37) * std::sin(i * 0.003)));
    ChartState state = s.State(0, 10);
    state.gapMs = 10000;
    if (i % 97 == 0 || i < 5) expectFresh(state, "appended");
    if (i % 500 == 250) {
      expectFresh(s.State(0, 10.5), "window end moved, no gap rule");
      ChartState other = state;
      other.yMax = 80;
      expectFresh(other, "value range changed");
      other = state;
      other.xStart = 1;
      other.xEnd = 3;  // ends inside the data
      expectFresh(other, "window inside the data");
      other.plot = {5, 2, 25, 90};
      expectFresh(other, "plot moved");
    }
  }
  // Cleared and filled anew: Reset, then a fresh walk again.
  s = Samples{};
  cache.Reset();
  for (int i = 0; i < 50; ++i) s.Add(i * 0.1, 30);
  expectFresh(s.State(), "refilled");
  EXPECT_TRUE(cache.Update(Samples{}.State()).line.empty());
}

// --- a new sample ---

using Kind = NewSamplePlan::Kind;

TEST(NewSample, FirstSampleIsASinglePixel) {
  Samples s;
  s.Add(0, 25);
  const NewSamplePlan plan = PlanNewSample(s.State());
  EXPECT_EQ(plan.kind, Kind::kPixel);
  EXPECT_EQ(plan.point, (Point{0, 75}));
  EXPECT_FALSE(plan.aboveRange);
}

TEST(NewSample, NextSampleIsASegmentWithItsFill) {
  Samples s;
  s.Add(0, 25);
  s.Add(3, 40);
  const NewSamplePlan plan = PlanNewSample(s.State());
  EXPECT_EQ(plan.kind, Kind::kSegment);
  EXPECT_EQ(plan.previous, (Point{0, 75}));
  EXPECT_EQ(plan.point, (Point{3, 60}));
  const Point segment[] = {plan.previous, plan.point};
  EXPECT_EQ(FillColumns(segment, 100),
            (std::vector<ColumnSpan>{{0, 72, 100}, {1, 67, 100}, {2, 62, 100}}));
}

struct RangeCase {
  float value;
  int y;
  bool above;
};

class NewSampleRange : public testing::TestWithParam<RangeCase> {};

TEST_P(NewSampleRange, ValueOutsideTheRangeIsDrawnAtTheEdge) {
  Samples s;
  s.Add(0, 10);
  s.Add(1, GetParam().value);
  const NewSamplePlan plan = PlanNewSample(s.State());
  EXPECT_EQ(plan.point.y, GetParam().y);
  EXPECT_EQ(plan.aboveRange, GetParam().above);
}

INSTANTIATE_TEST_SUITE_P(Values, NewSampleRange,
                         testing::Values(RangeCase{100, 0, false}, RangeCase{100.5f, 0, false},
                                         RangeCase{101, 0, true}, RangeCase{5000, 0, true},
                                         RangeCase{-20, 100, false}, RangeCase{0, 100, false}));

TEST(NewSample, RangeCheckUsesTheValueAsGiven) {
  // The stored copy (1e-6f) would land on the top edge; the value given lies two rows above it.
  Samples s;
  s.Add(0, 0);
  s.Add(1, 1e-6f);
  ChartState state = s.State();
  state.yMax = 1e-6;
  EXPECT_TRUE(PlanNewSample(state, 1.02e-6).aboveRange);
  EXPECT_FALSE(PlanNewSample(state, 1e-6).aboveRange);
}

TEST(NewSample, BeyondTheWindowEndProposesTheTrackingEnd) {
  Samples s;
  s.Add(0, 10);
  s.Add(1.5, 10);  // x = 15 on a 10-pixel plot of 0..1 minute... beyond 10
  const NewSamplePlan plan = PlanNewSample(s.State(0, 1));
  EXPECT_EQ(plan.kind, Kind::kBeyond);
  EXPECT_DOUBLE_EQ(plan.extendedXEnd, 1.5 + 1.0 / 7.0);
}

TEST(NewSample, AtTheWindowEndIsStillDrawn) {
  Samples s;
  s.Add(0, 10);
  s.Add(10, 10);
  EXPECT_EQ(PlanNewSample(s.State(0, 10)).kind, Kind::kSegment);
}

TEST(NewSample, BeforeTheWindowStartIsNotBeyondTheEnd) {
  // After a Clear with the window moved right, the first samples of the new day lie before it.
  Samples s;
  s.Add(0, 10);
  const NewSamplePlan plan = PlanNewSample(s.State(600, 1440));
  EXPECT_EQ(plan.kind, Kind::kNothing);
}

// --- the window ---

struct StartCase {
  double start;
  double accepted;
};

class WindowStart : public testing::TestWithParam<StartCase> {};

TEST_P(WindowStart, StartsOutsideTheDataFallBackToZero) {
  Samples s;
  for (int m = 0; m <= 10; ++m) s.Add(m, 1);
  EXPECT_DOUBLE_EQ(AcceptedWindowStart(s.times, GetParam().start), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(Starts, WindowStart,
                         testing::Values(StartCase{5, 5}, StartCase{9.99, 9.99},
                                         StartCase{10, 0},     // at the last sample
                                         StartCase{12, 0},     // after it
                                         StartCase{-1, 0},     // negative: huge unsigned
                                         StartCase{-1439, 0},  // less than a day back
                                         StartCase{0, 0}));

TEST(WindowStart, NoSamplesMeansZero) {
  EXPECT_EQ(AcceptedWindowStart({}, 3.0), 0.0);
}

TEST(Cursor, MinutesUnderAPixelAndItsArea) {
  constexpr Rect plot{60, 15, 590, 245};
  EXPECT_DOUBLE_EQ(MinutesAtX(plot, 0, 1440, 325), 720);
  EXPECT_DOUBLE_EQ(MinutesAtX(plot, 60, 120, 60), 60);
  const CursorArea area = CursorAreaAt(plot, 200, {150, 14});
  EXPECT_EQ(area.column, (Rect{200, 15, 201, 245}));
  EXPECT_EQ(area.readout, (Rect{201, 15, 351, 29}));
}

}  // namespace
}  // namespace pyranex::chart
