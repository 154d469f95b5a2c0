#include "core/chart/gauge_geometry.h"

#include <cmath>

namespace pyranex::chart {
namespace {

constexpr double kRadiansPerDegree = 0.0174532925;

}  // namespace

float NeedleAngleFor(int percent) {
  return static_cast<float>(90 - percent * 1.8);
}

Dial DialFor(Rect client) {
  Dial d;
  d.x1 = client.left + 30;
  d.y1 = client.top + 30;
  d.width = static_cast<double>(client.Width() - 60);
  d.radius = static_cast<int>(d.width) / 2;
  d.centerX = TruncToInt(d.x1 + d.width * 0.5);
  d.centerY = TruncToInt(d.y1 + d.width * 0.5);
  d.x2 = d.x1 + 20;
  d.y2 = d.y1 + 20;
  d.width2 = d.width - 40;
  return d;
}

PointF GaugePoint(int centerX, int centerY, double radius, double phiDegrees) {
  const double a = phiDegrees * kRadiansPerDegree;
  return {centerX - radius * std::cos(a), centerY - radius * std::sin(a)};
}

Wedge WedgeFor(int i, int centerX, int centerY, int radius) {
  const double a1 = 42.0 + 46.0 * i;
  const PointF p0 = GaugePoint(centerX, centerY, radius, a1);
  const PointF p1 = GaugePoint(centerX, centerY, radius, a1 + 4.0);
  // Single precision, as the chord slope of the level top tick must come out as level.
  const float k = static_cast<float>(p1.y - p0.y) / static_cast<float>(p1.x - p0.x);
  PointF p2, p3;
  if (std::fabs(k) >= 0.00001f) {
    p2 = {static_cast<double>(centerX), p1.y - (centerX - p1.x) / k};
    p3 = {static_cast<double>(centerX), p0.y - (centerX - p0.x) / k};
  } else {
    p2 = {p1.x, static_cast<double>(centerY)};
    p3 = {p0.x, static_cast<double>(centerY)};
  }
  return {{p0, p1, p2, p3}};
}

Point WedgeLabelTopLeft(int i, const Wedge& wedge, Extent labelExtent) {
  const PointF& p0 = wedge.points[0];
  const int y = TruncToInt(p0.y - labelExtent.height);
  switch (i) {
    case 0:
      return {TruncToInt(p0.x - labelExtent.width), y};  // ends at the rim point
    case 1:
      return {TruncToInt(p0.x - labelExtent.width / 2), y};  // centred on it
    default:
      return {TruncToInt(p0.x), y};  // starts there
  }
}

Point ZeroLabelTopLeft(const Dial& dial, Extent labelExtent) {
  return {dial.centerX - labelExtent.width - dial.radius, dial.centerY - labelExtent.height / 2};
}

Point HundredLabelTopLeft(const Dial& dial, Extent labelExtent) {
  return {dial.centerX + dial.radius, dial.centerY - labelExtent.height / 2};
}

Point KeepLabelInside(Point topLeft, int labelWidth, int clientWidth) {
  if (topLeft.x + labelWidth > clientWidth) topLeft.x = clientWidth - labelWidth;
  if (topLeft.x < 0) topLeft.x = 0;
  return topLeft;
}

BandSector BandSectorFor(int j) {
  return {180.0 + 46.0 * j, 42.0, 0, 255, static_cast<uint8_t>(255 - 60 * j)};
}

std::array<PointF, 5> NeedleOutline(int centerX, int centerY, int radius, float angleDegrees) {
  const double r = radius;
  const std::array<PointF, 5> upright{{{-4, 0}, {-2, r - 2}, {0, r}, {2, r - 2}, {4, 0}}};
  const double a = angleDegrees * kRadiansPerDegree;
  const double c = std::cos(a);
  const double s = std::sin(a);
  std::array<PointF, 5> out;
  for (size_t i = 0; i < upright.size(); ++i) {
    const double x = upright[i].x * c - upright[i].y * s;
    const double y = upright[i].x * s + upright[i].y * c;
    out[i] = {centerX + x, centerY - y};  // world y points up
  }
  return out;
}

}  // namespace pyranex::chart
