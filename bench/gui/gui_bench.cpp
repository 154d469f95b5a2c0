// The window's speed: from creating the application's windows to the first painted frame, and
// from the end of a live cycle (its 31 register values posted) to the updated pixels of the
// chart, gauge and boxes (goal below 5 ms).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <atomic>
#include <filesystem>

#include "core/link/frame_codec.h"
#include "core/platform/messages.h"
#include "support/fake_serial_device.h"
#include "ui/app/main_frame.h"
#include "ui/app/pyranex_app.h"
#include "ui/platform/qt_message_sink.h"
#include "ui/views/power_curve_view.h"

namespace {

using namespace pyranex;

class SilentNotifier final : public Notifier {
 public:
  using Notifier::Show;
  NoticeAnswer Show(const std::string&, const std::string&, NoticeIcon, NoticeButtons) override {
    return NoticeAnswer::Ok;
  }
};

// Counts paint events of the power view.
class PaintCounter final : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && qobject_cast<ui::CPowerCurveView*>(watched)) ++paints;
    return false;
  }
};

Paths DataPaths() {
  return Paths{std::filesystem::temp_directory_path(), PYRANEX_DATA_DIR};
}

void BM_StartToFirstPaint(benchmark::State& state) {
  SilentNotifier notifier;
  for (auto _ : state) {
    PaintCounter counter;
    qApp->installEventFilter(&counter);
    QElapsedTimer timer;
    timer.start();
    ui::CPyranexApp app({DataPaths(), &notifier, {}});
    app.InitInstance();
    while (counter.paints == 0) QApplication::processEvents();
    state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
    qApp->removeEventFilter(&counter);
  }
}
BENCHMARK(BM_StartToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// One live cycle's values as the link posts them, then everything the window repaints for it.
void BM_LiveCycleToPixels(benchmark::State& state) {
  SilentNotifier notifier;
  test::FakeSerialLine line;
  ui::CPyranexApp app({DataPaths(), &notifier, line.Factory()});
  app.InitInstance();
  ui::CPowerCurveView& view = app.Frame().PowerView();
  view.Connect(1);
  PowerViewEngine& engine = view.Engine();
  // Past identification: live polling of a 5000 W model, as after the first cycles.
  engine.Disconnect();
  engine.m_ratedPower = 50;
  engine.m_pollMode = 1;
  CInverterCom& link = engine.Link();
  link.m_identifying = false;
  ui::QtMessageSink sink(&view);
  uint16_t power = 100;
  for (auto _ : state) {
    link.m_firstRegister = 11;
    link.m_expectedValues = 31;
    link.m_exchangeState = ExchangeReadSent;
    power = static_cast<uint16_t>(power % 40000 + 7);
    for (uint32_t r = 11; r <= 41; ++r) {
      const uint16_t value = r == 23 ? power : r == 22 ? 0 : static_cast<uint16_t>(r * 10);
      sink.Post(WM_INV_REGISTER, link.Connection(), value);
    }
    QElapsedTimer timer;
    timer.start();
    QApplication::sendPostedEvents(&view);
    // The widgets asked for repaints; painting them is part of the cycle.
    QApplication::processEvents();
    state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
  }
  state.counters["points"] = static_cast<double>(engine.GetDayLog().pac.size());
}
BENCHMARK(BM_LiveCycleToPixels)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
