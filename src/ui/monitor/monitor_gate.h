#pragma once

#include <QPointer>
#include <memory>

#include "core/acquisition/monitor_hooks.h"
#include "core/platform/notifier.h"

class QWidget;

namespace pyranex {
class CConfigWorkbook;
}

namespace pyranex::ui {

class CMonitorDlg;

// The power view's "Par..." seam: the password dialog, then the monitor engine with its window,
// run modally. The engine may outlive its window (the poll thread can still be in a tick when
// the window closes); once the window is gone nothing is shown any more, and a time-out that
// comes too late is dropped.
class CMonitorGate final : public MonitorGate {
 public:
  // `workbook` may be null (no standards to load). `parent` owns the dialogs' windows.
  CMonitorGate(Notifier& notifier, const CConfigWorkbook* workbook, QWidget* parent);
  ~CMonitorGate() override;

  std::optional<bool> AskPassword() override;
  std::shared_ptr<MonitorDialog> CreateMonitor(bool fullAccess, CInverterCom& link) override;
  void RunModal(MonitorDialog& dialog) override;

  // The monitor window while it runs, else null.
  CMonitorDlg* OpenDialog() const { return m_open; }

  struct Session;

 private:
  Notifier& m_notifier;
  const CConfigWorkbook* m_workbook;
  QPointer<QWidget> m_parent;
  std::shared_ptr<Session> m_pending;  // created, not yet run
  CMonitorDlg* m_open = nullptr;
};

}  // namespace pyranex::ui
