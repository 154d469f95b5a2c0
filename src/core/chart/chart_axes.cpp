#include "core/chart/chart_axes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/chart/axis_step.h"

namespace pyranex::chart {

Rect PlotRectFor(Rect client, Extent valueLabel, int captionWidth) {
  return {valueLabel.width, client.top + valueLabel.height, client.right - 2 * captionWidth,
          client.bottom - 2 * valueLabel.height};
}

std::vector<ValueTick> ValueAxisTicks(Rect plot, double yMin, double yMax) {
  std::vector<ValueTick> ticks;
  const AxisStep axis = ComputeAxisStep(yMin, yMax);
  if (axis.step <= 0.0) return ticks;
  const double scale = plot.Height() / (yMax - yMin);
  const int64_t k1 = TruncToInt64(std::floor(yMin / axis.step));
  const int64_t k2 = TruncToInt64(std::ceil(yMax / axis.step));
  for (int64_t k = k1; k <= k2; ++k) {
    const double v = static_cast<double>(k) * axis.step;
    if (v > yMax) break;
    // A tick below the range would sit under the axis and name a value that is not there.
    if (v < yMin) continue;
    char label[64];
    std::snprintf(label, sizeof label, axis.format.c_str(), v);
    ticks.push_back({plot.bottom - TruncToInt((v - yMin) * scale), v, label});
  }
  return ticks;
}

Point ValueLabelTopLeft(Rect plot, int tickLength, int tickY, Extent label) {
  const int lowestTop = TimeLabelTopLeft(plot, plot.left, 0).y - label.height;
  return {plot.left - tickLength - label.width, std::min(tickY - label.height / 2, lowestTop)};
}

std::vector<TimeTick> TimeAxisTicks(Rect plot, double xStart, double xEnd) {
  std::vector<TimeTick> ticks;
  if (!(xEnd > xStart)) return ticks;
  const double step = TimeAxisStep(xStart, xEnd);
  if (step <= 0.0) return ticks;
  const int64_t k1 = TruncToInt64(std::floor(xStart / step));
  const int64_t k2 = TruncToInt64(std::ceil(xEnd / step));
  const double scale = plot.Width() / (xEnd - xStart);
  int64_t j = 0;
  for (int64_t k = k1; k <= k2; ++k, ++j) {
    const double v = static_cast<double>(k) * step;
    const int x = plot.left + TruncToInt((v - xStart) * scale);
    if (x < plot.left || x > plot.right) continue;
    ticks.push_back({x, v, j % 2 == 0, TruncToInt64(v * 60.0)});
  }
  return ticks;
}

}  // namespace pyranex::chart
