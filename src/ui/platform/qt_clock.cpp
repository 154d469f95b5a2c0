#include "ui/platform/qt_clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <thread>

namespace pyranex::ui {

void QtClock::SleepMs(uint32_t ms) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() != app->thread()) {
    SystemClock::Instance().SleepMs(ms);
    return;
  }
  // User input stays queued: a click must not start a second connect inside the first.
  constexpr auto kFlags = QEventLoop::ExcludeUserInputEvents;
  const QDeadlineTimer deadline(static_cast<qint64>(ms));
  do {
    QCoreApplication::processEvents(kFlags);
    const qint64 left = deadline.remainingTime();
    if (left <= 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<qint64>(left, 5)));
  } while (!deadline.hasExpired());
}

}  // namespace pyranex::ui
