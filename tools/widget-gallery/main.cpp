// Shows the chart pane, the gauge and the two text boxes where the power view places them, over
// the background picture, with a synthetic day of samples.
//   widget-gallery [--data DIR] [--png FILE]
// --data: folder holding 2.bmp (made the current directory); --png: render offscreen and exit.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QWidget>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "core/chart/dialog_units.h"
#include "core/platform/clock.h"
#include "ui/platform/qt_notifier.h"
#include "ui/widgets/background_picture.h"
#include "ui/widgets/flow_pane.h"
#include "ui/widgets/my_panel.h"
#include "ui/widgets/my_text_box.h"

namespace {

using pyranex::ui::CFlowPane;
using pyranex::ui::CMyPanel;
using pyranex::ui::CMyTextBox;

// The view: paints the picture at (0, 0) as the power view does.
class GalleryView final : public QWidget {
 public:
  GalleryView() : picture_(pyranex::ui::LoadBackgroundPicture()) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    pyranex::ui::PaintPicturePart(painter, picture_, QPoint(0, 0), size());
  }

 private:
  QImage picture_;
};

QRect PlaceOf(int x, int y, int w, int h) {
  const pyranex::chart::Rect r = pyranex::chart::DialogUnitsToPixels(x, y, w, h);
  return QRect(r.left, r.top, r.Width(), r.Height());
}

// A clear morning, a few clouds after noon, rated 5000 W; one sample a second from 05:00.
double SyntheticPower(int second) {
  const double hours = 5.0 + second / 3600.0;
  const double sun = std::sin((hours - 6.0) / 13.0 * M_PI);
  if (sun <= 0.0) return 0.0;
  double power = 4700.0 * std::pow(sun, 1.5);
  if (hours > 13.0 && hours < 15.5) power *= 0.75 + 0.25 * std::cos(second / 170.0);
  return power;
}

int64_t FiveInTheMorning() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = 5;
  local.tm_min = 0;
  local.tm_sec = 0;
  return static_cast<int64_t>(std::mktime(&local));
}

}  // namespace

int main(int argc, char** argv) {
  const char* png = nullptr;
  const char* dataDir = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--png") == 0)
      png = argv[++i];
    else if (std::strcmp(argv[i], "--data") == 0)
      dataDir = argv[++i];
  }
  if (png != nullptr && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  const QString pngPath =
      png != nullptr ? QFileInfo(QString::fromLocal8Bit(png)).absoluteFilePath() : QString();
  if (dataDir != nullptr && !QDir::setCurrent(QString::fromLocal8Bit(dataDir))) {
    std::fprintf(stderr, "widget-gallery: cannot enter %s\n", dataDir);
    return 1;
  }

  pyranex::ui::QtNotifier notifier;
  GalleryView view;
  view.setWindowTitle(QStringLiteral("Quorvane widgets"));
  view.resize(1000, 700);

  auto* pane = new CFlowPane(notifier, &view);
  pane->setGeometry(PlaceOf(16, 12, 425, 169));
  auto* energy = new CMyTextBox(&view);
  energy->LoadBackground();
  energy->setGeometry(PlaceOf(107, 194, 148, 32));
  auto* gauge = new CMyPanel(&view);
  gauge->setGeometry(PlaceOf(283, 189, 138, 75));
  auto* power = new CMyTextBox(&view);
  power->LoadBackground();
  power->setGeometry(PlaceOf(300, 264, 109, 25));

  view.show();  // the widgets lay themselves out at their final sizes
  QApplication::processEvents();

  pane->m_yMin = -0.0;
  pane->m_yMax = 5880.0;  // rated 5000 W
  pane->m_startTime = FiveInTheMorning();
  pane->SetXRange(0.0, 1440.0);
  constexpr int kSeconds = 15 * 3600;  // 05:00 to 20:00
  for (int s = 0; s <= kSeconds; ++s) {
    pane->AddPoint(1'000'000u + static_cast<uint32_t>(s) * 1000u, SyntheticPower(s));
  }
  pane->m_cursorX = pane->m_plotRect.left + pane->m_plotRect.Width() * 7 / 24;  // about 12:00
  pane->SetCursorVisible(true);

  const double now = SyntheticPower(kSeconds * 7 / 15);
  gauge->SetPercent(static_cast<int>(now * 100) / 4900);
  char text[128];
  std::snprintf(text, sizeof text, "%s%3.1f W", "Power  ", now);
  power->SetText(std::string_view(text), 1);
  std::snprintf(text, sizeof text, "%s\t%3.1fkWh\n%s\t%3.1fkWh", "Today Energy", 27.4,
                "Total Energy", 10234.5);
  energy->SetText(std::string_view(text), 2);

  if (png != nullptr) {
    const QImage image = view.grab().toImage();
    if (!image.save(pngPath)) {
      std::fprintf(stderr, "widget-gallery: cannot write %s\n", png);
      return 1;
    }
    return 0;
  }
  return app.exec();
}
