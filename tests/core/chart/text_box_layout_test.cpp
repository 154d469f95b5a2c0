#include "core/chart/text_box_layout.h"

#include <gtest/gtest.h>

namespace pyranex::chart {
namespace {

// A fixed-pitch stand-in for the font: 7 px a byte, 13 px a line.
Extent Measure(std::string_view s) {
  return {7 * static_cast<int>(s.size()), 13};
}

using Items = std::vector<PlacedText>;

TEST(TextBox, PowerLineIsCentred) {
  // The power box at its size in the power view: 164 x 41.
  const Items items = LayoutTextBox("Power  4648.7 W", 1, {0, 0, 164, 41}, Measure);
  // y0 = (41 - 13) / 2; x = 82 - 105 / 2
  EXPECT_EQ(items, (Items{{"Power  4648.7 W", {30, 14}}}));
}

TEST(TextBox, EnergyLinesSplitIntoCaptionAndValue) {
  // The energy box: 222 x 52; one eighth of the width is 27.
  const Items items =
      LayoutTextBox("Today Energy\t27.4kWh\nTotal Energy\t10234.5kWh", 2, {0, 0, 222, 52}, Measure);
  EXPECT_EQ(items, (Items{{"Today Energy", {27, 13}},
                          {"27.4kWh", {146, 13}},  // 222 - 27 - 49
                          {"Total Energy", {27, 26}},
                          {"10234.5kWh", {125, 26}}}));
}

struct LayoutCase {
  const char* name;
  const char* text;
  int lineCount;
  Items expected;
};

class TextBoxCases : public testing::TestWithParam<LayoutCase> {};

TEST_P(TextBoxCases, Layout) {
  const LayoutCase& c = GetParam();
  EXPECT_EQ(LayoutTextBox(c.text, c.lineCount, {0, 0, 160, 100}, Measure), c.expected);
}

// Box 160 x 100: captions at x 20, values end at 140, centre 80.
INSTANTIATE_TEST_SUITE_P(
    Cases, TextBoxCases,
    testing::Values(
        LayoutCase{"NoLines", "Text", 0, {}},
        LayoutCase{"OnlyTheFirstTabSplits", "A\tB\tC", 1, {{"A", {20, 43}}, {"B\tC", {119, 43}}}},
        LayoutCase{"FewerLinesShown", "one\ntwo\nthree", 1, {{"one", {70, 43}}}},
        // Three lines reserved for one: y0 = (100 - 39) / 2
        LayoutCase{"MissingLinesStillTakeHeight", "one", 3, {{"one", {70, 30}}}},
        LayoutCase{"TabWithoutValueIsCentredWhole", "ab\t", 1, {{"ab\t", {70, 43}}}},
        LayoutCase{"EmptyLineInTheMiddle", "a\n\nb", 3, {{"a", {77, 30}}, {"b", {77, 56}}}},
        LayoutCase{"NegativeCountDrawsNothing", "a", -2, {}}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST(TextBox, AbsurdLineCountStaysBounded) {
  const Items items = LayoutTextBox("a\nb", 2000000000, {0, 0, 160, 100}, Measure);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_LT(items[0].topLeft.y, 0);
}

}  // namespace
}  // namespace pyranex::chart
