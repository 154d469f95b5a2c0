#include "ui/platform/qt_notifier.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace pyranex::ui {
namespace {

QMessageBox::Icon ToQt(NoticeIcon icon) {
  switch (icon) {
    case NoticeIcon::Information:
      return QMessageBox::Information;
    case NoticeIcon::Warning:
      return QMessageBox::Warning;
    case NoticeIcon::Error:
      return QMessageBox::Critical;
    case NoticeIcon::Question:
      return QMessageBox::Question;
    case NoticeIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

NoticeAnswer ShowHere(const std::string& text, const std::string& caption, NoticeIcon icon,
                      NoticeButtons buttons) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text));
  switch (buttons) {
    case NoticeButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case NoticeButtons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case NoticeButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Cancel:
      return NoticeAnswer::Cancel;
    case QMessageBox::Yes:
      return NoticeAnswer::Yes;
    case QMessageBox::No:
      return NoticeAnswer::No;
    default:
      return NoticeAnswer::Ok;
  }
}

}  // namespace

NoticeAnswer QtNotifier::Show(const std::string& text, const std::string& caption, NoticeIcon icon,
                              NoticeButtons buttons) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return NoticeAnswer::Ok;
  if (QThread::currentThread() == app->thread()) return ShowHere(text, caption, icon, buttons);
  NoticeAnswer answer = NoticeAnswer::Ok;
  QMetaObject::invokeMethod(
      app, [&] { answer = ShowHere(text, caption, icon, buttons); }, Qt::BlockingQueuedConnection);
  return answer;
}

}  // namespace pyranex::ui
