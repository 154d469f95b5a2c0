#include "ui/dialogs/com_port_dlg.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <filesystem>

#include "support/recording_notifier.h"

namespace pyranex::ui {
namespace {

namespace fs = std::filesystem;

TEST(ComPortDlg, RefusesWhatIsNotAPortNumber) {
  const struct {
    const char* text;
    const char* prompt;
  } cases[] = {
      {"0", "请输入一个在 1 和 99 之间的整数。\nEnter an integer between 1 and 99."},
      {"100", "请输入一个在 1 和 99 之间的整数。\nEnter an integer between 1 and 99."},
      {"abc", "请输入一个整数。\nEnter an integer."},
      {"", "请输入一个整数。\nEnter an integer."},
  };
  for (const auto& c : cases) {
    test::RecordingNotifier notifier;
    CComPortDlg dlg(Paths{}, notifier);
    dlg.show();
    dlg.activateWindow();
    EXPECT_EQ(dlg.NumberEdit().text(), "1");  // preset every time
    dlg.NumberEdit().setText(c.text);
    dlg.accept();
    EXPECT_TRUE(dlg.isVisible()) << c.text;
    ASSERT_EQ(notifier.Count(), 1u) << c.text;
    EXPECT_EQ(notifier.Notices()[0].text, c.prompt);
    EXPECT_EQ(notifier.Notices()[0].icon, NoticeIcon::Warning);
    EXPECT_EQ(notifier.Notices()[0].caption, "COM No. - Quorvane");
    EXPECT_EQ(dlg.focusWidget(), &dlg.NumberEdit()) << c.text;
    EXPECT_EQ(dlg.m_portNumber, 1);
  }
}

TEST(ComPortDlg, AcceptsOneToNinetyNine) {
  for (const char* text : {"1", "10", " 99 "}) {
    test::RecordingNotifier notifier;
    CComPortDlg dlg(Paths{}, notifier);
    QTimer::singleShot(0, &dlg, [&] {
      dlg.NumberEdit().setText(text);
      dlg.accept();
    });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted) << text;
    EXPECT_EQ(dlg.m_portNumber, std::stoi(text));
    EXPECT_EQ(notifier.Count(), 0u);
  }
}

TEST(ComPortDlg, ListsTheOverridesAndAClickFillsTheNumber) {
  const fs::path exe = fs::temp_directory_path() / ("pyranex-comdlg-" + std::to_string(::getpid()));
  fs::remove_all(exe);
  fs::create_directories(exe / "ports");
  fs::create_symlink("/nonexistent/pts/7", exe / "ports" / "COM42");
  test::RecordingNotifier notifier;
  CComPortDlg dlg(Paths{exe, exe}, notifier);
  fs::remove_all(exe);
  QListWidgetItem* found = nullptr;
  for (int i = 0; i < dlg.PortList().count(); ++i) {
    if (dlg.PortList().item(i)->data(Qt::UserRole) == 42) found = dlg.PortList().item(i);
  }
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->text().contains("/nonexistent/pts/7"));
  EXPECT_TRUE(found->text().startsWith("COM42  not connected")) << found->text().toStdString();
  emit dlg.PortList().itemClicked(found);
  EXPECT_EQ(dlg.NumberEdit().text(), "42");
  dlg.accept();
  EXPECT_EQ(dlg.m_portNumber, 42);
}

}  // namespace
}  // namespace pyranex::ui
