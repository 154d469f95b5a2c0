#include "ui/app/pyranex_app.h"

#include "ui/app/main_frame.h"
#include "ui/views/power_curve_view.h"
#include "ui/views/sys_note_view.h"

namespace pyranex::ui {

CPyranexApp::CPyranexApp(Options options) : options_(std::move(options)) {}

CPyranexApp::~CPyranexApp() = default;

bool CPyranexApp::InitInstance() {
  // Nothing to prepare before the windows: Qt's widgets need no control classes, the system text
  // is read by our own RTF reader, workbooks are written by our own writer and QPainter draws
  // everything; there is no profile or recent-file list.
  Notifier& notifier = options_.notifier ? *options_.notifier : screenNotifier_;
  // No gate handed in: the power view makes its own (password dialog, then the monitor dialog).
  auto* powerView = new CPowerCurveView(CPowerCurveView::Services{
      clock_, notifier, options_.paths, options_.deviceFactory, nullptr, [this](float kg) {
        if (frame_) frame_->SysView().SetCo2Reduction(kg);
      }});
  auto* sysView = new CSysNoteView(notifier, options_.paths);
  frame_ = std::make_unique<CMainFrame>(notifier, options_.paths, powerView, sysView);
  frame_->show();
  return true;
}

}  // namespace pyranex::ui
