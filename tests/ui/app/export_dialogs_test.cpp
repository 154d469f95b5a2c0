#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <vector>

#include "modal_driver.h"
#include "support/fake_serial_device.h"
#include "support/recording_notifier.h"
#include "ui/app/main_frame.h"
#include "ui/app/pyranex_app.h"
#include "ui/export/export_set_dlg.h"
#include "ui/export/progress_dlg.h"
#include "ui/views/power_curve_view.h"

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

// Enter and Esc close the box (the export goes on behind it); other keys do not.
TEST(ProgressDlg, EnterAndEscClose) {
  const std::vector<std::pair<Qt::Key, bool>> keys = {{Qt::Key_Return, true},
                                                      {Qt::Key_Enter, true},
                                                      {Qt::Key_Escape, true},
                                                      {Qt::Key_Space, false},
                                                      {Qt::Key_A, false}};
  for (const auto& [key, closes] : keys) {
    SCOPED_TRACE(key);
    CProgressDlg dialog;
    dialog.show();
    QTest::keyClick(&dialog, key);
    EXPECT_EQ(dialog.isVisible(), !closes);
  }
}

// Save As: the overwrite question names the file the workbook really goes to.
TEST(SaveData, AsksAboutTheNameTheWorkbookWillHave) {
  namespace fs = std::filesystem;
  struct Case {
    const char* name;
    const char* existing;  // a file there before
    const char* typed;
    std::vector<NoticeAnswer> answers;  // to the questions, in turn
    const char* asked;                  // the file named in the question, empty: none
    const char* written;                // the workbook written, empty: none
  };
  const std::vector<Case> cases = {
      {"typed without .xls, replaced", "day.xls", "day", {NoticeAnswer::Yes}, "day.xls", "day.xls"},
      {"typed without .xls, kept", "day.xls", "day", {NoticeAnswer::No}, "day.xls", ""},
      {"mixed case gets a second extension", "day.Xls", "day.Xls", {}, "", "day.Xls.xls"},
      {"second extension exists",
       "day.Xls.xls",
       "day.Xls",
       {NoticeAnswer::Yes},
       "day.Xls.xls",
       "day.Xls.xls"},
      {"new name", "other.xls", "new", {}, "", "new.xls"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = fs::temp_directory_path() /
                         ("quorvane-saveas-" + std::to_string(::getpid()) + "-" + c.typed);
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / c.existing) << "kept";

    struct Answers final : Notifier {
      using Notifier::Show;
      std::vector<NoticeAnswer> answers;
      std::vector<std::string> questions;
      NoticeAnswer Show(const std::string& text, const std::string&, NoticeIcon,
                        NoticeButtons buttons) override {
        if (buttons != NoticeButtons::YesNo) return NoticeAnswer::Ok;
        questions.push_back(text);
        if (questions.size() > answers.size()) return NoticeAnswer::No;
        return answers[questions.size() - 1];
      }
    } notifier;
    notifier.answers = c.answers;
    test::FakeSerialLine line;
    CPyranexApp app({{dir, dir}, &notifier, line.Factory()});
    ASSERT_TRUE(app.InitInstance());
    CPowerCurveView& view = app.Frame().PowerView();
    ASSERT_TRUE(view.Connect(1));

    int fileDialogs = 0;
    QPointer<QFileDialog> lastSaveAs;
    bool acceptQueued = false;
    std::vector<std::string> dialogBoxes;  // boxes of the file dialog itself
    test::ModalDriver driver([&](QWidget& modal) {
      if (auto* options = qobject_cast<CExportSetDlg*>(&modal)) {
        options->accept();
      } else if (auto* saveAs = qobject_cast<QFileDialog*>(&modal)) {
        // The accept is queued, so the timer may see the dialog again before it ran; one the
        // dialog refused is typed and tried again.
        if (saveAs == lastSaveAs && acceptQueued) return;
        if (saveAs != lastSaveAs) {
          lastSaveAs = saveAs;
          if (++fileDialogs > 1) {  // back in the dialog after No: Cancel
            saveAs->reject();
            return;
          }
        }
        ASSERT_TRUE(test::TypeFilePath(*saveAs, dir / c.typed));
        acceptQueued = true;
        QMetaObject::invokeMethod(
            saveAs,
            [saveAs, &acceptQueued] {
              QMetaObject::invokeMethod(saveAs, "accept");
              acceptQueued = false;
            },
            Qt::QueuedConnection);
      } else if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
        dialogBoxes.push_back(box->text().toStdString());
        box->done(QMessageBox::Yes);
      }
    });
    app.Frame().Action(ID_SAVE_DATA)->trigger();
    ASSERT_TRUE(test::Until([&] { return !view.ExportRunning(); }, 30));

    EXPECT_TRUE(dialogBoxes.empty()) << dialogBoxes.front();
    // No goes back to the dialog (where the test cancels).
    EXPECT_EQ(fileDialogs, c.answers == std::vector{NoticeAnswer::No} ? 2 : 1);
    if (*c.asked == '\0') {
      EXPECT_TRUE(notifier.questions.empty()) << notifier.questions.front();
    } else {
      ASSERT_FALSE(notifier.questions.empty());
      EXPECT_EQ(notifier.questions.front(),
                std::string(c.asked) + " already exists.\nDo you want to replace it?");
    }
    // The file that was there is replaced only when it is the one written.
    EXPECT_EQ(fs::file_size(dir / c.existing) == 4, std::string(c.existing) != c.written);
    if (*c.written != '\0') {
      EXPECT_GT(fs::file_size(dir / c.written), 4u);
    }
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) {
      files += entry.path().extension() == ".xls" || entry.path().extension() == ".Xls" ? 1 : 0;
    }
    EXPECT_EQ(files, *c.written != '\0' && std::string(c.existing) != c.written ? 2u : 1u);
    view.Disconnect();
    fs::remove_all(dir);
  }
}

}  // namespace
}  // namespace pyranex::ui
