#include "ui/history/history_view.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "core/history/calendar.h"
#include "core/workbook/history_store.h"
#include "history_fill.h"
#include "modal_driver.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"
#include "ui/dialogs/axis_set_dlg.h"
#include "ui/history/bar_pane.h"
#include "ui/widgets/flow_pane.h"
#include "workbook/xls_readback.h"

namespace pyranex::ui {
namespace {

using history::DayNumber;
using Level = CHistoryView::Level;

// Two simulated stretches, a month in 2023 and the first half of 2024, seen on 2024-06-20 at
// noon (local time is UTC here).
class HistoryViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    for (auto [from, to] : {std::pair{DayNumber({2023, 8, 1}), DayNumber({2023, 8, 31})},
                            std::pair{DayNumber({2024, 5, 1}), DayNumber({2024, 6, 20})}}) {
      history::FillOptions fill;
      fill.store = Store();
      fill.firstDay = from;
      fill.lastDay = to;
      fill.utcOffset = 0;
      std::string why;
      ASSERT_GT(history::FillSimulatedDays(fill, why), 0) << why;
    }
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::filesystem::path Store() { return *dir_ / "hisdata/history.sqlite"; }

  HistoryViewTest()
      : view_(
            CHistoryView::Services{clock_, notifier_, Paths{dir_->path(), dir_->path()}, Store()}) {
    view_.resize(996, 560);
    view_.show();
  }
  void Click(QWidget& widget, QPoint at) { QTest::mouseClick(&widget, Qt::LeftButton, {}, at); }

  static inline test::TempDir* dir_ = nullptr;
  test::FakeClock clock_{DayNumber({2024, 6, 20}) * 86400 + 12 * 3600, 1000, 0};
  test::RecordingNotifier notifier_;
  CHistoryView view_;
};

TEST_F(HistoryViewTest, BarsOpenTheirPeriodDownToTheDaysCurve) {
  view_.ShowLifetime();
  ASSERT_EQ(view_.Bars().Values().size(), 2u);  // 2023 and 2024
  Click(view_.Bars(), view_.Bars().SlotPoint(1));
  EXPECT_EQ(view_.CurrentLevel(), Level::Year);
  EXPECT_EQ(view_.CurrentKey(), 2024);
  const auto& months = view_.Bars().Values();
  ASSERT_EQ(months.size(), 12u);
  EXPECT_TRUE(std::isnan(months[3]));  // no April
  EXPECT_GT(months[4], months[5]);     // all of May, twenty days of June

  Click(view_.Bars(), view_.Bars().SlotPoint(5));
  EXPECT_EQ(view_.Title(), "June 2024");
  ASSERT_EQ(view_.Bars().Values().size(), 30u);
  EXPECT_TRUE(std::isnan(view_.Bars().Values()[20]));  // June 21 is still to come
  const double june15 = view_.Bars().Values()[14];

  Click(view_.Bars(), view_.Bars().SlotPoint(14));
  EXPECT_EQ(view_.CurrentLevel(), Level::Day);
  EXPECT_EQ(view_.Title(), "2024-06-15");
  EXPECT_EQ(view_.Pane().m_values.size(), 14u * 60 + 1);
  EXPECT_NE(view_.SummaryText().toStdString().find(QString::number(june15, 'f', 1).toStdString()),
            std::string::npos)
      << view_.SummaryText().toStdString();

  view_.OnPrevious();
  EXPECT_EQ(view_.Title(), "2024-06-14");
  view_.OnNext();
  view_.OnNext();
  EXPECT_EQ(view_.CurrentKey(), DayNumber({2024, 6, 16}));
  view_.ShowMonth(2024 * 12 + 4);
  view_.OnNext();
  EXPECT_EQ(view_.Title(), "June 2024");
}

TEST_F(HistoryViewTest, PastDayHasThePositionCursorAndTheTimeSpan) {
  view_.ShowDay(DayNumber({2023, 8, 10}));
  CFlowPane& pane = view_.Pane();
  ASSERT_FALSE(pane.m_values.empty());
  EXPECT_EQ(pane.m_startTime, DayNumber({2023, 8, 10}) * 86400 + 5 * 3600);
  EXPECT_DOUBLE_EQ(pane.m_xEnd, 14 * 60.0);

  view_.OnPosition();
  EXPECT_TRUE(view_.CursorShown());
  const QPoint at(pane.m_plotRect.left + pane.m_plotRect.Width() / 2, pane.m_plotRect.top + 20);
  Click(pane, at);
  EXPECT_EQ(pane.m_cursorX, at.x());

  test::ModalDriver driver([](QWidget& modal) {
    if (auto* dialog = qobject_cast<CAxisSetDlg*>(&modal)) {
      EXPECT_EQ(dialog->FromHourEdit().text(), "5");
      EXPECT_EQ(dialog->ToHourEdit().text(), "19");
      dialog->FromHourEdit().setText("9");
      dialog->ToHourEdit().setText("12");
      dialog->ToMinEdit().setText("30");
      dialog->accept();
    }
  });
  view_.OnXScope();
  EXPECT_DOUBLE_EQ(pane.m_xStart, 240.0);
  EXPECT_DOUBLE_EQ(pane.m_xEnd, 450.0);
  if (const char* png = std::getenv("PYRANEX_HISTORY_PNG")) view_.grab().save(png);
}

TEST_F(HistoryViewTest, TodayGrowsAsRecordsComeAndImportsShowAtOnce) {
  view_.ShowDay(DayNumber({2024, 6, 20}));
  const size_t before = view_.Pane().m_values.size();
  // Later records of today, as the recorder commits them (here a day of another inverter
  // imported meanwhile too).
  history::FillOptions more;
  more.store = Store();
  more.firstDay = more.lastDay = DayNumber({2024, 6, 20});
  more.stepSeconds = 30;
  more.utcOffset = 0;
  std::string why;
  ASSERT_GT(history::FillSimulatedDays(more, why), 0) << why;
  view_.OnStoreChanged();
  EXPECT_GT(view_.Pane().m_values.size(), before);

  test::FakeClock clock;
  HistoryStore writer(dir_->path() / "old", WorkbookEnv{clock, notifier_, nullptr});
  DayLog log;
  for (uint32_t k = 0; k < 5; ++k) {
    log.tickMs.push_back(k * 60000);
    for (auto* series :
         {&log.udc, &log.uac, &log.freq, &log.pac, &log.eToday, &log.eTotal, &log.temp, &log.dci}) {
      series->push_back(1.0f);
    }
    for (auto* series : {&log.tToday, &log.tTotal, &log.iacShift, &log.state1, &log.state2}) {
      series->push_back(k);
    }
  }
  writer.SaveHistory(0, {log, "000000000777", 30, DayNumber({2022, 3, 1}) * 86400 + 36000});
  view_.Import({dir_->path() / "old"});
  EXPECT_TRUE(test::Until([&] { return !view_.ImportRunning() && notifier_.Count() > 0; }, 20));
  ASSERT_EQ(notifier_.Count(), 1u);
  EXPECT_NE(notifier_.Notices()[0].text.find("Imported 1 of 1 workbooks: 5 records added"),
            std::string::npos)
      << notifier_.Notices()[0].text;
}

}  // namespace
}  // namespace pyranex::ui
