#pragma once
// Answers the modal windows a test runs into: every few milliseconds the active modal widget,
// if any, is handed to the handler (which closes it). Lives as long as the test needs it.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace pyranex::test {

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
