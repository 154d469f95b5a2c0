#include "ui/app/pyranex_app.h"

#include "ui/app/main_frame.h"
#include "ui/history/history_view.h"
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
  const std::filesystem::path store = history::StorePath(options_.paths.executableDir);
  // The recorder reports from its own thread; the frame shows it on this one.
  auto onInterface = [this](std::function<void(CMainFrame&)> show) {
    QMetaObject::invokeMethod(
        &notices_,
        [this, show = std::move(show)] {
          if (frame_) show(*frame_);
        },
        Qt::QueuedConnection);
  };
  history::HistoryRecorder::Options recording;
  recording.file = store;
  recording.clock = &clock_;
  recording.onProblem = [onInterface](const std::string& text) {
    onInterface(
        [text](CMainFrame& frame) { frame.ShowHistoryProblem(QString::fromStdString(text)); });
  };
  recording.onRecovered = [onInterface](const std::string& text) {
    onInterface(
        [text](CMainFrame& frame) { frame.SetHistoryStatus(QString::fromStdString(text)); });
  };
  recording.onCommitted = [onInterface] {
    onInterface([](CMainFrame& frame) {
      if (frame.History() != nullptr) frame.History()->OnStoreChanged();
    });
  };
  recorder_ = std::make_unique<history::HistoryRecorder>(std::move(recording));

  // No gate handed in: the power view makes its own (password dialog, then the monitor dialog).
  auto* powerView =
      new CPowerCurveView(CPowerCurveView::Services{clock_,
                                                    notifier,
                                                    options_.paths,
                                                    options_.deviceFactory,
                                                    nullptr,
                                                    [this](float kg) {
                                                      if (frame_)
                                                        frame_->SysView().SetCo2Reduction(kg);
                                                    },
                                                    {recorder_.get()}});
  auto* sysView = new CSysNoteView(notifier, options_.paths);
  auto* historyView =
      new CHistoryView(CHistoryView::Services{clock_, notifier, options_.paths, store});
  frame_ = std::make_unique<CMainFrame>(notifier, options_.paths, powerView, sysView, historyView);
  frame_->show();
  return true;
}

}  // namespace pyranex::ui
