#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/chart/geometry.h"

namespace pyranex::chart {

using MeasureText = std::function<Extent(std::string_view)>;

struct PlacedText {
  std::string text;
  Point topLeft;
  friend bool operator==(const PlacedText&, const PlacedText&) = default;
};

// Lays out `lineCount` lines of `text` (lines split at '\n') centred vertically in the box. A line
// with a tab becomes a caption one eighth of the width in from the left and a value ending one
// eighth in from the right (only the first tab splits); other lines are centred. Empty lines
// still take their height but produce no text.
std::vector<PlacedText> LayoutTextBox(std::string_view text, int lineCount, Rect client,
                                      const MeasureText& measure);

}  // namespace pyranex::chart
