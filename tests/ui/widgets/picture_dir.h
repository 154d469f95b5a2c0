#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QEvent>
#include <QImage>
#include <QObject>
#include <QPaintEvent>
#include <QRect>
#include <QTemporaryDir>
#include <QWidget>
#include <vector>

namespace pyranex::ui::test {

// Makes a fresh folder the current directory for the life of the object, optionally with a
// "2.bmp" in it, so widgets load a picture the test knows.
class PictureDir {
 public:
  PictureDir() : previous_(QDir::currentPath()) {
    EXPECT_TRUE(dir_.isValid());
    QDir::setCurrent(dir_.path());
  }
  ~PictureDir() { QDir::setCurrent(previous_); }

  void Write(const QImage& picture) { EXPECT_TRUE(picture.save(QStringLiteral("2.bmp"), "BMP")); }
  void WriteUniform(QColor colour, QSize size = {1000, 700}) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(colour);
    Write(picture);
  }

 private:
  QString previous_;
  QTemporaryDir dir_;
};

// Counts paint events of a widget and keeps their rectangles.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int count = 0;
  std::vector<QRect> rects;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++count;
      rects.push_back(static_cast<QPaintEvent*>(event)->rect());
    }
    return false;
  }
};

// alpha over dst, per channel, as 8-bit blending gives it (give or take one).
inline int Blend(int src, int dst, int alpha) {
  return (src * alpha + dst * (255 - alpha)) / 255;
}

inline void ExpectColourNear(QColor actual, int r, int g, int b, int tolerance = 2) {
  EXPECT_NEAR(actual.red(), r, tolerance);
  EXPECT_NEAR(actual.green(), g, tolerance);
  EXPECT_NEAR(actual.blue(), b, tolerance);
}

}  // namespace pyranex::ui::test
