#pragma once

#include <QEvent>
#include <QPointer>

#include "core/platform/message_sink.h"

namespace pyranex::ui {

// A posted window message as a Qt event: its type is the message number itself.
class PostedMessageEvent final : public QEvent {
 public:
  PostedMessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam)
      : QEvent(static_cast<QEvent::Type>(message)), wParam_(wParam), lParam_(lParam) {}
  uintptr_t wParam() const { return wParam_; }
  intptr_t lParam() const { return lParam_; }

 private:
  uintptr_t wParam_;
  intptr_t lParam_;
};

// Posts to one receiver object; the receiver's event() override is its message map.
class QtMessageSink final : public MessageSink {
 public:
  explicit QtMessageSink(QObject* receiver) : receiver_(receiver) {}
  void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

 private:
  QPointer<QObject> receiver_;
};

}  // namespace pyranex::ui
