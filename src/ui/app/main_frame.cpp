#include "ui/app/main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "ui/app/tab_holder.h"
#include "ui/common/command_state.h"
#include "ui/dialogs/about_dlg.h"
#include "ui/dialogs/help_window.h"
#if PYRANEX_UI_HISTORY
#include "ui/history/history_view.h"
#endif
#include "ui/views/power_curve_view.h"
#include "ui/views/sys_note_view.h"

namespace pyranex::ui {
namespace {

constexpr int kButtonWidth = 85;
constexpr int kButtonHeight = 60;
constexpr const char* kExitQuestion = "Do you confirm to exit the monitor?";

// Six 85 x 60 images from a strip in the order Com, Par, Save data, XScope, Postion, Tracking.
QList<QPixmap> SplitStrip(const QString& resource) {
  const QPixmap strip(resource);
  QList<QPixmap> images;
  for (int i = 0; i < 6; ++i) {
    images.append(strip.isNull() ? QPixmap()
                                 : strip.copy(i * kButtonWidth, 0, kButtonWidth, kButtonHeight));
  }
  return images;
}

// Whether a lock key's keyboard light is on, as the kernel reports it; false when unknown.
bool LockLightOn(const char* name) {
  const QDir leds(QStringLiteral("/sys/class/leds"));
  const QStringList entries =
      leds.entryList({QStringLiteral("*::%1").arg(QLatin1String(name))}, QDir::AllEntries);
  for (const QString& entry : entries) {
    QFile file(leds.filePath(entry + QStringLiteral("/brightness")));
    if (file.open(QIODevice::ReadOnly) && file.readAll().trimmed() != "0") return true;
  }
  return false;
}

}  // namespace

CMainFrame::CMainFrame(Notifier& notifier, Paths paths, CPowerCurveView* powerView,
                       CSysNoteView* sysView, CHistoryView* historyView)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      notifier_(notifier),
      paths_(std::move(paths)),
      powerView_(powerView),
      sysView_(sysView),
      historyView_(historyView) {
  setWindowTitle(QStringLiteral("Quorvane"));
  setWindowIcon(QIcon(QStringLiteral(":/ui/quorvane.png")));
  setFixedSize(1000, 700);
  CreateMenu();
  CreateToolBar();
  CreateStatusBar();

  tabs_ = new CTabHolder(this);
  tabs_->AddView(QStringLiteral("Power view"), 0, powerView_);
  tabs_->AddView(QStringLiteral("System view"), 1, sysView_);
#if PYRANEX_UI_HISTORY
  if (historyView_ != nullptr) {
    tabs_->AddView(QStringLiteral("History"), 2, historyView_);
    connect(historyView_, &CHistoryView::commandStateChanged, this, &CMainFrame::UpdateCommandUi);
    connect(tabs_, &QTabWidget::currentChanged, this, &CMainFrame::UpdateCommandUi);
  }
#endif
  tabs_->SelectView(0);
  setCentralWidget(tabs_);

  connect(powerView_, &CPowerCurveView::commandStateChanged, this, &CMainFrame::UpdateCommandUi);
  UpdateCommandUi();
}

CMainFrame::~CMainFrame() {
  // The link's threads may still need the interface while they stop: stop them while all
  // windows stand.
  powerView_->Shutdown();
}

QAction* CMainFrame::AddCommand(int id, const QString& text, const QString& statusTip) {
  auto* action = new QAction(text, this);
  action->setObjectName(QString::number(id));
  action->setStatusTip(statusTip);
  actions_.insert(id, action);
  return action;
}

void CMainFrame::CreateMenu() {
  CPowerCurveView* view = powerView_;
  QMenuBar* bar = menuBar();

  QMenu* file = bar->addMenu(QStringLiteral("File(&F)"));
#if PYRANEX_UI_HISTORY
  if (historyView_ != nullptr) {
    QAction* import = AddCommand(ID_HISTORY_IMPORT, QStringLiteral("Import history workbooks..."),
                                 QStringLiteral("Read saved day workbooks into the History tab"));
    connect(import, &QAction::triggered, this, [this] {
      tabs_->setCurrentWidget(historyView_);
      historyView_->OnImport();
    });
    file->addAction(import);
    file->addSeparator();
  }
#endif
  QAction* exit = AddCommand(ID_APP_EXIT, QStringLiteral("Exit(&X)"),
                             QStringLiteral("Quit the application; prompts to confirm"));
  connect(exit, &QAction::triggered, this, &QWidget::close);
  file->addAction(exit);

  QMenu* viewMenu = bar->addMenu(QStringLiteral("View(&V)"));
  QAction* toolbar = AddCommand(ID_VIEW_TOOLBAR, QStringLiteral("Toolbar(&T)"),
                                QStringLiteral("Show or hide the toolbar"));
  toolbar->setCheckable(true);
  toolbar->setChecked(true);
  viewMenu->addAction(toolbar);
  QAction* statusbar = AddCommand(ID_VIEW_STATUS_BAR, QStringLiteral("Statusbar(&S)"),
                                  QStringLiteral("Show or hide the status bar"));
  statusbar->setCheckable(true);
  statusbar->setChecked(true);
  connect(statusbar, &QAction::toggled, this, [this](bool on) { statusBar()->setVisible(on); });
  viewMenu->addAction(statusbar);

  QMenu* setting = bar->addMenu(QStringLiteral("Setting"));
  settingMenu_ = setting;
  QAction* com = AddCommand(ID_COM_SETTING, QStringLiteral("Com..."),
                            QStringLiteral("Choose the COM port of the inverter and connect"));
  com->setToolTip(QStringLiteral("Com"));
  connect(com, &QAction::triggered, view, &CPowerCurveView::OnComSetting);
  setting->addAction(com);
  QAction* par = AddCommand(ID_PAR_SETTING, QStringLiteral("Par..."),
                            QStringLiteral("Set and monitor the inverter's parameters"));
  par->setToolTip(QStringLiteral("Par"));
  connect(par, &QAction::triggered, view, &CPowerCurveView::OnParSetting);
  setting->addAction(par);

  QMenu* function = bar->addMenu(QStringLiteral("Function"));
  QAction* save = AddCommand(ID_SAVE_DATA, QStringLiteral("Save data"),
                             QStringLiteral("Export a time range of today's data to a workbook"));
  save->setToolTip(QStringLiteral("Save data"));
  connect(save, &QAction::triggered, view, &CPowerCurveView::OnSaveData);
  function->addAction(save);
  QAction* position = AddCommand(ID_POSITION, QStringLiteral("Postion"),
                                 QStringLiteral("Show or hide the cursor read-out on the curve"));
  position->setToolTip(QStringLiteral("Postion"));
  // The curve on the History tab has the cursor and the time span of the live one.
#if PYRANEX_UI_HISTORY
  connect(position, &QAction::triggered, this,
          [this, view] { HistoryShown() ? historyView_->OnPosition() : view->OnPosition(); });
#else
  connect(position, &QAction::triggered, view, &CPowerCurveView::OnPosition);
#endif
  function->addAction(position);
  QAction* tracking = AddCommand(ID_TRACKING, QStringLiteral("Tracking"),
                                 QStringLiteral("Extend the time axis as the curve grows"));
  tracking->setToolTip(QStringLiteral("Tracking"));
  connect(tracking, &QAction::triggered, view, &CPowerCurveView::OnTracking);
  function->addAction(tracking);
  QAction* xscope = AddCommand(ID_XSCOPE, QStringLiteral("XScope"),
                               QStringLiteral("Choose the time span the curve shows"));
  xscope->setToolTip(QStringLiteral("XScope"));
#if PYRANEX_UI_HISTORY
  connect(xscope, &QAction::triggered, this,
          [this, view] { HistoryShown() ? historyView_->OnXScope() : view->OnXScope(); });
#else
  connect(xscope, &QAction::triggered, view, &CPowerCurveView::OnXScope);
#endif
  function->addAction(xscope);
  function->addAction(AddCommand(ID_LOGO, QStringLiteral("logo"), QString()));

  QMenu* help = bar->addMenu(QStringLiteral("Help(&H)"));
  QAction* about = AddCommand(ID_APP_ABOUT, QStringLiteral("About Quorvane(&A)..."),
                              QStringLiteral("Display program information and version"));
  connect(about, &QAction::triggered, this, [this] {
    CAboutDlg dialog(this);
    dialog.exec();
  });
  help->addAction(about);
  QAction* contents = AddCommand(ID_HELP_CONTENTS, QStringLiteral("Contents..."),
                                 QStringLiteral("Open the user manual"));
  // A missing help file opens nothing and says nothing.
  connect(contents, &QAction::triggered, this, [this] { ShowHelp(paths_, this); });
  help->addAction(contents);

  // Menus are brought up to date as they open, as the tool bar is on every state change.
  for (QMenu* menu : {setting, function}) {
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUi);
  }
}

void CMainFrame::CreateToolBar() {
  toolBar_ = new QToolBar(QStringLiteral("Toolbar"), this);
  toolBar_->setObjectName(QStringLiteral("59392"));
  toolBar_->setIconSize(QSize(kButtonWidth, kButtonHeight));
  toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolBar_->setMovable(true);
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  const QList<QPixmap> normal = SplitStrip(QStringLiteral(":/ui/toolbar_normal.png"));
  const QList<QPixmap> hot = SplitStrip(QStringLiteral(":/ui/toolbar_hot.png"));
  const int order[] = {ID_COM_SETTING, ID_PAR_SETTING, ID_SAVE_DATA,
                       ID_XSCOPE,      ID_POSITION,    ID_TRACKING};
  for (int i = 0; i < 6; ++i) {
    QAction* action = actions_.value(order[i]);
    QIcon icon;
    icon.addPixmap(normal[i], QIcon::Normal);
    icon.addPixmap(hot[i], QIcon::Active);
    action->setIcon(icon);
    toolBar_->addAction(action);
  }
  addToolBar(Qt::TopToolBarArea, toolBar_);
  QAction* toggle = actions_.value(ID_VIEW_TOOLBAR);
  connect(toggle, &QAction::toggled, toolBar_, &QToolBar::setVisible);
  connect(toolBar_, &QToolBar::visibilityChanged, toggle, &QAction::setChecked);
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  const auto addPane = [&](QLabel* pane) {
    bar->addWidget(pane, 1);
    ++statusPanes_;
  };
  idleText_ = new QLabel(bar);
  addPane(idleText_);
  historyStatus_ = new QLabel(bar);
  historyStatus_->hide();
  addPane(historyStatus_);
  const char* names[] = {"CAP", "NUM", "SCRL"};
  for (int i = 0; i < 3; ++i) {
    locks_[i] = new QLabel(bar);
    locks_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    locks_[i]->setAlignment(Qt::AlignCenter);
    locks_[i]->setMinimumWidth(locks_[i]->fontMetrics().horizontalAdvance(names[i]) + 12);
    locks_[i]->setProperty("lockName", QLatin1String(names[i]));
    bar->addPermanentWidget(locks_[i]);
  }
  SetIdleText(QStringLiteral("Ready"));
  UpdateLockIndicators();
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &CMainFrame::UpdateLockIndicators);
  timer->start(500);
  auto* linkTimer = new QTimer(this);
  connect(linkTimer, &QTimer::timeout, this, &CMainFrame::UpdateLinkStatus);
  linkTimer->start(1000);
}

bool CMainFrame::HistoryShown() const {
#if PYRANEX_UI_HISTORY
  return historyView_ != nullptr && tabs_ != nullptr && tabs_->currentWidget() == historyView_;
#else
  return false;
#endif
}

void CMainFrame::SetHistoryStatus(const QString& text) {
  historyStatus_->setText(text);
  historyStatus_->setVisible(!text.isEmpty());
}

QString CMainFrame::HistoryStatus() const {
  return historyStatus_->text();
}

void CMainFrame::ShowHistoryProblem(const QString& text) {
  SetHistoryStatus(text);
  notifier_.Show(text.toStdString(), "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
}

void CMainFrame::UpdateLinkStatus() {
  SetIdleText(powerView_->LinkStatusText());
}

void CMainFrame::UpdateLockIndicators() {
  const char* lights[] = {"capslock", "numlock", "scrolllock"};
  for (int i = 0; i < 3; ++i) {
    const QString text =
        LockLightOn(lights[i]) ? locks_[i]->property("lockName").toString() : QString();
    if (locks_[i]->text() != text) locks_[i]->setText(text);
  }
}

void CMainFrame::SetIdleText(const QString& text) {
  idleText_->setText(text);
}

QString CMainFrame::IdleText() const {
  return idleText_->text();
}

void CMainFrame::AddSettingCommand(QAction* action) {
  settingMenu_->addAction(action);
}

void CMainFrame::AddStatusPane(QWidget* pane) {
  // After the normal panes and those added before, ahead of the lock indicators: the index
  // counts every pane of the bar.
  statusBar()->insertPermanentWidget(statusPanes_++, pane);
}

void CMainFrame::UpdateCommandUi() {
  CommandState state = powerView_->State();
#if PYRANEX_UI_HISTORY
  if (HistoryShown()) state.cursorShown = historyView_->CursorShown();
#endif
  ApplyCommandState(state, actions_);
#if PYRANEX_UI_HISTORY
  if (QAction* import = actions_.value(ID_HISTORY_IMPORT, nullptr)) {
    import->setEnabled(!historyView_->ImportRunning());
  }
#endif
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (powerView_->PortOpen() && notifier_.Show(kExitQuestion, "Quorvane", NoticeIcon::Question,
                                               NoticeButtons::OkCancel) != NoticeAnswer::Ok) {
    event->ignore();
    return;
  }
  // The link closes while the window can still show what its threads report.
  powerView_->Shutdown();
  event->accept();
}

}  // namespace pyranex::ui
