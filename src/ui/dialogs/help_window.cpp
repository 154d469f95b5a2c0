#include "ui/dialogs/help_window.h"

#include <QDialog>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace pyranex::ui {
namespace {

constexpr const char* kWindowName = "quorvaneHelp";

}  // namespace

std::filesystem::path HelpFilePath(const Paths& paths) {
  return paths.executableDir / kHelpFileName;
}

bool ShowHelp(const Paths& paths, QWidget* parent) {
  const auto file = HelpFilePath(paths);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return false;

  QDialog* window =
      parent != nullptr ? parent->findChild<QDialog*>(QString::fromLatin1(kWindowName)) : nullptr;
  if (window == nullptr) {
    window = new QDialog(parent, Qt::Window);
    window->setObjectName(QString::fromLatin1(kWindowName));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Quorvane Help"));
    window->resize(760, 620);
    auto* layout = new QVBoxLayout(window);
    auto* browser = new QTextBrowser(window);
    browser->setObjectName(QStringLiteral("browser"));
    browser->setOpenExternalLinks(true);
    layout->addWidget(browser);
    auto* close = new QPushButton(QStringLiteral("Close"), window);
    layout->addWidget(close, 0, Qt::AlignRight);
    QObject::connect(close, &QPushButton::clicked, window, &QDialog::close);
    browser->setSource(QUrl::fromLocalFile(QString::fromStdString(file.string())));
  }
  window->show();
  window->raise();
  window->activateWindow();
  return true;
}

}  // namespace pyranex::ui
