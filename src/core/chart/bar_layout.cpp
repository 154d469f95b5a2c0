#include "core/chart/bar_layout.h"

#include <algorithm>
#include <cmath>

#include "core/chart/axis_step.h"

namespace pyranex::chart {

double BarAxisMax(const std::vector<double>& values) {
  double top = 0;
  for (const double v : values) {
    if (!std::isnan(v)) top = std::max(top, v);
  }
  if (top <= 0) return 1.0;
  const double step = ComputeAxisStep(0, top * 1.05).step;
  return step > 0 ? std::ceil(top * 1.05 / step) * step : top * 1.05;
}

namespace {
double SlotWidth(Rect plot, size_t count) {
  return count == 0 ? 0.0 : static_cast<double>(plot.Width()) / static_cast<double>(count);
}
}  // namespace

std::optional<Rect> BarRect(Rect plot, size_t count, size_t i, double value, double yMax) {
  if (i >= count || std::isnan(value) || value <= 0 || yMax <= 0) return std::nullopt;
  const double slot = SlotWidth(plot, count);
  const int left = plot.left + TruncToInt(slot * static_cast<double>(i) + slot / 6);
  const int right = plot.left + TruncToInt(slot * static_cast<double>(i + 1) - slot / 6);
  const int height = TruncToInt(std::min(value, yMax) / yMax * plot.Height());
  if (right <= left || height <= 0) return std::nullopt;
  return Rect{left, plot.bottom - height, right, plot.bottom};
}

std::optional<size_t> SlotAt(Rect plot, size_t count, int x) {
  if (count == 0 || x < plot.left || x >= plot.right) return std::nullopt;
  const auto i = static_cast<size_t>((x - plot.left) / SlotWidth(plot, count));
  return std::min(i, count - 1);
}

int SlotCentre(Rect plot, size_t count, size_t i) {
  return plot.left + TruncToInt(SlotWidth(plot, count) * (static_cast<double>(i) + 0.5));
}

size_t LabelStride(Rect plot, size_t count, int labelWidth) {
  const double slot = SlotWidth(plot, count);
  if (slot <= 0) return 1;
  return std::max<size_t>(1, static_cast<size_t>(std::ceil((labelWidth + 6) / slot)));
}

}  // namespace pyranex::chart
