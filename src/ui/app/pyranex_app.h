#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "core/acquisition/live_record.h"
#include "core/link/serial_device.h"
#include "core/platform/paths.h"
#include "ui/platform/qt_clock.h"
#include "ui/platform/qt_notifier.h"

namespace pyranex::ui {

class CMainFrame;
class CMqttController;

// Builds the core objects and the windows and hands each what it needs; nothing else is global.
class CPyranexApp {
 public:
  struct Options {
    Paths paths;
    Notifier* notifier = nullptr;       // null: message boxes on the screen
    SerialDeviceFactory deviceFactory;  // empty: the machine's serial devices
    QString mqttSettingsFile{};         // empty: the user's own settings
  };
  explicit CPyranexApp(Options options);
  ~CPyranexApp();
  CPyranexApp(const CPyranexApp&) = delete;
  CPyranexApp& operator=(const CPyranexApp&) = delete;

  // Creates the frame with its two views and shows it. False when the frame cannot be made.
  bool InitInstance();
  CMainFrame& Frame() { return *frame_; }
  Clock& GetClock() { return clock_; }

 private:
  Options options_;
  QtClock clock_;
  QtNotifier screenNotifier_;
  QObject notices_;  // the history store's reports reach the interface thread through it
  // The history store's recorder, where it is built. Fed by the power view's engine, so it
  // outlives the frame.
  std::unique_ptr<RecordSink> recorder_;
  // Outlives the frame, whose engine feeds it. A shared_ptr, whose deleter is fixed where it is
  // made: the type is complete only in builds with MQTT, and null in the others.
  std::shared_ptr<CMqttController> mqtt_;
  std::unique_ptr<CMainFrame> frame_;
};

}  // namespace pyranex::ui
