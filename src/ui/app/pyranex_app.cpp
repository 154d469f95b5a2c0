#include "ui/app/pyranex_app.h"

#include <QEvent>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "ui/app/main_frame.h"
#if PYRANEX_UI_HISTORY
#include "core/history/history_recorder.h"
#include "ui/history/history_view.h"
#endif
#if PYRANEX_UI_MQTT
#include <QLabel>

#include "ui/mqtt/mqtt_controller.h"
#endif
#include "ui/views/power_curve_view.h"
#include "ui/views/sys_note_view.h"

namespace pyranex::ui {
namespace {

constexpr int kLatestInitialUpdateMs = 1000;

// Calls back once, when the window it watches is first exposed (mapped on the screen).
class OnFirstExpose final : public QObject {
 public:
  OnFirstExpose(std::function<void()> callback, QObject* parent)
      : QObject(parent), callback_(std::move(callback)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose && callback_) {
      callback_();
      callback_ = nullptr;
      watched->removeEventFilter(this);
    }
    return false;
  }

 private:
  std::function<void()> callback_;
};

}  // namespace

CPyranexApp::CPyranexApp(Options options) : options_(std::move(options)) {}

CPyranexApp::~CPyranexApp() = default;

bool CPyranexApp::InitInstance() {
  // Nothing to prepare before the windows: Qt's widgets need no control classes, the system text
  // is read by our own RTF reader, workbooks are written by our own writer and QPainter draws
  // everything; there is no profile or recent-file list.
  Notifier& notifier = options_.notifier ? *options_.notifier : screenNotifier_;
#if PYRANEX_UI_HISTORY
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
#endif

  // No gate handed in: the power view makes its own (password dialog, then the monitor dialog).
  CPowerCurveView::Services services{
      clock_, notifier, options_.paths, options_.deviceFactory, nullptr, [this](float kg) {
        if (frame_) frame_->SysView().SetCo2Reduction(kg);
      }};
  if (recorder_) services.recordSinks.push_back(recorder_.get());
#if PYRANEX_UI_MQTT
  mqtt_ = std::make_shared<CMqttController>(notifier, clock_,
                                            MqttConfigStore(options_.mqttSettingsFile));
  services.recordSinks.push_back(mqtt_.get());
#endif
  auto* powerView = new CPowerCurveView(std::move(services));
  auto* sysView = new CSysNoteView(notifier, options_.paths);
#if PYRANEX_UI_HISTORY
  auto* historyView =
      new CHistoryView(CHistoryView::Services{clock_, notifier, options_.paths, store});
#else
  CHistoryView* historyView = nullptr;
#endif
  frame_ = std::make_unique<CMainFrame>(notifier, options_.paths, powerView, sysView, historyView);
#if PYRANEX_UI_MQTT
  frame_->AddSettingCommand(mqtt_->Action());
  frame_->AddStatusPane(mqtt_->StatusPane());
  mqtt_->Attach([powerView] { return powerView->Engine().GetLinkStatus(); }, frame_.get());
#endif
  frame_->show();
  // The hidden second tab's picture and text (and the font its text asks for) need not hold up
  // the window's first showing: loaded once the window is on the screen.
  auto* initialUpdate = new QTimer(frame_.get());
  initialUpdate->setSingleShot(true);
  QObject::connect(initialUpdate, &QTimer::timeout, sysView, &CSysNoteView::OnInitialUpdate);
  if (QWindow* window = frame_->windowHandle()) {
    auto* exposed = new OnFirstExpose([initialUpdate] { initialUpdate->start(0); }, window);
    window->installEventFilter(exposed);
  }
  initialUpdate->start(kLatestInitialUpdateMs);  // should the window never be exposed
  return true;
}

}  // namespace pyranex::ui
