#include "ui/dialogs/axis_set_dlg.h"

#include <gtest/gtest.h>

#include <QLineEdit>

#include "core/chart/time_span.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"

namespace pyranex::ui {
namespace {

constexpr int64_t kStart = 1322121600 + 5 * 60 + 40;  // 08:05:40

// The dialog round trip as the power view runs it: fill from the window, let the user type,
// accept, convert back.
TEST(AxisSetDlg, EditsTheChartWindowAsClockTimes) {
  const struct {
    const char *fromHour, *fromMin, *toHour, *toMin;
    const char* prompt;  // nullptr: accepted
    const char* field;
    std::optional<std::pair<double, double>> window;
  } cases[] = {
      {"8", "0", "12", "30", nullptr, nullptr, std::make_pair(-5.0, 265.0)},
      {"9", "0", "12", "30", nullptr, nullptr, std::make_pair(55.0, 265.0)},
      {"10", "0", "10", "0", nullptr, nullptr, std::nullopt},
      {"24", "0", "12", "30",
       "请输入一个在 0 和 23 之间的整数。\nEnter an integer between 0 and 23.", "From hour",
       std::nullopt},
      {"8", "60", "12", "30",
       "请输入一个在 0 和 59 之间的整数。\nEnter an integer between 0 and 59.", "From minute",
       std::nullopt},
      {"8", "0", "-1", "30",
       "请输入一个在 0 和 23 之间的整数。\nEnter an integer between 0 and 23.", "To hour",
       std::nullopt},
      {"8", "0", "12", "x", "请输入一个整数。\nEnter an integer.", "To minute", std::nullopt},
  };
  test::FakeClock clock;
  for (const auto& c : cases) {
    test::RecordingNotifier notifier;
    CAxisSetDlg dlg(notifier);
    const chart::TimeSpan shown = chart::TimeSpanForWindow(kStart, 0, 30, clock);
    dlg.m_fromHour = shown.fromHour;
    dlg.m_fromMin = shown.fromMin;
    dlg.m_toHour = shown.toHour;
    dlg.m_toMin = shown.toMin;
    dlg.show();
    EXPECT_EQ(dlg.FromHourEdit().text(), "8");
    EXPECT_EQ(dlg.FromMinEdit().text(), "5");
    EXPECT_EQ(dlg.ToHourEdit().text(), "8");
    EXPECT_EQ(dlg.ToMinEdit().text(), "35");
    dlg.FromHourEdit().setText(c.fromHour);
    dlg.FromMinEdit().setText(c.fromMin);
    dlg.ToHourEdit().setText(c.toHour);
    dlg.ToMinEdit().setText(c.toMin);
    dlg.accept();
    if (c.prompt != nullptr) {
      EXPECT_TRUE(dlg.isVisible()) << c.prompt;
      ASSERT_EQ(notifier.Count(), 1u);
      EXPECT_EQ(notifier.Notices()[0].text, c.prompt);
      EXPECT_EQ(notifier.Notices()[0].caption, std::string(c.field) + " - Quorvane");
      continue;
    }
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(notifier.Count(), 0u);
    const auto window = chart::WindowForTimeSpan(
        kStart, {dlg.m_fromHour, dlg.m_fromMin, dlg.m_toHour, dlg.m_toMin}, clock);
    EXPECT_EQ(window, c.window) << c.fromHour << ":" << c.fromMin;
  }
}

}  // namespace
}  // namespace pyranex::ui
