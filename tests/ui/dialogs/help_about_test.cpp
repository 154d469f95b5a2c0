#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTextBrowser>
#include <filesystem>
#include <fstream>

#include "ui/dialogs/about_dlg.h"
#include "ui/dialogs/help_window.h"

namespace pyranex::ui {
namespace {

namespace fs = std::filesystem;

TEST(HelpWindow, OpensTheManualOnceAndNothingWhenItIsMissing) {
  const fs::path dir = fs::temp_directory_path() / ("pyranex-help-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  QWidget frame;
  const Paths paths{dir, dir};
  EXPECT_FALSE(ShowHelp(paths, &frame));
  EXPECT_TRUE(frame.findChildren<QDialog*>().isEmpty());

  std::ofstream(HelpFilePath(paths)) << "<html><body><h1>Manual</h1></body></html>";
  EXPECT_TRUE(ShowHelp(paths, &frame));
  EXPECT_TRUE(ShowHelp(paths, &frame));  // raises the open window, no second one
  const auto windows = frame.findChildren<QDialog*>();
  ASSERT_EQ(windows.size(), 1);
  EXPECT_FALSE(windows[0]->isModal());
  EXPECT_TRUE(windows[0]->findChild<QTextBrowser*>()->toPlainText().contains("Manual"));
  fs::remove_all(dir);
}

TEST(AboutDlg, NamesTheProgram) {
  CAboutDlg dlg;
  EXPECT_EQ(dlg.windowTitle(), "About Quorvane");
  EXPECT_TRUE(dlg.findChild<QLabel*>("name")->text().startsWith("Quorvane, Version "));
}

}  // namespace
}  // namespace pyranex::ui
