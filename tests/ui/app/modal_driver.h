#pragma once
// Answers the modal windows a test runs into: every few milliseconds the active modal widget,
// if any, is handed to the handler (which closes it). Lives as long as the test needs it.
#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/time_scale.h"

namespace pyranex::test {

// Runs the interface until the condition holds; false after the limit (scaled for slow builds).
template <typename F>
bool Until(F condition, int seconds) {
  QDeadlineTimer deadline(Scaled(std::chrono::seconds(seconds)).count());
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

// Types `path` into a non-native file dialog as a user would. QFileDialog::selectFile leaves the
// name alone while the name field has the focus, which it gets once the dialog is active.
inline bool TypeFilePath(QFileDialog& dialog, const std::filesystem::path& path) {
  auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  if (name == nullptr) return false;
  dialog.setDirectory(QString::fromStdString(path.parent_path().string()));
  name->setText(QString::fromStdString(path.filename().string()));
  return true;
}

class ModalDriver {
 public:
  explicit ModalDriver(std::function<void(QWidget&)> handler) : handler_(std::move(handler)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QWidget* modal = QApplication::activeModalWidget()) handler_(*modal);
    });
    timer_.start(10);
  }

  // Records each message box's text and presses `button` on it.
  static ModalDriver AnsweringBoxes(std::vector<std::string>& texts,
                                    QMessageBox::StandardButton button) {
    return ModalDriver([&texts, button](QWidget& modal) {
      if (auto* box = qobject_cast<QMessageBox*>(&modal)) {
        texts.push_back(box->text().toStdString());
        box->done(box->standardButtons() & button ? button : QMessageBox::Ok);
      }
    });
  }

 private:
  std::function<void(QWidget&)> handler_;
  QTimer timer_;
};

}  // namespace pyranex::test
