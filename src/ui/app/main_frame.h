#pragma once

#include <QHash>
#include <QMainWindow>

#include "core/platform/notifier.h"
#include "core/platform/paths.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace pyranex::ui {

class CHistoryView;
class CPowerCurveView;
class CSysNoteView;
class CTabHolder;

// "Quorvane": menu, tool bar, status bar and the two tabs. Routes commands to the views.
class CMainFrame final : public QMainWindow {
  Q_OBJECT
 public:
  CMainFrame(Notifier& notifier, Paths paths, CPowerCurveView* powerView, CSysNoteView* sysView,
             CHistoryView* historyView = nullptr);
  ~CMainFrame() override;

  QAction* Action(int id) const { return actions_.value(id, nullptr); }
  const QHash<int, QAction*>& Actions() const { return actions_; }
  QToolBar* ToolBar() const { return toolBar_; }
  CTabHolder& Tabs() const { return *tabs_; }
  CPowerCurveView& PowerView() const { return *powerView_; }
  CSysNoteView& SysView() const { return *sysView_; }
  CHistoryView* History() const { return historyView_; }

  // The history store's state beside the link's in the status bar (hidden when empty).
  void SetHistoryStatus(const QString& text);
  QString HistoryStatus() const;
  // A problem of the history store: in the status bar and once in a box.
  void ShowHistoryProblem(const QString& text);

  // The message pane's text when no fly-by text is shown ("Ready"). The one place it is set.
  void SetIdleText(const QString& text);
  QString IdleText() const;

  // Enabling and check marks from the views' state.
  void UpdateCommandUi();

  // Places for commands and panes that live beside the views (the MQTT settings and state).
  void AddSettingCommand(QAction* action);
  void AddStatusPane(QWidget* pane);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* AddCommand(int id, const QString& text, const QString& statusTip);
  void CreateMenu();
  void CreateToolBar();
  void CreateStatusBar();
  void UpdateLockIndicators();
  void UpdateLinkStatus();
  bool HistoryShown() const;

  Notifier& notifier_;
  Paths paths_;
  CTabHolder* tabs_ = nullptr;
  CPowerCurveView* powerView_;
  CSysNoteView* sysView_;
  CHistoryView* historyView_;
  QLabel* historyStatus_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QMenu* settingMenu_ = nullptr;
  QLabel* idleText_ = nullptr;
  QLabel* locks_[3] = {nullptr, nullptr, nullptr};
  int statusPanes_ = 0;  // normal and added panes, before the lock indicators
  QHash<int, QAction*> actions_;
};

}  // namespace pyranex::ui
