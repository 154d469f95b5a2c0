#include "ui/platform/qt_message_sink.h"

#include <QCoreApplication>

namespace pyranex::ui {

void QtMessageSink::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // postEvent is thread-safe and takes ownership of the event.
  if (QObject* receiver = receiver_.data()) {
    QCoreApplication::postEvent(receiver, new PostedMessageEvent(message, wParam, lParam));
  }
}

}  // namespace pyranex::ui
