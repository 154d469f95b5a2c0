#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/chart/geometry.h"

namespace pyranex::chart {

// Plot area of the chart pane: room on the left for the widest value label ("-0.0000000"),
// on the right for the time caption and arrow (twice the width of a two-glyph caption), below
// for the time labels and above for the power caption.
Rect PlotRectFor(Rect client, Extent valueLabel, int captionWidth);

struct ValueTick {
  int y = 0;
  double value = 0.0;
  std::string label;
};

// Ticks of the value axis from the bottom of the range up to (not beyond) its top.
std::vector<ValueTick> ValueAxisTicks(Rect plot, double yMin, double yMax);

// Top-left of a value label so that it ends where its tick ends and is centred on it, except
// that it never reaches below the top of the time labels: the label of the bottom tick would
// otherwise run into the first time label, which is centred on the axis corner.
Point ValueLabelTopLeft(Rect plot, int tickLength, int tickY, Extent label);

struct TimeTick {
  int x = 0;
  double minutes = 0.0;
  bool labelled = false;
  int64_t secondsFromStart = 0;  // the label's clock time, relative to the start time
};

// Ticks of the time axis that fall inside the plot. Every second tick, counted from the first
// step at or before the window start (drawn or not), carries a label.
std::vector<TimeTick> TimeAxisTicks(Rect plot, double xStart, double xEnd);

inline Point TimeLabelTopLeft(Rect plot, int tickX, int labelWidth) {
  return {tickX - labelWidth / 2, plot.bottom + 2};
}

}  // namespace pyranex::chart
