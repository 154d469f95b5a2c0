// Chart pane speed: a full repaint of a day of samples (goal <= 2 ms, and >= 10x faster than a
// naive polyline through every sample) and one new sample (goal <= 50 us).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <vector>

#include "core/platform/notifier.h"
#include "ui/widgets/flow_pane.h"

namespace {

using pyranex::ui::CFlowPane;

constexpr int kDaySamples = 86400;  // one a second
constexpr uint32_t kOrigin = 1'000'000;
const QSize kPaneSize(638, 274);  // the chart's place in the power view

class SilentNotifier final : public pyranex::Notifier {
 public:
  using Notifier::Show;
  pyranex::NoticeAnswer Show(const std::string&, const std::string&, pyranex::NoticeIcon,
                             pyranex::NoticeButtons) override {
    return pyranex::NoticeAnswer::Ok;
  }
};

// kCloudy swings by a fifth every four minutes all day (the worst case for the column thinning);
// kClear is a smooth day with a little measurement noise.
enum Day { kCloudy = 0, kClear = 1 };

double Power(int second, int day = kCloudy) {
  const double sun = std::sin(second / double(kDaySamples) * M_PI);
  if (day == kClear) return 4800.0 * sun + 8.0 * std::sin(second * 1.7);
  return 4800.0 * sun * (0.8 + 0.2 * std::sin(second / 37.0));
}

void FillDay(CFlowPane& pane, int samples, int day = kCloudy) {
  pane.Clear();
  pane.m_yMin = 0.0;
  pane.m_yMax = 5880.0;
  pane.SetXRange(0.0, 1440.0);
  for (int s = 0; s < samples; ++s) {
    pane.m_values.push_back(static_cast<float>(Power(s, day)));
    pane.m_times.push_back(kOrigin + static_cast<uint32_t>(s) * 1000u);
  }
}

void BM_FullRepaint(benchmark::State& state) {
  SilentNotifier notifier;
  CFlowPane pane(notifier);
  pane.resize(kPaneSize);
  FillDay(pane, kDaySamples, static_cast<int>(state.range(0)));
  QImage target(kPaneSize, QImage::Format_RGB32);
  for (auto _ : state) {
    pane.InvalidateAll();
    pane.render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
}
BENCHMARK(BM_FullRepaint)->Arg(kCloudy)->Arg(kClear)->Unit(benchmark::kMillisecond);

// What the column reduction saves: every sample mapped and joined by one long polyline.
void BM_NaivePolyline(benchmark::State& state) {
  SilentNotifier notifier;
  CFlowPane pane(notifier);
  pane.resize(kPaneSize);
  FillDay(pane, kDaySamples, static_cast<int>(state.range(0)));
  QImage scratch(kPaneSize, QImage::Format_RGB32);
  pane.render(&scratch);  // lays the pane out
  const pyranex::chart::Rect plot = pane.m_plotRect;
  QImage target(kPaneSize, QImage::Format_RGB32);
  target.fill(Qt::white);
  std::vector<QPointF> points(pane.m_values.size());
  for (auto _ : state) {
    const double xScale = plot.Width() / (1440.0 * 60000.0);
    const double yScale = plot.Height() / 5880.0;
    for (size_t i = 0; i < points.size(); ++i) {
      points[i] = QPointF(plot.left + (pane.m_times[i] - pane.m_times[0]) * xScale,
                          plot.bottom - pane.m_values[i] * yScale);
    }
    QPainter painter(&target);
    painter.setPen(QPen(Qt::red, 0));
    painter.drawPolyline(points.data(), static_cast<int>(points.size()));
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
  }
}
BENCHMARK(BM_NaivePolyline)->Arg(kCloudy)->Arg(kClear)->Unit(benchmark::kMillisecond);

// One new sample on a pane that shows half a day already: segment and fill into the cache.
void BM_AddPoint(benchmark::State& state) {
  SilentNotifier notifier;
  CFlowPane pane(notifier);
  pane.resize(kPaneSize);
  QImage target(kPaneSize, QImage::Format_RGB32);
  int next = kDaySamples;  // forces a reset on the first iteration
  for (auto _ : state) {
    if (next >= kDaySamples - 1) {
      state.PauseTiming();
      FillDay(pane, kDaySamples / 2);
      pane.render(&target);  // the cached rendering is in place, as on screen
      next = kDaySamples / 2;
      state.ResumeTiming();
    }
    pane.AddPoint(kOrigin + static_cast<uint32_t>(next) * 1000u, Power(next));
    ++next;
  }
}
BENCHMARK(BM_AddPoint)->Unit(benchmark::kMicrosecond);

// The same on a visible pane, including the repaint of the rectangle the sample changed.
void BM_AddPointAndRepaint(benchmark::State& state) {
  SilentNotifier notifier;
  CFlowPane pane(notifier);
  pane.resize(kPaneSize);
  pane.show();
  int next = kDaySamples;
  for (auto _ : state) {
    if (next >= kDaySamples - 1) {
      state.PauseTiming();
      FillDay(pane, kDaySamples / 2);
      pane.repaint();
      next = kDaySamples / 2;
      state.ResumeTiming();
    }
    pane.AddPoint(kOrigin + static_cast<uint32_t>(next) * 1000u, Power(next));
    QApplication::processEvents();
    ++next;
  }
}
BENCHMARK(BM_AddPointAndRepaint)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
