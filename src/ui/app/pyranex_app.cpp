#include "ui/app/pyranex_app.h"

#include "ui/app/main_frame.h"
#if PYRANEX_UI_MQTT
#include <QLabel>

#include "ui/mqtt/mqtt_controller.h"
#endif
#include "ui/views/power_curve_view.h"
#include "ui/views/sys_note_view.h"

namespace pyranex::ui {

CPyranexApp::CPyranexApp(Options options) : options_(std::move(options)) {}

CPyranexApp::~CPyranexApp() = default;

bool CPyranexApp::InitInstance() {
  // What the original start-up prepared has no counterpart to start here: Qt's widgets need no
  // common-control classes; the system text is read by our own RTF reader into a QTextDocument
  // (no rich-edit library); workbooks are written by our own writer (no OLE automation);
  // QPainter draws everything (no GDI+ token); and there is no registry profile or recent-file
  // list, which the program never used.
  Notifier& notifier = options_.notifier ? *options_.notifier : screenNotifier_;
  // No gate handed in: the power view makes its own (password dialog, then the monitor dialog).
  CPowerCurveView::Services services{
      clock_, notifier, options_.paths, options_.deviceFactory, nullptr, [this](float kg) {
        if (frame_) frame_->SysView().SetCo2Reduction(kg);
      }};
#if PYRANEX_UI_MQTT
  mqtt_ = std::make_shared<CMqttController>(notifier, clock_,
                                            MqttConfigStore(options_.mqttSettingsFile));
  services.recordSinks.push_back(mqtt_.get());
#endif
  auto* powerView = new CPowerCurveView(std::move(services));
  auto* sysView = new CSysNoteView(notifier, options_.paths);
  frame_ = std::make_unique<CMainFrame>(notifier, options_.paths, powerView, sysView);
#if PYRANEX_UI_MQTT
  frame_->AddSettingCommand(mqtt_->Action());
  frame_->AddStatusPane(mqtt_->StatusPane());
  mqtt_->Attach([powerView] { return powerView->Engine().GetLinkStatus(); }, frame_.get());
#endif
  frame_->show();
  return true;
}

}  // namespace pyranex::ui
