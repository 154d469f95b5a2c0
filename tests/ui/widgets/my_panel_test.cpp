#include "ui/widgets/my_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <cmath>

#include "core/chart/gauge_geometry.h"
#include "picture_dir.h"

namespace pyranex::ui {
namespace {

using test::PaintCounter;
using test::PictureDir;

bool IsNeedleDark(QColor c) {
  return c.red() < 70 && c.green() < 70 && c.blue() < 70;
}

class PanelNeedle : public testing::TestWithParam<int> {};

TEST_P(PanelNeedle, DarkPixelsLieAlongTheExpectedRay) {
  PictureDir dir;
  dir.WriteUniform(QColor(230, 230, 230));
  CMyPanel panel;
  panel.resize(207, 122);
  panel.SetPercent(GetParam());
  const QImage image = panel.grab().toImage();
  EXPECT_EQ(panel.m_radius, 73);
  EXPECT_EQ(panel.m_centerX, 103);
  EXPECT_EQ(panel.m_centerY, 103);

  const double phi = 1.8 * GetParam() * 0.0174532925;  // gauge angle, from the left through the top
  int checked = 0;
  for (double t = 0.1; t <= 0.9; t += 0.05) {
    const int x = static_cast<int>(std::lround(103 - t * 73 * std::cos(phi)));
    const int y = static_cast<int>(std::lround(103 - t * 73 * std::sin(phi)));
    if (!image.rect().contains(x, y)) continue;
    EXPECT_TRUE(IsNeedleDark(image.pixelColor(x, y))) << "t " << t << " at " << x << "," << y;
    ++checked;
  }
  EXPECT_GE(checked, 3);
  // The opposite direction stays free of the needle.
  const int ox = static_cast<int>(std::lround(103 + 0.6 * 73 * std::cos(phi)));
  const int oy = static_cast<int>(std::lround(103 + 0.6 * 73 * std::sin(phi)));
  if (image.rect().contains(ox, oy)) {
    EXPECT_FALSE(IsNeedleDark(image.pixelColor(ox, oy)));
  }
}

INSTANTIATE_TEST_SUITE_P(Percentages, PanelNeedle, testing::Values(0, 25, 50, 100, 120));

TEST(Panel, BandSectorsInTheirColours) {
  PictureDir dir;
  dir.WriteUniform(QColor(230, 230, 230));
  CMyPanel panel;
  panel.resize(207, 122);
  const QImage image = panel.grab().toImage();
  // Mid-band (radius 63) in the middle of each sector: gauge angles 21, 67, 113, 159.
  const int blues[] = {255, 195, 135, 75};
  for (int j = 0; j < 4; ++j) {
    const double phi = (21 + 46 * j) * 0.0174532925;
    const int x = static_cast<int>(std::lround(103 - 63 * std::cos(phi)));
    const int y = static_cast<int>(std::lround(103 - 63 * std::sin(phi)));
    const QColor c = image.pixelColor(x, y);
    EXPECT_EQ(c.red(), 0) << j;
    EXPECT_EQ(c.green(), 255) << j;
    EXPECT_EQ(c.blue(), blues[j]) << j;
  }
  // Inside a wedge gap (gauge angle 44, radius 63) the background shows.
  const double gap = 44 * 0.0174532925;
  const QColor inGap = image.pixelColor(static_cast<int>(std::lround(103 - 63 * std::cos(gap))),
                                        static_cast<int>(std::lround(103 - 63 * std::sin(gap))));
  EXPECT_EQ(inGap, QColor(230, 230, 230));
}

TEST(Panel, MissingPictureShowsThePlainFill) {
  PictureDir dir;
  CMyPanel panel;
  panel.resize(207, 122);
  EXPECT_EQ(panel.grab().toImage().pixelColor(2, 2), QColor(236, 240, 243));
}

TEST(Panel, SamePercentTwicePaintsOnce) {
  PictureDir dir;
  dir.WriteUniform(QColor(230, 230, 230));
  QWidget parent;
  parent.resize(400, 300);
  auto* panel = new CMyPanel(&parent);
  panel->setGeometry(100, 100, 207, 122);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  QApplication::processEvents();
  PaintCounter panelPaints(panel);

  panel->SetPercent(50);
  QApplication::processEvents();
  EXPECT_EQ(panelPaints.count, 1);

  panel->SetPercent(50);
  QApplication::processEvents();
  EXPECT_EQ(panelPaints.count, 1);

  panel->SetPercent(51);
  QApplication::processEvents();
  EXPECT_EQ(panelPaints.count, 2);
}

TEST(Panel, StartsAtZeroPercent) {
  CMyPanel panel;
  EXPECT_EQ(panel.m_needleAngle, 90.0f);
  panel.SetPercent(0);  // same angle: nothing to do
  EXPECT_EQ(panel.m_needleAngle, 90.0f);
  panel.SetPercent(120);
  EXPECT_FLOAT_EQ(panel.m_needleAngle, -126.0f);
}

}  // namespace
}  // namespace pyranex::ui
