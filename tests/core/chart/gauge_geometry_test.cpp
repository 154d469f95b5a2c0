#include "core/chart/gauge_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace pyranex::chart {
namespace {

// The gauge at its size in the power view: 207 x 122 pixels.
constexpr Rect kClient{0, 0, 207, 122};

TEST(Dial, SizeComesFromTheWidthOnly) {
  const Dial d = DialFor(kClient);
  EXPECT_EQ(d.width, 147);
  EXPECT_EQ(d.radius, 73);
  EXPECT_EQ(d.centerX, 103);  // trunc(30 + 73.5)
  EXPECT_EQ(d.centerY, 103);
  EXPECT_EQ(d.x2, 50);
  EXPECT_EQ(d.width2, 107);

  const Dial tall = DialFor({0, 0, 207, 500});
  EXPECT_EQ(tall.radius, d.radius);
  const Dial wide = DialFor({0, 0, 307, 122});
  EXPECT_EQ(wide.radius, 123);
  EXPECT_EQ(wide.centerY, 30 + 247 / 2);  // the centre lies 30 + W/2 below the top
}

struct NeedleCase {
  int percent;
  float angle;
  double tipX, tipY;  // for centre (103, 103), radius 73
};

class Needle : public testing::TestWithParam<NeedleCase> {};

TEST_P(Needle, AngleAndTip) {
  const NeedleCase& c = GetParam();
  EXPECT_FLOAT_EQ(NeedleAngleFor(c.percent), c.angle);
  const auto outline = NeedleOutline(103, 103, 73, NeedleAngleFor(c.percent));
  EXPECT_NEAR(outline[2].x, c.tipX, 1e-3);
  EXPECT_NEAR(outline[2].y, c.tipY, 1e-3);
  // The tip is the rim point at gauge angle 1.8 p.
  const PointF rim = GaugePoint(103, 103, 73, 1.8 * c.percent);
  EXPECT_NEAR(outline[2].x, rim.x, 1e-3);
  EXPECT_NEAR(outline[2].y, rim.y, 1e-3);
}

INSTANTIATE_TEST_SUITE_P(Percentages, Needle,
                         testing::Values(NeedleCase{0, 90, 30, 103},  // left end of the band
                                         NeedleCase{25, 45, 103 - 51.618795, 103 - 51.618795},
                                         NeedleCase{50, 0, 103, 30},      // top
                                         NeedleCase{100, -90, 176, 103},  // right end
                                         NeedleCase{120, -126, 103 + 59.058677,
                                                    103 + 42.908303}));  // 36° below

TEST(Needle, BaseIsEightPixelsWideAtTheCentre) {
  const auto outline = NeedleOutline(103, 103, 73, 0.0f);  // upright
  EXPECT_NEAR(outline[0].x, 99, 1e-9);
  EXPECT_NEAR(outline[4].x, 107, 1e-9);
  EXPECT_NEAR(outline[0].y, 103, 1e-9);
  EXPECT_NEAR(outline[1].y, 103 - 71, 1e-9);
}

TEST(Needle, QuarterLiesInsideTheQuarterWedge) {
  // 25 % is gauge angle 45; the first wedge spans 42..46 degrees.
  const double phi = 90.0 - NeedleAngleFor(25);
  EXPECT_GT(phi, 42.0);
  EXPECT_LT(phi, 46.0);
}

double Dot(PointF a, PointF b) {
  return a.x * b.x + a.y * b.y;
}
PointF Minus(PointF a, PointF b) {
  return {a.x - b.x, a.y - b.y};
}

TEST(Wedges, RimPointsFourDegreesApart) {
  const double starts[] = {42, 88, 134};
  for (int i = 0; i < 3; ++i) {
    const Wedge w = WedgeFor(i, 103, 103, 73);
    const PointF p0 = GaugePoint(103, 103, 73, starts[i]);
    const PointF p1 = GaugePoint(103, 103, 73, starts[i] + 4);
    EXPECT_NEAR(w.points[0].x, p0.x, 1e-9) << i;
    EXPECT_NEAR(w.points[0].y, p0.y, 1e-9) << i;
    EXPECT_NEAR(w.points[1].x, p1.x, 1e-9) << i;
    EXPECT_NEAR(w.points[1].y, p1.y, 1e-9) << i;
  }
}

TEST(Wedges, SideWedgesRunPerpendicularToTheChordToTheCentreVertical) {
  for (int i : {0, 2}) {
    const Wedge w = WedgeFor(i, 103, 103, 73);
    const PointF chord = Minus(w.points[1], w.points[0]);
    EXPECT_NEAR(w.points[2].x, 103, 1e-9) << i;
    EXPECT_NEAR(w.points[3].x, 103, 1e-9) << i;
    EXPECT_NEAR(Dot(Minus(w.points[2], w.points[1]), chord), 0, 1e-3) << i;
    EXPECT_NEAR(Dot(Minus(w.points[3], w.points[0]), chord), 0, 1e-3) << i;
  }
  // Mirror images of each other about the vertical through the centre.
  const Wedge left = WedgeFor(0, 103, 103, 73);
  const Wedge right = WedgeFor(2, 103, 103, 73);
  EXPECT_NEAR(left.points[0].x - 103, 103 - right.points[1].x, 1e-6);
  EXPECT_NEAR(left.points[0].y, right.points[1].y, 1e-6);
  EXPECT_NEAR(left.points[3].y, right.points[2].y, 1e-6);
}

TEST(Wedges, TopWedgeIsAVerticalStripDownToTheCentre) {
  const Wedge w = WedgeFor(1, 103, 103, 73);
  EXPECT_NEAR(w.points[2].x, w.points[1].x, 1e-9);
  EXPECT_NEAR(w.points[3].x, w.points[0].x, 1e-9);
  EXPECT_EQ(w.points[2].y, 103);
  EXPECT_EQ(w.points[3].y, 103);
  EXPECT_NEAR(w.points[0].x - w.points[1].x, -2 * 73 * std::sin(2 * 0.0174532925), 1e-6);
}

TEST(Labels, PlacedFromTheRimPointAndTheMeasuredExtent) {
  const Extent e{33, 16};
  const Wedge w0 = WedgeFor(0, 103, 103, 73);
  const Wedge w1 = WedgeFor(1, 103, 103, 73);
  const Wedge w2 = WedgeFor(2, 103, 103, 73);
  // p0 = (48.75, 54.15), (100.45, 30.04), (153.71, 50.49)
  EXPECT_EQ(WedgeLabelTopLeft(0, w0, e), (Point{15, 38}));   // ends at the rim point
  EXPECT_EQ(WedgeLabelTopLeft(1, w1, e), (Point{84, 14}));   // centred on it
  EXPECT_EQ(WedgeLabelTopLeft(2, w2, e), (Point{153, 34}));  // starts there
  const Dial d = DialFor(kClient);
  EXPECT_EQ(ZeroLabelTopLeft(d, e), (Point{-3, 95}));
  EXPECT_EQ(HundredLabelTopLeft(d, e), (Point{176, 95}));
}

struct InsideCase {
  int x, width, client, expected;
};

class KeepInside : public testing::TestWithParam<InsideCase> {};

TEST_P(KeepInside, LabelMovesOnlyAsFarAsNeeded) {
  const InsideCase& c = GetParam();
  EXPECT_EQ(KeepLabelInside({c.x, 9}, c.width, c.client), (Point{c.expected, 9}));
}

INSTANTIATE_TEST_SUITE_P(Cases, KeepInside,
                         testing::Values(InsideCase{-3, 20, 207, 0}, InsideCase{176, 43, 207, 164},
                                         InsideCase{100, 43, 207, 100},
                                         InsideCase{164, 43, 207, 164},
                                         InsideCase{5, 300, 207, 0}));  // wider than the panel

TEST(Band, FourSectorsFillTheUpperHalfBetweenTheWedges) {
  const uint8_t blues[] = {255, 195, 135, 75};
  double end = 180;
  for (int j = 0; j < 4; ++j) {
    const BandSector s = BandSectorFor(j);
    EXPECT_EQ(s.startAngle, j == 0 ? 180 : end + 4) << j;
    EXPECT_EQ(s.sweep, 42) << j;
    EXPECT_EQ(s.red, 0);
    EXPECT_EQ(s.green, 255);
    EXPECT_EQ(s.blue, blues[j]);
    end = s.startAngle + s.sweep;
  }
  EXPECT_EQ(end, 360);
}

}  // namespace
}  // namespace pyranex::chart
