#include "ui/widgets/flow_pane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <cmath>

#include "core/chart/chart_curve.h"
#include "picture_dir.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"
#include "ui/widgets/background_picture.h"

namespace pyranex::ui {
namespace {

using test::Blend;
using test::ExpectColourNear;
using test::PaintCounter;
using test::PictureDir;

const QColor kSky(40, 80, 160);
constexpr uint32_t kOrigin = 5'000'000;

bool IsRed(QColor c) {
  return c.red() == 255 && c.green() == 0 && c.blue() == 0;
}

class PaneTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_.WriteUniform(kSky);
    pane_ = std::make_unique<CFlowPane>(notifier_, nullptr, clock_);
    pane_->resize(638, 274);  // the pane's size in the power view
    pane_->SetYRange(0.0, 100.0);
  }

  // One sample every 5 s (closer than a gap) from minute `firstMinute` to `lastMinute`, all of
  // the same value.
  void AddFlat(double lastMinute, double value, double firstMinute = 0.0) {
    for (int s = static_cast<int>(firstMinute * 12); s <= lastMinute * 12; ++s) {
      pane_->AddPoint(kOrigin + s * 5000u, value);
    }
  }
  chart::ChartState State() const {
    return {pane_->m_values, pane_->m_times,  pane_->m_plotRect, pane_->m_yMin,
            pane_->m_yMax,   pane_->m_xStart, pane_->m_xEnd,     chart::kCurveGapMs};
  }
  QImage Render() { return pane_->grab().toImage(); }

  PictureDir dir_;
  pyranex::test::RecordingNotifier notifier_;
  pyranex::test::FakeClock clock_;
  std::unique_ptr<CFlowPane> pane_;
};

TEST_F(PaneTest, InitialState) {
  CFlowPane pane(notifier_, nullptr, clock_);
  EXPECT_EQ(pane.m_yMin, 0.0);
  EXPECT_EQ(pane.m_yMax, 0.2);
  EXPECT_EQ(pane.m_xStart, 0.0);
  EXPECT_TRUE(pane.m_autoExtend);
  EXPECT_FALSE(pane.m_cursorVisible);
  EXPECT_EQ(pane.m_startTime, 0);
  EXPECT_EQ(pane.FindSampleIndex(0.5), -1);
  EXPECT_FALSE(pane.m_background.isNull());
}

TEST_F(PaneTest, PlotRectFollowsTheSize) {
  pane_->grab();
  const chart::Rect plot = pane_->m_plotRect;
  const QFontMetrics metrics = pane_->fontMetrics();
  EXPECT_EQ(plot.left, metrics.horizontalAdvance(QStringLiteral("-0.0000000")));
  EXPECT_EQ(plot.top, metrics.height());
  EXPECT_EQ(plot.bottom, 274 - 2 * metrics.height());
  EXPECT_EQ(plot.right, 638 - 2 * metrics.horizontalAdvance(QStringLiteral("时间")));
}

TEST_F(PaneTest, CurveIsRedInTheColumnsOfItsSamples) {
  pane_->SetXRange(0.0, 20.0);
  AddFlat(10.0, 50.0);  // the line ends in the middle of the window
  const QImage image = Render();
  const chart::ChartState state = State();
  const int y = chart::ValueY(state, 50.0);
  const int lastX = chart::SampleX(state, pane_->m_values.size() - 1);
  const chart::Rect plot = pane_->m_plotRect;
  ASSERT_GT(lastX, plot.left + 100);
  for (int x = plot.left + 1; x <= lastX; ++x) EXPECT_TRUE(IsRed(image.pixelColor(x, y))) << x;
  for (int x = lastX + 1; x < plot.right; ++x) EXPECT_FALSE(IsRed(image.pixelColor(x, y))) << x;
  // Nothing red above the line.
  for (int x = plot.left + 1; x < plot.right; x += 7) {
    EXPECT_FALSE(IsRed(image.pixelColor(x, y - 3))) << x;
  }
}

TEST_F(PaneTest, FillUnderTheCurveIsTranslucentRedOverThePicture) {
  pane_->SetXRange(0.0, 20.0);
  AddFlat(10.0, 50.0);
  const QImage image = Render();
  const chart::ChartState state = State();
  const int y = chart::ValueY(state, 50.0);
  const chart::Rect plot = pane_->m_plotRect;
  const int x = plot.left + plot.Width() / 4;
  ExpectColourNear(image.pixelColor(x, (y + plot.bottom) / 2), Blend(255, kSky.red(), 30),
                   Blend(0, kSky.green(), 30), Blend(0, kSky.blue(), 30));
  EXPECT_EQ(image.pixelColor(x, y - 5), kSky);                          // above the curve
  EXPECT_EQ(image.pixelColor(plot.right - 20, plot.bottom - 5), kSky);  // right of the last sample
}

TEST_F(PaneTest, NewSampleDrawsItsSegmentAndRepaintsOnlyThatRectangle) {
  QWidget parent;
  parent.resize(700, 320);
  pane_->setParent(&parent);
  pane_->move(24, 20);
  pane_->SetXRange(0.0, 20.0);
  AddFlat(5.0, 50.0);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  QApplication::processEvents();
  PaintCounter paints(pane_.get());

  pane_->AddPoint(kOrigin + 5 * 60000u + 5000u, 80.0);  // a rising segment, 5 s after the last
  QApplication::processEvents();
  ASSERT_EQ(paints.count, 1);
  const chart::ChartState state = State();
  const size_t n = pane_->m_values.size();
  const int x0 = chart::SampleX(state, n - 2);
  const int x1 = chart::SampleX(state, n - 1);
  EXPECT_LE(paints.rects[0].width(), x1 - x0 + 3);
  EXPECT_TRUE(paints.rects[0].contains(QPoint(x1, chart::ValueY(state, 80.0))));
  EXPECT_EQ(paints.rects[0].bottom(), pane_->m_plotRect.bottom + 1);

  const QImage image = pane_->grab().toImage();
  EXPECT_TRUE(IsRed(image.pixelColor(x1, chart::ValueY(state, 80.0))));
  EXPECT_TRUE(notifier_.Notices().empty());
  pane_->setParent(nullptr);
}

TEST_F(PaneTest, IncrementalDrawingMatchesAFullRepaint) {
  pane_->SetXRange(0.0, 60.0);
  pane_->AddPoint(kOrigin, 0.0);
  Render();                          // the cache is in place; every further sample is drawn into it
  for (int s = 1; s <= 2400; ++s) {  // 40 minutes, one sample a second, a smooth rise and fall
    pane_->AddPoint(kOrigin + s * 1000u, 90.0 * std::sin(s / 2400.0 * 3.14159));
  }
  const QImage incremental = Render();
  pane_->InvalidateAll();
  const QImage full = Render();
  const chart::Rect plot = pane_->m_plotRect;
  int differing = 0;
  int total = 0;
  for (int y = plot.top; y < plot.bottom; ++y) {
    for (int x = plot.left + 1; x < plot.right; ++x, ++total) {
      differing += incremental.pixel(x, y) != full.pixel(x, y);
    }
  }
  // Only where the column joins differ: the full repaint thins, the new samples do not.
  EXPECT_LT(differing, total / 100);
  EXPECT_TRUE(notifier_.Notices().empty());
}

// Where the link was down the curve leaves a gap, drawn sample by sample as in a full repaint.
TEST_F(PaneTest, NoLineOrFillWhereTheLinkWasDown) {
  pane_->SetXRange(0.0, 20.0);
  pane_->AddPoint(kOrigin, 50.0);
  Render();  // from here on every sample is drawn into the cache as it comes
  AddFlat(5.0, 50.0, 1.0 / 12);
  AddFlat(15.0, 50.0, 10.0);  // nothing from minute 5 to minute 10
  const QImage incremental = Render();
  pane_->InvalidateAll();
  const QImage full = Render();
  const chart::ChartState state = State();
  const int y = chart::ValueY(state, 50.0);
  const int gapFrom = chart::SampleX(state, 60);  // minute 5
  const int gapTo = chart::SampleX(state, 61);    // minute 10
  ASSERT_GT(gapTo - gapFrom, 100);
  for (const QImage* image : {&incremental, &full}) {
    for (int x = gapFrom + 1; x < gapTo; ++x) {
      EXPECT_EQ(image->pixelColor(x, y), kSky) << x;                             // no line
      EXPECT_EQ(image->pixelColor(x, pane_->m_plotRect.bottom - 3), kSky) << x;  // no fill
    }
    EXPECT_TRUE(IsRed(image->pixelColor(gapFrom, y)));
    EXPECT_TRUE(IsRed(image->pixelColor(gapTo, y)));
    EXPECT_TRUE(IsRed(image->pixelColor(gapTo + 20, y)));
  }
}

// The cached layers and points give the pixels that drawing everything afresh gives, also after
// new samples, a moved window, a new range and with nothing to draw.
TEST_F(PaneTest, CachedRepaintEqualsADirectDraw) {
  const auto direct = [&] {
    QImage image(pane_->size(), QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setFont(pane_->font());
    PaintPicturePart(painter, pane_->m_background, QPoint(0, 0), pane_->size());
    pane_->Draw(painter, &pane_->m_plotRect, 0);
    return image;
  };
  const auto expectSame = [&](const char* what) {
    pane_->InvalidateAll();
    const QImage cached = Render();
    EXPECT_TRUE(cached == direct()) << what;
  };
  pane_->SetXRange(0.0, 30.0);
  expectSame("no samples");
  for (int s = 0; s < 1500; ++s) {
    // Clouds, and the link down twice.
    const uint32_t at = s * 1000u + (s >= 500 ? 60000u : 0u) + (s >= 900 ? 20000u : 0u);
    pane_->AddPoint(kOrigin + at, 50.0 + 40.0 * std::sin(s * 0.3) * std::sin(s * 0.002));
  }
  expectSame("samples");
  expectSame("again, from the caches");
  pane_->SetXRange(0.0, 31.0);
  expectSame("window end moved");
  pane_->SetXRange(5.0, 20.0);
  expectSame("window inside the data");
  pane_->SetYRange(0.0, 80.0);
  expectSame("new range");
  pane_->Clear();
  expectSame("cleared");
}

TEST_F(PaneTest, PictureUnderThePaneIsTakenAtItsOffsetInTheParent) {
  QImage picture(1000, 700, QImage::Format_RGB32);
  for (int y = 0; y < 700; ++y) {
    for (int x = 0; x < 1000; ++x) picture.setPixelColor(x, y, QColor(x % 256, y % 256, 99));
  }
  dir_.Write(picture);
  QWidget parent;
  parent.resize(1000, 700);
  CFlowPane pane(notifier_, &parent, clock_);
  pane.setGeometry(24, 20, 638, 274);
  pane.SetYRange(0, 100);
  pane.AddPoint(kOrigin, 10);
  pane.AddPoint(kOrigin + 60000, 10);
  const QImage image = pane.grab().toImage();
  EXPECT_EQ(pane.m_parentOffset, QPoint(24, 20));
  // Inside the plot (through the off-screen copy) and in the margin (the direct copy).
  const chart::Rect plot = pane.m_plotRect;
  for (QPoint p : {QPoint(plot.left + 200, plot.top + 20), QPoint(620, 5)}) {
    EXPECT_EQ(image.pixelColor(p), picture.pixelColor(p + QPoint(24, 20))) << p.x() << "," << p.y();
  }
  // Moved without a resize, on screen: the picture under its new place.
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  pane.grab();
  pane.move(100, 60);
  QApplication::processEvents();
  const QImage moved = pane.grab().toImage();
  EXPECT_EQ(moved.pixelColor(620, 5), picture.pixelColor(720, 65));
}

TEST_F(PaneTest, MissingOrSmallPictureLeavesAPlainFill) {
  PictureDir empty;
  CFlowPane bare(notifier_, nullptr, clock_);
  bare.resize(300, 200);
  EXPECT_EQ(bare.grab().toImage().pixelColor(250, 60), kPlainBackground);

  QWidget parent;
  parent.resize(1000, 700);
  PictureDir small;
  small.WriteUniform(kSky, {100, 100});
  CFlowPane pane(notifier_, &parent, clock_);
  pane.setGeometry(50, 50, 300, 200);
  const QImage image = pane.grab().toImage();
  EXPECT_EQ(image.pixelColor(5, 5), kSky);                  // picture reaches (49, 49) here
  EXPECT_EQ(image.pixelColor(250, 150), kPlainBackground);  // beyond it
}

TEST_F(PaneTest, ValueAboveTheRangeIsReportedOncePerSample) {
  pane_->SetXRange(0.0, 10.0);
  pane_->AddPoint(kOrigin, 10.0);
  pane_->AddPoint(kOrigin + 60000, 150.256);
  pane_->AddPoint(kOrigin + 120000, 100.0);  // at the top: no message
  pane_->AddPoint(kOrigin + 180000, -5.0);   // below: drawn at the bottom, no message
  pane_->AddPoint(kOrigin + 240000, 1234.5);
  const auto notices = notifier_.Notices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0].text, "150.26");
  EXPECT_EQ(notices[0].buttons, NoticeButtons::Ok);
  EXPECT_EQ(notices[1].text, "1234.50");
}

TEST_F(PaneTest, TrackingPushesTheWindowEndOut) {
  pane_->SetXRange(0.0, 1.0);
  pane_->AddPoint(kOrigin, 10.0);
  pane_->AddPoint(kOrigin + 30000, 10.0);
  EXPECT_DOUBLE_EQ(pane_->m_xEnd, 1.0);
  pane_->AddPoint(kOrigin + 90000, 10.0);  // minute 1.5
  EXPECT_DOUBLE_EQ(pane_->m_xEnd, 1.5 + 1.0 / 7.0);
  EXPECT_DOUBLE_EQ(pane_->m_xStart, 0.0);
  EXPECT_EQ(pane_->m_values.size(), 3u);
}

TEST_F(PaneTest, WithoutTrackingASampleBeyondTheWindowChangesNothingOnScreen) {
  pane_->SetXRange(0.0, 1.0);
  pane_->m_autoExtend = false;
  pane_->AddPoint(kOrigin, 10.0);
  pane_->AddPoint(kOrigin + 30000, 20.0);
  const QImage before = Render();
  pane_->AddPoint(kOrigin + 90000, 90.0);
  EXPECT_DOUBLE_EQ(pane_->m_xEnd, 1.0);
  EXPECT_EQ(pane_->m_values.size(), 3u);  // kept all the same
  EXPECT_EQ(Render(), before);
}

struct XRangeCase {
  double start;
  double accepted;
};

class PaneXRange : public PaneTest, public testing::WithParamInterface<XRangeCase> {};

TEST_P(PaneXRange, StartOutsideTheDataBecomesZero) {
  for (int m = 0; m <= 30; ++m) pane_->AddPoint(kOrigin + m * 60000u, 5.0);
  pane_->SetXRange(GetParam().start, 40.0);
  EXPECT_DOUBLE_EQ(pane_->m_xStart, GetParam().accepted);
  EXPECT_DOUBLE_EQ(pane_->m_xEnd, 40.0);
}

INSTANTIATE_TEST_SUITE_P(Starts, PaneXRange,
                         testing::Values(XRangeCase{10, 10}, XRangeCase{-5, 0}, XRangeCase{30, 0},
                                         XRangeCase{45, 0}));

TEST_F(PaneTest, SetXRangeWithoutSamplesStartsAtZero) {
  pane_->SetXRange(3.0, 9.0);
  EXPECT_EQ(pane_->m_xStart, 0.0);
  EXPECT_EQ(pane_->m_xEnd, 9.0);
}

void ClickAt(QWidget& widget, int x, int y) {
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(x, y), widget.mapToGlobal(QPointF(x, y)),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&widget, &release);
}

TEST_F(PaneTest, ClickPlacesTheCursorOnlyNearASample) {
  pane_->SetXRange(0.0, 20.0);
  AddFlat(10.0, 50.0);
  pane_->grab();
  const chart::Rect plot = pane_->m_plotRect;
  const int middle = plot.left + plot.Width() / 4;  // minute 5
  ClickAt(*pane_, middle, 100);
  EXPECT_EQ(pane_->m_cursorX, middle);
  ClickAt(*pane_, plot.left, 100);  // minute 0: no sample is "near"
  EXPECT_EQ(pane_->m_cursorX, middle);
  ClickAt(*pane_, plot.right - 5, 100);  // past the last sample
  EXPECT_EQ(pane_->m_cursorX, middle);
}

TEST_F(PaneTest, VisibleCursorIsAYellowColumn) {
  pane_->SetXRange(0.0, 20.0);
  AddFlat(10.0, 50.0);
  pane_->grab();
  const chart::Rect plot = pane_->m_plotRect;
  pane_->m_cursorX = plot.left + plot.Width() / 4;
  EXPECT_NE(Render().pixelColor(pane_->m_cursorX, plot.bottom - 10), QColor(255, 255, 0));
  pane_->SetCursorVisible(true);
  const QImage image = Render();
  int yellow = 0;
  for (int y = plot.top; y < plot.bottom; ++y) {
    yellow += image.pixelColor(pane_->m_cursorX, y) == QColor(255, 255, 0);
  }
  EXPECT_GT(yellow, plot.Height() - 30);  // all but where the read-out text crosses it
}

TEST_F(PaneTest, RangesWrittenDirectlyShowOnTheNextPaint) {
  pane_->SetXRange(0.0, 20.0);
  AddFlat(10.0, 50.0);
  Render();
  pane_->m_yMax = 200.0;  // as the owner does at start-up, followed by update()
  pane_->update();
  const QImage image = Render();
  const int y = chart::ValueY(State(), 50.0);
  EXPECT_TRUE(IsRed(image.pixelColor(pane_->m_plotRect.left + 50, y)));
  EXPECT_FALSE(IsRed(image.pixelColor(pane_->m_plotRect.left + 50, chart::ValueY(State(), 100.0))));
}

TEST_F(PaneTest, ClearEmptiesAndFreesTheSamples) {
  AddFlat(3.0, 5.0);
  pane_->Clear();
  EXPECT_TRUE(pane_->m_values.empty());
  EXPECT_TRUE(pane_->m_times.empty());
  EXPECT_EQ(pane_->m_values.capacity(), 0u);
  EXPECT_EQ(pane_->FindSampleIndex(1.0), -1);
}

TEST_F(PaneTest, NewDayAfterAMovedWindowDoesNotInvertIt) {
  for (int m = 0; m <= 30; ++m) pane_->AddPoint(kOrigin + m * 60000u, 5.0);
  pane_->SetXRange(20.0, 40.0);
  pane_->Clear();
  pane_->AddPoint(kOrigin + 99'000'000u, 5.0);  // the next day's first sample
  EXPECT_GT(pane_->m_xEnd, pane_->m_xStart);
}

}  // namespace
}  // namespace pyranex::ui
