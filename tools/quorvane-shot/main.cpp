// Starts the Quorvane window as the program does, connects to COM n as "Com..." then OK would,
// waits for a number of live samples and writes pictures of the two tabs; then, if asked, opens
// "Par..." with the right password and with a wrong one and pictures the monitor dialog after
// its first read pass.
//   quorvane-shot --com N --samples N [--timeout S] [--exe-dir DIR] [--data DIR]
//                 [--power FILE.png] [--system FILE.png] [--text FILE.png]
//                 [--monitor FILE.png] [--monitor-locked FILE.png] [--mqtt FILE.png]
// --exe-dir: the folder taken as the executable's (ports/, hisdata/, backdata/);
// --data: the current folder (2.bmp, 1.bmp, myfile.rtf, datacfg.xls); --text: the system view
// after "Text Info"; --mqtt: "Setting > MQTT..." after its Test button has answered.
// --history PREFIX --history-day YYYY-MM-DD: the History tab's day, month, year and lifetime
// views of that day as PREFIX-day.png ... PREFIX-lifetime.png; with --com 0 nothing is
// connected.
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#if QUORVANE_SHOT_HISTORY
#include "core/history/calendar.h"
#endif
#include "core/monitor/monitor_engine.h"
#include "core/monitor/password.h"
#include "ui/app/main_frame.h"
#include "ui/app/pyranex_app.h"
#include "ui/app/tab_holder.h"
#if QUORVANE_SHOT_HISTORY
#include "ui/history/history_view.h"
#endif
#include "ui/monitor/monitor_dlg.h"
#include "ui/monitor/pass_word_dlg.h"
#include "ui/views/power_curve_view.h"
#include "ui/views/sys_note_view.h"
#include "ui/widgets/flow_pane.h"
#if QUORVANE_SHOT_MQTT
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include "ui/mqtt/mqtt_dlg.h"
#endif

namespace {

// No one is there to answer a box: each is printed and answered with its first button.
class PrintingNotifier final : public pyranex::Notifier {
 public:
  using Notifier::Show;
  pyranex::NoticeAnswer Show(const std::string& text, const std::string& caption,
                             pyranex::NoticeIcon, pyranex::NoticeButtons buttons) override {
    std::fprintf(stderr, "quorvane-shot: [%s] %s\n", caption.c_str(), text.c_str());
    return buttons == pyranex::NoticeButtons::YesNo ? pyranex::NoticeAnswer::Yes
                                                    : pyranex::NoticeAnswer::Ok;
  }
};

bool SavePicture(QWidget& window, const char* file) {
  if (file == nullptr) return true;
  QApplication::processEvents();
  if (window.grab().toImage().save(QString::fromLocal8Bit(file))) return true;
  std::fprintf(stderr, "quorvane-shot: cannot write %s\n", file);
  return false;
}

// "Par..." answered with `password`; the dialog is pictured once its edit fields are filled and
// every read step has come round again, then closed with "Cancel".
bool SaveMonitorPicture(pyranex::ui::CPowerCurveView& view, const char* password, const char* file,
                        int timeoutS) {
  if (file == nullptr) return true;
  bool saved = false;
  bool done = false;
  QTimer driver;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* ask = qobject_cast<pyranex::ui::CPassWordDlg*>(modal)) {
      ask->PasswordEdit().setText(QString::fromLatin1(password));
      ask->accept();
    } else if (auto* dialog = qobject_cast<pyranex::ui::CMonitorDlg*>(modal)) {
      const pyranex::MonitorEngine& engine = dialog->Engine();
      if (!engine.EditsLoaded() || engine.CompletedReads() < 10) return;
      saved = SavePicture(*dialog, file);
      done = true;
      dialog->reject();
    }
  });
  driver.start(50);
  view.OnParSetting();
  const QDeadlineTimer deadline(static_cast<qint64>(timeoutS) * 1000);
  while (!done && !deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  if (!done) std::fprintf(stderr, "quorvane-shot: the monitor dialog did not fill in time\n");
  return saved;
}

#if QUORVANE_SHOT_HISTORY
// The History tab at the day, its month, its year and the lifetime.
bool SaveHistoryPictures(pyranex::ui::CMainFrame& frame, const char* prefix, const char* day) {
  if (prefix == nullptr || frame.History() == nullptr) return true;
  const auto period = day != nullptr ? pyranex::history::ParsePeriod(day) : std::nullopt;
  if (!period) {
    std::fprintf(stderr, "quorvane-shot: --history needs --history-day YYYY-MM-DD\n");
    return false;
  }
  pyranex::ui::CHistoryView& history = *frame.History();
  frame.Tabs().SelectView(2);
  const pyranex::history::CivilDate date = pyranex::history::DateOf(period->first);
  const std::string base = prefix;
  history.ShowDay(period->first);
  bool ok = SavePicture(frame, (base + "-day.png").c_str());
  history.ShowMonth(pyranex::history::MonthIndex(date.year, date.month));
  ok = SavePicture(frame, (base + "-month.png").c_str()) && ok;
  history.ShowYear(date.year);
  ok = SavePicture(frame, (base + "-year.png").c_str()) && ok;
  history.ShowLifetime();
  ok = SavePicture(frame, (base + "-lifetime.png").c_str()) && ok;
  return ok;
}
#else
bool SaveHistoryPictures(pyranex::ui::CMainFrame&, const char* prefix, const char*) {
  if (prefix != nullptr) std::fprintf(stderr, "quorvane-shot: built without the History tab\n");
  return prefix == nullptr;
}
#endif

#if QUORVANE_SHOT_MQTT
// "Setting > MQTT...": Test is pressed with what the dialog holds, the dialog pictured once the
// answer is there, then cancelled.
bool SaveMqttPicture(pyranex::ui::CMainFrame& frame, const char* file, int timeoutS) {
  if (file == nullptr) return true;
  QAction* action = nullptr;
  for (QMenu* menu : frame.menuBar()->findChildren<QMenu*>()) {
    for (QAction* item : menu->actions()) {
      if (item->objectName() == QLatin1String("mqtt")) action = item;
    }
  }
  if (action == nullptr) {
    std::fprintf(stderr, "quorvane-shot: no Setting > MQTT... command\n");
    return false;
  }
  bool saved = false;
  bool done = false;
  QTimer driver;
  QObject::connect(&driver, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<pyranex::ui::CMqttDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr || done) return;
    if (dialog->TestResult().isEmpty()) {
      if (dialog->UrlEdit().text().isEmpty()) dialog->UrlEdit().setText("mqtt://127.0.0.1:9");
      dialog->TestButton().click();
    } else if (!dialog->Testing()) {
      saved = SavePicture(*dialog, file);
      done = true;
      dialog->reject();
    }
  });
  driver.start(50);
  QTimer::singleShot(0, action, &QAction::trigger);
  const QDeadlineTimer deadline(static_cast<qint64>(timeoutS) * 1000);
  while (!done && !deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  return saved;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  unsigned com = 1;
  size_t samples = 10;
  int timeoutS = 120;
  const char* exeDir = nullptr;
  const char* dataDir = nullptr;
  const char* powerPng = nullptr;
  const char* systemPng = nullptr;
  const char* textPng = nullptr;
  const char* monitorPng = nullptr;
  const char* lockedPng = nullptr;
  const char* historyPrefix = nullptr;
  const char* historyDay = nullptr;
  const char* mqttPng = nullptr;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--com") {
      com = static_cast<unsigned>(std::atoi(value));
    } else if (name == "--samples") {
      samples = static_cast<size_t>(std::atol(value));
    } else if (name == "--timeout") {
      timeoutS = std::atoi(value);
    } else if (name == "--exe-dir") {
      exeDir = value;
    } else if (name == "--data") {
      dataDir = value;
    } else if (name == "--power") {
      powerPng = value;
    } else if (name == "--system") {
      systemPng = value;
    } else if (name == "--text") {
      textPng = value;
    } else if (name == "--monitor") {
      monitorPng = value;
    } else if (name == "--monitor-locked") {
      lockedPng = value;
    } else if (name == "--history") {
      historyPrefix = value;
    } else if (name == "--history-day") {
      historyDay = value;
    } else if (name == "--mqtt") {
      mqttPng = value;
    } else {
      std::fprintf(stderr, "quorvane-shot: unknown option %s\n", name.c_str());
      return 2;
    }
  }
  QApplication app(argc, argv);
  if (dataDir != nullptr && !QDir::setCurrent(QString::fromLocal8Bit(dataDir))) {
    std::fprintf(stderr, "quorvane-shot: cannot enter %s\n", dataDir);
    return 1;
  }
  pyranex::Paths paths = pyranex::Paths::ForProcess();
  if (exeDir != nullptr) paths.executableDir = std::filesystem::absolute(exeDir);

  PrintingNotifier notifier;
  pyranex::ui::CPyranexApp theApp({paths, &notifier, {}});
  if (!theApp.InitInstance()) return 1;
  pyranex::ui::CMainFrame& frame = theApp.Frame();
  pyranex::ui::CPowerCurveView& view = frame.PowerView();
  if (com == 0) {
    const bool ok = SaveHistoryPictures(frame, historyPrefix, historyDay);
    frame.close();
    return ok ? 0 : 1;
  }
  if (!view.Connect(com)) {
    std::fprintf(stderr, "quorvane-shot: COM%u could not be opened\n", com);
    return 1;
  }
  const QDeadlineTimer deadline(static_cast<qint64>(timeoutS) * 1000);
  while (view.Pane().m_values.size() < samples && !deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  const size_t got = view.Pane().m_values.size();
  std::printf("quorvane-shot: %zu samples\n", got);
  bool ok = got >= samples;
  frame.Tabs().SelectView(0);
  ok = SavePicture(frame, powerPng) && ok;
  frame.Tabs().SelectView(1);
  ok = SavePicture(frame, systemPng) && ok;
  if (textPng != nullptr) {
    frame.SysView().ShowText();
    ok = SavePicture(frame, textPng) && ok;
    frame.SysView().ShowPicture();
  }
  frame.Tabs().SelectView(0);
  ok = SaveMonitorPicture(view, pyranex::kParameterPassword.data(), monitorPng, timeoutS) && ok;
  ok = SaveMonitorPicture(view, "monitor", lockedPng, timeoutS) && ok;
#if QUORVANE_SHOT_MQTT
  ok = SaveMqttPicture(frame, mqttPng, timeoutS) && ok;
#else
  if (mqttPng != nullptr) std::fprintf(stderr, "quorvane-shot: built without MQTT\n");
#endif
  view.Disconnect();
  frame.close();
  return ok ? 0 : 1;
}
