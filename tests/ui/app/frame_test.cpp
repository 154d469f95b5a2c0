#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QToolBar>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include "modal_driver.h"
#include "support/eventually.h"
#include "support/fake_serial_device.h"
#include "support/recording_notifier.h"
#include "ui/app/main_frame.h"
#include "ui/app/pyranex_app.h"
#include "ui/app/tab_holder.h"
#include "ui/dialogs/axis_set_dlg.h"
#if PYRANEX_UI_HISTORY
#include "ui/history/history_view.h"
#endif
#include "ui/platform/qt_notifier.h"
#include "ui/views/power_curve_view.h"
#include "ui/views/sys_note_view.h"
#include "ui/widgets/flow_pane.h"

namespace pyranex::ui {
namespace {

std::filesystem::path EmptyFolder() {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quorvane-frame-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

TEST(MainFrame, MenuTextsAndToolBarOrder) {
  const auto dir = EmptyFolder();
  test::RecordingNotifier notifier;
  test::FakeSerialLine line;
  CPyranexApp app({{dir, dir}, &notifier, line.Factory()});
  ASSERT_TRUE(app.InitInstance());
  CMainFrame& frame = app.Frame();
  EXPECT_EQ(frame.windowTitle(), "Quorvane");
  EXPECT_EQ(frame.size(), QSize(1000, 700));
  EXPECT_EQ(frame.minimumSize(), frame.maximumSize());
  EXPECT_FALSE(frame.windowFlags() & Qt::WindowMaximizeButtonHint);

  QStringList menus;
  for (QAction* menu : frame.menuBar()->actions()) menus << menu->text();
  EXPECT_EQ(menus, QStringList({"File(&F)", "View(&V)", "Setting", "Function", "Help(&H)"}));
  const std::vector<std::pair<int, const char*>> items = {{ID_APP_EXIT, "Exit(&X)"},
                                                          {ID_VIEW_TOOLBAR, "Toolbar(&T)"},
                                                          {ID_VIEW_STATUS_BAR, "Statusbar(&S)"},
                                                          {ID_COM_SETTING, "Com..."},
                                                          {ID_PAR_SETTING, "Par..."},
                                                          {ID_SAVE_DATA, "Save data"},
                                                          {ID_POSITION, "Postion"},
                                                          {ID_TRACKING, "Tracking"},
                                                          {ID_XSCOPE, "XScope"},
                                                          {ID_LOGO, "logo"},
                                                          {ID_APP_ABOUT, "About Quorvane(&A)..."},
                                                          {ID_HELP_CONTENTS, "Contents..."}};
  for (const auto& [id, text] : items) {
    ASSERT_NE(frame.Action(id), nullptr) << id;
    EXPECT_EQ(frame.Action(id)->text(), text);
  }
  QList<QAction*> buttons = frame.ToolBar()->actions();
  const QList<QAction*> order = {frame.Action(ID_COM_SETTING), frame.Action(ID_PAR_SETTING),
                                 frame.Action(ID_SAVE_DATA),   frame.Action(ID_XSCOPE),
                                 frame.Action(ID_POSITION),    frame.Action(ID_TRACKING)};
  EXPECT_EQ(buttons, order);
  EXPECT_EQ(frame.ToolBar()->iconSize(), QSize(85, 60));
  EXPECT_EQ(frame.IdleText(), "Ready");
  auto* pane = new QLabel("broker", frame.statusBar());
  frame.AddStatusPane(pane);
  QLabel* caps = nullptr;
  for (auto* label : frame.statusBar()->findChildren<QLabel*>()) {
    if (label->property("lockName").toString() == "CAP") caps = label;
  }
  ASSERT_NE(caps, nullptr);
  frame.statusBar()->layout()->activate();
  EXPECT_LT(pane->x(), caps->x());  // beside the link's text, not after the lock indicators

  EXPECT_EQ(frame.Tabs().tabText(0), "Power view");
  EXPECT_EQ(frame.Tabs().tabText(1), "System view");
  EXPECT_EQ(frame.Tabs().currentIndex(), 0);

  // Greyed until a port is open; "logo" always.
  EXPECT_FALSE(frame.Action(ID_PAR_SETTING)->isEnabled());
  EXPECT_FALSE(frame.Action(ID_SAVE_DATA)->isEnabled());
  EXPECT_FALSE(frame.Action(ID_LOGO)->isEnabled());
  ASSERT_TRUE(frame.PowerView().Connect(1));
  EXPECT_TRUE(frame.Action(ID_PAR_SETTING)->isEnabled());
  EXPECT_TRUE(frame.Action(ID_SAVE_DATA)->isEnabled());
  EXPECT_FALSE(frame.Action(ID_LOGO)->isEnabled());
  frame.PowerView().Disconnect();

  // The system text is missing here: said once, once the window is shown, and the program runs
  // on.
  const auto missing = [&] {
    size_t count = 0;
    for (const auto& notice : notifier.Notices()) {
      count += notice.text.find("myfile.rtf") != std::string::npos ? 1 : 0;
    }
    return count;
  };
  EXPECT_TRUE(test::Until([&] { return missing() > 0; }, 10));
  QTest::qWait(50);
  EXPECT_EQ(missing(), 1u);
}

#if PYRANEX_UI_HISTORY
TEST(MainFrame, HistoryTabTakesTheCursorCommandsAndReportsTheStore) {
  const auto dir = EmptyFolder();
  test::RecordingNotifier notifier;
  CPyranexApp app({{dir, dir}, &notifier, {}});
  ASSERT_TRUE(app.InitInstance());
  CMainFrame& frame = app.Frame();
  ASSERT_EQ(frame.Tabs().count(), 3);
  EXPECT_EQ(frame.Tabs().tabText(2), "History");
  ASSERT_NE(frame.History(), nullptr);
  EXPECT_EQ(frame.History()->objectName(), "0xE902");
  EXPECT_EQ(frame.Action(ID_HISTORY_IMPORT)->text(), "Import history workbooks...");

  frame.Tabs().SelectView(2);
  frame.Action(ID_POSITION)->trigger();
  EXPECT_TRUE(frame.History()->CursorShown());
  EXPECT_FALSE(frame.PowerView().Pane().m_cursorVisible);
  EXPECT_TRUE(frame.Action(ID_POSITION)->isChecked());
  frame.Tabs().SelectView(0);
  EXPECT_FALSE(frame.Action(ID_POSITION)->isChecked());

  const size_t before = notifier.Count();
  frame.ShowHistoryProblem("History store: cannot write to it (disk full).");
  EXPECT_EQ(frame.HistoryStatus(), "History store: cannot write to it (disk full).");
  ASSERT_EQ(notifier.Count(), before + 1);
  EXPECT_EQ(notifier.Notices().back().text, "History store: cannot write to it (disk full).");
}
#endif

TEST(MainFrame, ExitQuestionOnlyWhileAPortIsOpen) {
  struct Case {
    const char* name;
    bool connect;
    NoticeAnswer answer;
    bool asked;
    bool closes;
  };
  const std::vector<Case> cases = {
      {"no port", false, NoticeAnswer::Cancel, false, true},
      {"port open, Cancel", true, NoticeAnswer::Cancel, true, false},
      {"port open, OK", true, NoticeAnswer::Ok, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dir = EmptyFolder();
    test::RecordingNotifier notifier;
    test::FakeSerialLine line;
    CPyranexApp app({{dir, dir}, &notifier, line.Factory()});
    ASSERT_TRUE(app.InitInstance());
    CMainFrame& frame = app.Frame();
    frame.SysView().OnInitialUpdate();  // its notice of the missing text is not counted below
    if (c.connect) {
      ASSERT_TRUE(frame.PowerView().Connect(1));
    }
    const size_t before = notifier.Count();
    notifier.SetAnswer(c.answer);
    EXPECT_EQ(frame.close(), c.closes);
    const auto notices = notifier.Notices();
    const bool asked = notices.size() > before &&
                       notices.back().text == "Do you confirm to exit the monitor?" &&
                       notices.back().buttons == NoticeButtons::OkCancel;
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(frame.isVisible(), !c.closes);
    // Cancel leaves the link polling; closing closes it.
    EXPECT_EQ(frame.PowerView().PortOpen(), c.connect && !c.closes);
  }
}

TEST(PowerView, TimeSpanSetsTheChartWindow) {
  struct Case {
    const char* name;
    const char* from[2];
    const char* to[2];
    double xStart, xEnd;  // the window afterwards
    QStringList before;   // what the dialog shows when it opens
  };
  // The day log began at 08:05:40; its samples span five hours (tracking shows them all). The
  // pane starts a window before its first sample at 0.
  const std::vector<Case> cases = {
      {"From 08:00 To 12:30", {"8", "0"}, {"12", "30"}, 0.0, 265.0, {"8", "5", "13", "5"}},
      {"From 09:00 To 12:30", {"9", "0"}, {"12", "30"}, 55.0, 265.0, {"8", "5", "12", "30"}},
      {"From 10:00 To 10:00 changes nothing",
       {"10", "0"},
       {"10", "0"},
       55.0,
       265.0,
       {"9", "0", "12", "30"}},
  };
  const auto dir = EmptyFolder();
  test::RecordingNotifier notifier;
  CPyranexApp app({{dir, dir}, &notifier, {}});
  ASSERT_TRUE(app.InitInstance());
  app.Frame().SysView().OnInitialUpdate();  // its notice of the missing text is not counted below
  CPowerCurveView& view = app.Frame().PowerView();
  CFlowPane& pane = view.Pane();
  std::tm start = app.GetClock().ToLocal(app.GetClock().Now());
  start.tm_hour = 8;
  start.tm_min = 5;
  start.tm_sec = 40;
  start.tm_isdst = -1;
  pane.m_startTime = app.GetClock().FromLocal(start);
  pane.AddPoint(1000, 500.0);
  pane.AddPoint(1000 + 300 * 60000, 500.0);
  const size_t boxes = notifier.Count();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QStringList shown;
    test::ModalDriver driver([&](QWidget& modal) {
      auto* dialog = qobject_cast<CAxisSetDlg*>(&modal);
      if (dialog == nullptr) return;
      shown = {dialog->FromHourEdit().text(), dialog->FromMinEdit().text(),
               dialog->ToHourEdit().text(), dialog->ToMinEdit().text()};
      dialog->FromHourEdit().setText(c.from[0]);
      dialog->FromMinEdit().setText(c.from[1]);
      dialog->ToHourEdit().setText(c.to[0]);
      dialog->ToMinEdit().setText(c.to[1]);
      dialog->accept();
    });
    app.Frame().Action(ID_XSCOPE)->trigger();
    EXPECT_EQ(shown, c.before);
    EXPECT_DOUBLE_EQ(pane.m_xStart, c.xStart);
    EXPECT_DOUBLE_EQ(pane.m_xEnd, c.xEnd);
  }
  // Reopened, the dialog shows the range just set.
  QStringList shown;
  test::ModalDriver driver([&](QWidget& modal) {
    if (auto* dialog = qobject_cast<CAxisSetDlg*>(&modal)) {
      shown = {dialog->FromHourEdit().text(), dialog->FromMinEdit().text(),
               dialog->ToHourEdit().text(), dialog->ToMinEdit().text()};
      dialog->reject();
    }
  });
  app.Frame().Action(ID_XSCOPE)->trigger();
  EXPECT_EQ(shown, cases.back().before);
  EXPECT_EQ(notifier.Count(), boxes);  // an empty range is refused without a word
}

// Boxes from the interface thread are answered at once; from other threads the first `skip`
// are answered at once and the rest shown for real (the caller waits for the answer).
class ThreadBoxes final : public Notifier {
 public:
  explicit ThreadBoxes(int skip) : skip_(skip) {}
  using Notifier::Show;
  NoticeAnswer Show(const std::string& text, const std::string& caption, NoticeIcon icon,
                    NoticeButtons buttons) override {
    if (QThread::currentThread() == qApp->thread()) return NoticeAnswer::Ok;
    if (skip_.fetch_sub(1) > 0) return NoticeAnswer::Ok;
    waiting_ = true;
    const NoticeAnswer answer = screen_.Show(text, caption, icon, buttons);
    waiting_ = false;
    return answer;
  }
  std::atomic<bool> waiting_{false};

 private:
  std::atomic<int> skip_;
  QtNotifier screen_;
};

// A port worker or the poll thread waits for a box that only the interface thread can show,
// while the interface thread closes the link: both must get through.
TEST(MainFrame, ClosingTheLinkWhileAThreadWaitsForABox) {
  struct Case {
    const char* name;
    int skip;
    bool configureFails;
    const char* operation;
  };
  const std::vector<Case> cases = {
      {"port worker reports the lost device", 0, false, "ReadFile()"},
      {"poll thread reports a failed reopen", 1, true, "SetCommState()"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dir = EmptyFolder();
    ThreadBoxes notifier(c.skip);
    test::FakeSerialLine line;
    CPyranexApp app({{dir, dir}, &notifier, line.Factory()});
    ASSERT_TRUE(app.InitInstance());
    CPowerCurveView& view = app.Frame().PowerView();
    ASSERT_TRUE(view.Connect(1));
    if (c.configureFails) line.SetConfigureFailure("SetCommState()", EIO);
    line.HangUp();
    // Not processing events here: the box waits in the queue, its thread blocked.
    ASSERT_TRUE(
        test::Eventually([&] { return notifier.waiting_.load(); }, std::chrono::seconds(30)));

    std::vector<std::string> texts;
    auto driver = test::ModalDriver::AnsweringBoxes(texts, QMessageBox::Ok);
    std::mutex lock;
    std::condition_variable done;
    bool returned = false;
    std::thread watchdog([&] {
      std::unique_lock guard(lock);
      if (!done.wait_for(guard, std::chrono::seconds(120), [&] { return returned; })) {
        std::fprintf(stderr, "the interface thread and a link thread wait for each other\n");
        std::abort();
      }
    });
    view.Disconnect();
    {
      std::lock_guard guard(lock);
      returned = true;
    }
    done.notify_all();
    watchdog.join();
    EXPECT_FALSE(view.PortOpen());
    ASSERT_FALSE(texts.empty());
    EXPECT_NE(texts.front().find(c.operation), std::string::npos) << texts.front();
  }
}

}  // namespace
}  // namespace pyranex::ui
