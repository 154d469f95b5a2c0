// The History tab over ten years of records: from a click on a month's bar to the painted month
// (goal under 50 ms), and from choosing the year or lifetime view to its painted frame (goal
// under 100 ms).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>

#include "core/history/calendar.h"
#include "history_fill.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"
#include "ui/history/bar_pane.h"
#include "ui/history/history_view.h"
#include "workbook/xls_readback.h"

namespace pyranex::ui {
namespace {

using history::DayNumber;

struct TenYears {
  TenYears() {
    history::FillOptions fill;
    fill.store = dir / "hisdata" / "history.sqlite";
    fill.firstDay = DayNumber({2016, 1, 1});
    fill.lastDay = DayNumber({2025, 12, 31});
    fill.stepSeconds = 600;  // the views read the day totals; the records' density does not count
    std::string why;
    if (history::FillSimulatedDays(fill, why) < 0) std::fprintf(stderr, "%s\n", why.c_str());
  }
  test::TempDir dir;
};

TenYears& Store() {
  static TenYears store;
  return store;
}

struct View {
  View()
      : view(CHistoryView::Services{clock, notifier, Paths{Store().dir.path(), Store().dir.path()},
                                    Store().dir / "hisdata" / "history.sqlite"}) {
    view.resize(996, 560);
    view.show();
    QApplication::processEvents();
  }
  test::FakeClock clock{DayNumber({2025, 12, 31}) * 86400};
  test::RecordingNotifier notifier;
  CHistoryView view;
};

void ClickBar(CBarPane& bars, size_t slot) {
  const QPointF at(bars.SlotPoint(slot));
  QMouseEvent release(QEvent::MouseButtonRelease, at, bars.mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&bars, &release);
}

void BM_MonthBarClickToPaintedMonth(benchmark::State& state) {
  View v;
  for (auto _ : state) {
    state.PauseTiming();
    v.view.ShowYear(2020);
    v.view.repaint();
    state.ResumeTiming();
    ClickBar(v.view.Bars(), 5);
    v.view.repaint();  // paints the tab and its children now
  }
  if (v.view.CurrentLevel() != CHistoryView::Level::Month) state.SkipWithError("no month shown");
}
BENCHMARK(BM_MonthBarClickToPaintedMonth)->Unit(benchmark::kMillisecond);

void BM_YearViewPainted(benchmark::State& state) {
  View v;
  for (auto _ : state) {
    v.view.ShowYear(2023);
    v.view.repaint();
  }
}
BENCHMARK(BM_YearViewPainted)->Unit(benchmark::kMillisecond);

void BM_LifetimeViewPainted(benchmark::State& state) {
  View v;
  for (auto _ : state) {
    v.view.ShowLifetime();
    v.view.repaint();
  }
  if (v.view.Bars().Values().size() != 10) state.SkipWithError("not ten years");
}
BENCHMARK(BM_LifetimeViewPainted)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pyranex::ui

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
