#include "core/chart/dialog_units.h"

#include <gtest/gtest.h>

namespace pyranex::chart {
namespace {

struct PlaceCase {
  int x, y, w, h;
  Rect pixels;
};

class DialogUnits : public testing::TestWithParam<PlaceCase> {};

TEST_P(DialogUnits, EdgesRoundHalfUp) {
  const PlaceCase& c = GetParam();
  EXPECT_EQ(DialogUnitsToPixels(c.x, c.y, c.w, c.h), c.pixels);
}

// The power view's placeholders: chart, energy box, gauge, power box.
INSTANTIATE_TEST_SUITE_P(PowerView, DialogUnits,
                         testing::Values(PlaceCase{16, 12, 425, 169, {24, 20, 662, 294}},
                                         PlaceCase{107, 194, 148, 32, {161, 315, 383, 367}},
                                         PlaceCase{283, 189, 138, 75, {425, 307, 632, 429}},
                                         PlaceCase{300, 264, 109, 25, {450, 429, 614, 470}},
                                         PlaceCase{0, 0, 0, 0, {0, 0, 0, 0}},
                                         PlaceCase{-3, -4, 2, 4, {-5, -7, -2, 0}}));

}  // namespace
}  // namespace pyranex::chart
