#include "core/chart/text_box_layout.h"

#include <algorithm>
#include <cstdint>

namespace pyranex::chart {
namespace {

std::string_view NthLine(std::string_view text, int n) {
  for (int i = 0; i < n; ++i) {
    const size_t nl = text.find('\n');
    if (nl == std::string_view::npos) return {};
    text.remove_prefix(nl + 1);
  }
  return text.substr(0, text.find('\n'));
}

int LineCountOf(std::string_view text) {
  int n = 1;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace

std::vector<PlacedText> LayoutTextBox(std::string_view text, int lineCount, Rect client,
                                      const MeasureText& measure) {
  std::vector<PlacedText> placed;
  const int L = client.left, T = client.top, R = client.right, B = client.bottom;
  const int64_t hAll = measure(text).height;
  // Absurd line counts put the block far off the box, never into integer overflow.
  const int64_t centred = (B - static_cast<int64_t>(lineCount) * hAll - T) / 2;
  const int y0 = static_cast<int>(std::clamp<int64_t>(centred, -(1 << 24), 1 << 24));
  // Lines past the end of the text are empty: they only shift the centring above.
  const int drawn = lineCount < LineCountOf(text) ? lineCount : LineCountOf(text);
  for (int i = 0; i < drawn; ++i) {
    const std::string_view line = NthLine(text, i);
    const size_t tab = line.find('\t');
    const std::string_view caption = line.substr(0, tab);
    const std::string_view value =
        tab == std::string_view::npos ? std::string_view{} : line.substr(tab + 1);
    const Extent lineExtent = measure(line);
    const int y = i * lineExtent.height + y0;
    if (!value.empty()) {
      placed.push_back({std::string(caption), {L + (R - L) / 8, y}});
      const Extent valueExtent = measure(value);
      placed.push_back(
          {std::string(value), {R - (R - L) / 8 - valueExtent.width, i * valueExtent.height + y0}});
    } else if (!line.empty()) {
      placed.push_back({std::string(line), {(L + R) / 2 - lineExtent.width / 2, y}});
    }
  }
  return placed;
}

}  // namespace pyranex::chart
