#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "core/chart/geometry.h"

namespace pyranex::chart {

// The value axis of a bar chart: from 0 to a round step above the highest value, so the tallest
// bar never touches the top (1 when there is nothing to show).
double BarAxisMax(const std::vector<double>& values);

// Bar i of `count` equal slots across the plot: a third of its slot is left as a gap, split on
// both sides. Its height is value / yMax of the plot's height; a missing (NaN) or non-positive
// value has no bar.
std::optional<Rect> BarRect(Rect plot, size_t count, size_t i, double value, double yMax);
// The slot under client x, if any.
std::optional<size_t> SlotAt(Rect plot, size_t count, int x);
// The centre of slot i, for its label.
int SlotCentre(Rect plot, size_t count, size_t i);
// Every how many slots a label fits, for labels `labelWidth` wide with a little room between.
size_t LabelStride(Rect plot, size_t count, int labelWidth);

}  // namespace pyranex::chart
