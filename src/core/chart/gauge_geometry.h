#pragma once

#include <array>
#include <cstdint>

#include "core/chart/geometry.h"

namespace pyranex::chart {

// Needle rotation in degrees for a percentage: 90 at 0 %, 0 at 50 %, -90 at 100 %; not limited.
float NeedleAngleFor(int percent);

// The dial's squares. Only the client width sets the size; the height is not used.
struct Dial {
  double x1 = 0, y1 = 0, width = 0;   // outer square (the outer circle's bounds)
  double x2 = 0, y2 = 0, width2 = 0;  // inner square, 20 px further in
  int radius = 0;
  int centerX = 0;
  int centerY = 0;
};
Dial DialFor(Rect client);

// A point at gauge angle phi (degrees from the left horizontal through the top).
PointF GaugePoint(int centerX, int centerY, double radius, double phiDegrees);

// The tick gap i (0, 1, 2 at 25, 50, 75 %): a strip of the chord's width running inwards from two
// rim points 4 degrees apart, p0 and p1 on the rim, p2 and p3 on the vertical through the centre.
struct Wedge {
  std::array<PointF, 4> points;
};
Wedge WedgeFor(int i, int centerX, int centerY, int radius);

// Top-left of the label of wedge i, placed from its rim point and the extent of "66%".
Point WedgeLabelTopLeft(int i, const Wedge& wedge, Extent labelExtent);
Point ZeroLabelTopLeft(const Dial& dial, Extent labelExtent);
Point HundredLabelTopLeft(const Dial& dial, Extent labelExtent);

// Moves a label of the given width left or right just enough to lie inside the client width
// (the end labels of a narrow panel would otherwise be cut off at its edges).
Point KeepLabelInside(Point topLeft, int labelWidth, int clientWidth);

// The band sector j (0..3, left to right): clockwise angles from the positive x axis, y down.
struct BandSector {
  double startAngle = 0;
  double sweep = 0;
  uint8_t red = 0, green = 0, blue = 0;
};
BandSector BandSectorFor(int j);

// The needle's outline on screen for a rotation, tip at index 2.
std::array<PointF, 5> NeedleOutline(int centerX, int centerY, int radius, float angleDegrees);

}  // namespace pyranex::chart
