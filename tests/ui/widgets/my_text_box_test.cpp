#include "ui/widgets/my_text_box.h"

#include <gtest/gtest.h>

#include "picture_dir.h"
#include "ui/widgets/background_picture.h"

namespace pyranex::ui {
namespace {

using test::Blend;
using test::ExpectColourNear;
using test::PictureDir;

TEST(TextBox, LightensThePictureWithTranslucentWhite) {
  PictureDir dir;
  dir.WriteUniform(QColor(40, 80, 160));
  CMyTextBox box;
  box.LoadBackground();
  box.resize(164, 41);
  const QImage image = box.grab().toImage();
  // No lines yet: only the box, alpha 120 white everywhere.
  for (QPoint p : {QPoint(0, 0), QPoint(82, 20), QPoint(163, 40)}) {
    ExpectColourNear(image.pixelColor(p), Blend(255, 40, 120), Blend(255, 80, 120),
                     Blend(255, 160, 120));
  }
}

TEST(TextBox, CopiesThePartOfThePictureUnderItself) {
  PictureDir dir;
  QImage picture(1000, 700, QImage::Format_RGB32);
  picture.fill(QColor(0, 0, 0));
  picture.setPixelColor(310, 205, QColor(200, 0, 0));  // under the box's (10, 5)
  dir.Write(picture);
  QWidget parent;
  parent.resize(1000, 700);
  auto* box = new CMyTextBox(&parent);
  box->LoadBackground();
  box->setGeometry(300, 200, 164, 41);
  const QImage image = box->grab().toImage();
  ExpectColourNear(image.pixelColor(10, 5), Blend(255, 200, 120), Blend(255, 0, 120),
                   Blend(255, 0, 120));
  ExpectColourNear(image.pixelColor(11, 5), Blend(255, 0, 120), Blend(255, 0, 120),
                   Blend(255, 0, 120));
}

TEST(TextBox, WithoutAPictureShowsThePlainFill) {
  PictureDir dir;  // no 2.bmp at all
  CMyTextBox box;
  box.LoadBackground();
  box.resize(100, 30);
  const QColor plain = kPlainBackground;
  ExpectColourNear(box.grab().toImage().pixelColor(50, 2), Blend(255, plain.red(), 120),
                   Blend(255, plain.green(), 120), Blend(255, plain.blue(), 120));
}

TEST(TextBox, DrawsTextOnlyWhereTheLayoutPutsIt) {
  PictureDir dir;
  dir.WriteUniform(QColor(40, 80, 160));
  CMyTextBox box;
  box.LoadBackground();
  box.resize(222, 52);
  box.SetText(std::string_view("Today Energy\t27.4kWh\nTotal Energy\t10234.5kWh"), 2);
  const QImage image = box.grab().toImage();
  // Dark text pixels appear in the left and right eighths' inner parts, none in the margins.
  auto darkIn = [&](QRect r) {
    int dark = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
      for (int x = r.left(); x <= r.right(); ++x) dark += image.pixelColor(x, y).lightness() < 90;
    }
    return dark;
  };
  EXPECT_GT(darkIn(QRect(27, 0, 60, 52)), 20);   // captions start one eighth in
  EXPECT_GT(darkIn(QRect(140, 0, 55, 52)), 20);  // values end one eighth in
  EXPECT_EQ(darkIn(QRect(0, 0, 27, 52)), 0);
  EXPECT_EQ(darkIn(QRect(222 - 26, 0, 26, 52)), 0);
}

TEST(TextBox, InitialState) {
  CMyTextBox box;
  EXPECT_EQ(box.m_text, "Text");
  EXPECT_EQ(box.m_lineCount, 0);
  EXPECT_TRUE(box.m_background.isNull());
  box.SetText(QStringLiteral("Power  12.0 W"), 1);
  EXPECT_EQ(box.m_text, "Power  12.0 W");
  EXPECT_EQ(box.m_lineCount, 1);
}

}  // namespace
}  // namespace pyranex::ui
