#include <gtest/gtest.h>

#include <QLineEdit>
#include <QRadioButton>
#include <vector>

#include "support/recording_notifier.h"
#include "ui/export/export_set_dlg.h"
#include "ui/export/progress_dlg.h"

namespace pyranex::ui {
namespace {

TEST(ExportSetDlg, ShowsTheFieldsAndTakesBackValidOnes) {
  struct Case {
    const char* name;
    std::vector<const char*> texts;  // from hour, from min, to hour, to min
    int sampling;
    bool accepted;
    const char* prompt;  // empty: none
  };
  const std::vector<Case> cases = {
      {"valid, 10Min", {"8", "5", "12", "30"}, 3, true, ""},
      {"hour 24",
       {"24", "5", "12", "30"},
       0,
       false,
       "请输入一个在 0 和 23 之间的整数。\nEnter an integer between 0 and 23."},
      {"minute 60",
       {"8", "5", "12", "60"},
       0,
       false,
       "请输入一个在 0 和 59 之间的整数。\nEnter an integer between 0 and 59."},
      {"not a number", {"8", "x", "12", "30"}, 0, false, "请输入一个整数。\nEnter an integer."},
      {"reversed range is the view's business", {"12", "0", "8", "0"}, 1, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::RecordingNotifier notifier;
    CExportSetDlg dialog(notifier);
    dialog.m_fromHour = 7;
    dialog.m_fromMin = 1;
    dialog.m_toHour = 9;
    dialog.m_toMin = 2;
    dialog.m_sampling = 2;
    dialog.show();
    EXPECT_EQ(dialog.Edit(0).text(), "7");
    EXPECT_EQ(dialog.Edit(3).text(), "2");
    EXPECT_TRUE(dialog.Sampling(2).isChecked());
    for (int i = 0; i < 4; ++i) dialog.Edit(i).setText(QString::fromUtf8(c.texts[i]));
    dialog.Sampling(c.sampling).setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
    if (c.accepted) {
      EXPECT_EQ(notifier.Count(), 0u);
      EXPECT_EQ(dialog.m_fromHour, std::stoi(c.texts[0]));
      EXPECT_EQ(dialog.m_toMin, std::stoi(c.texts[3]));
      EXPECT_EQ(dialog.m_sampling, c.sampling);
    } else {
      ASSERT_EQ(notifier.Count(), 1u);
      EXPECT_EQ(notifier.Notices()[0].text, c.prompt);
      EXPECT_EQ(dialog.m_sampling, 2);  // a refused OK changes no choice
    }
  }
}

TEST(ProgressDlg, TextsOfTheSave) {
  CProgressDlg dialog;
  EXPECT_EQ(dialog.Text(), "Save In Progress...");
  for (const auto& [percent, text] :
       std::vector<std::pair<int, const char*>>{{0, "Save Progress is 0%"},
                                                {40, "Save Progress is 40%"},
                                                {100, "Save Progress is 100%"}}) {
    dialog.SetProgress(percent);
    EXPECT_EQ(dialog.Text(), text);
  }
  dialog.Reset();
  EXPECT_EQ(dialog.Text(), "Save In Progress...");
  EXPECT_EQ(dialog.windowTitle(), "Save Progress");
}

}  // namespace
}  // namespace pyranex::ui
