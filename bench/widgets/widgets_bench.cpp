// Chart pane speed: a full repaint of a day of samples (goal <= 2 ms, and >= 10x faster than a
// plain polyline through every sample, both measured in the same run) and one new sample (goal
// <= 50 us).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <cmath>
#include <ctime>
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

// A plain aliased 1-pixel polyline through every sample: the yardstick of the full repaint.
class NaivePolyline {
 public:
  explicit NaivePolyline(const CFlowPane& pane)
      : pane_(pane), target_(kPaneSize, QImage::Format_RGB32), points_(pane.m_values.size()) {
    target_.fill(Qt::white);
  }
  void Draw() {
    const pyranex::chart::Rect plot = pane_.m_plotRect;
    const double xScale = plot.Width() / (1440.0 * 60000.0);
    const double yScale = plot.Height() / 5880.0;
    for (size_t i = 0; i < points_.size(); ++i) {
      points_[i] = QPointF(plot.left + (pane_.m_times[i] - pane_.m_times[0]) * xScale,
                           plot.bottom - pane_.m_values[i] * yScale);
    }
    QPainter painter(&target_);
    painter.setPen(QPen(Qt::red, 0));
    painter.drawPolyline(points_.data(), static_cast<int>(points_.size()));
    painter.end();
    benchmark::DoNotOptimize(target_.constBits());
  }

 private:
  const CFlowPane& pane_;
  QImage target_;
  std::vector<QPointF> points_;
};

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// CPU time of this thread: what the work itself took, whatever else the machine was doing.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Full repaints of a day (86,400 samples) and the naive polyline through the same samples,
// timed alternately in the same iterations so that a noisy machine weighs on both alike. The
// ratio (goal at least 10) is taken from the thread's CPU time, which time slices given to other
// processes do not inflate; ratio_wall is the same from the wall clock. Arg 0/1: the cloudy or
// the clear day.
enum class Repaint {
  kUnchanged,  // an expose, the cursor, a toggled command: the last composition is reused
  kNewSample,  // a sample was added since: its points are walked, the pane composed afresh from
               // the picture with the axes and the curve's cached points
  kNewWindow,  // the window end moved by half a minute, as "Tracking" does: the axes are drawn
               // and every sample walked again
};

void RepaintVsPolyline(benchmark::State& state, Repaint kind) {
  SilentNotifier notifier;
  CFlowPane pane(notifier);
  pane.resize(kPaneSize);
  FillDay(pane, kDaySamples, static_cast<int>(state.range(0)));
  QImage target(kPaneSize, QImage::Format_RGB32);
  pane.render(&target);  // lays the pane out
  NaivePolyline naive(pane);
  using Clock = std::chrono::steady_clock;
  Clock::duration repaint{}, polyline{};
  double repaintCpu = 0, polylineCpu = 0;
  int64_t n = 0;
  for (auto _ : state) {
    if (kind == Repaint::kNewSample) {
      // Drawn into the cache as it comes; not part of the timed repaint.
      const uint32_t last = pane.m_times.back();
      pane.AddPoint(last + 1000u, pane.m_values[static_cast<size_t>(n) % kDaySamples]);
    }
    const double c0 = ThreadCpuSeconds();
    const auto t0 = Clock::now();
    if (kind == Repaint::kNewWindow) {
      pane.SetXRange(0.0, n % 2 == 0 ? 1440.5 : 1440.0);
    } else {
      pane.InvalidateAll();
    }
    pane.render(&target);
    benchmark::DoNotOptimize(target.constBits());
    const auto t1 = Clock::now();
    const double c1 = ThreadCpuSeconds();
    naive.Draw();
    const auto t2 = Clock::now();
    const double c2 = ThreadCpuSeconds();
    repaint += t1 - t0;
    polyline += t2 - t1;
    repaintCpu += c1 - c0;
    polylineCpu += c2 - c1;
    state.SetIterationTime(Seconds(t1 - t0));
    ++n;
  }
  const double count = static_cast<double>(n);
  state.counters["repaint_cpu_ms"] = repaintCpu * 1e3 / count;
  state.counters["polyline_cpu_ms"] = polylineCpu * 1e3 / count;
  state.counters["ratio"] = polylineCpu / repaintCpu;
  state.counters["ratio_wall"] = Seconds(polyline) / Seconds(repaint);
}

void BM_RepaintUnchangedVsPolyline(benchmark::State& state) {
  RepaintVsPolyline(state, Repaint::kUnchanged);
}
void BM_RepaintNewSampleVsPolyline(benchmark::State& state) {
  RepaintVsPolyline(state, Repaint::kNewSample);
}
void BM_RepaintNewWindowVsPolyline(benchmark::State& state) {
  RepaintVsPolyline(state, Repaint::kNewWindow);
}
BENCHMARK(BM_RepaintUnchangedVsPolyline)
    ->Arg(kCloudy)
    ->Arg(kClear)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintNewSampleVsPolyline)
    ->Arg(kCloudy)
    ->Arg(kClear)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintNewWindowVsPolyline)
    ->Arg(kCloudy)
    ->Arg(kClear)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

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
