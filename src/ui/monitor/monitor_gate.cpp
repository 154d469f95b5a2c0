#include "ui/monitor/monitor_gate.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <optional>

#include "core/monitor/monitor_engine.h"
#include "core/monitor/password.h"
#include "ui/monitor/monitor_dlg.h"
#include "ui/monitor/pass_word_dlg.h"

namespace pyranex::ui {

// What the engine shows goes to the window while there is one. Touched on the interface thread
// only; the session may end on the poll thread, which never calls it.
class DisplayRelay final : public MonitorDisplay {
 public:
  CMonitorDlg* target = nullptr;

  void ShowText(int id, const std::string& text) override {
    if (target) target->ShowText(id, text);
  }
  void ShowCheck(int id, bool checked) override {
    if (target) target->ShowCheck(id, checked);
  }
  void EnableControl(int id, bool enabled) override {
    if (target) target->EnableControl(id, enabled);
  }
  void ShowFaultLines(const std::vector<std::string>& lines) override {
    if (target) target->ShowFaultLines(lines);
  }
  void ShowState(const std::string& text, int lampIcon) override {
    if (target) target->ShowState(text, lampIcon);
  }
  void SelectStandard(int index) override {
    if (target) target->SelectStandard(index);
  }
  void SelectSite(int index) override {
    if (target) target->SelectSite(index);
  }
  void FocusControl(int id) override {
    if (target) target->FocusControl(id);
  }
  void ShowStatus(const std::string& text) override {
    if (target) target->ShowStatus(text);
  }
  void MarkControl(int id, const std::string& reason) override {
    if (target) target->MarkControl(id, reason);
  }
};

struct CMonitorGate::Session {
  DisplayRelay relay;
  std::optional<MonitorEngine> engine;
};

CMonitorGate::CMonitorGate(Notifier& notifier, const CConfigWorkbook* workbook, QWidget* parent)
    : m_notifier(notifier), m_workbook(workbook), m_parent(parent) {}

CMonitorGate::~CMonitorGate() = default;

std::optional<bool> CMonitorGate::AskPassword() {
  CPassWordDlg dialog(m_notifier, m_parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return IsParameterPassword(dialog.m_password);
}

std::shared_ptr<MonitorDialog> CMonitorGate::CreateMonitor(bool fullAccess, CInverterCom& link) {
  auto session = std::make_shared<Session>();
  const std::weak_ptr<Session> weak = session;
  Notifier* notifier = &m_notifier;
  MonitorServices services{link, m_notifier, m_workbook, &session->relay, fullAccess, {}};
  // Called on the poll thread after polling has stopped: hand the text over and return at once,
  // so neither that thread's stop nor the window's close waits for anyone to read it.
  services.onTimeout = [weak, notifier](const std::string& text) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) return;
    QMetaObject::invokeMethod(
        app,
        [weak, notifier, text] {
          const std::shared_ptr<Session> alive = weak.lock();
          if (!alive || alive->relay.target == nullptr) return;
          // The status line says which command or block the time-out cut short.
          alive->relay.ShowStatus(alive->engine->Status());
          notifier->Show(text);
        },
        Qt::QueuedConnection);
  };
  session->engine.emplace(std::move(services));
  m_pending = session;
  return std::shared_ptr<MonitorDialog>(session, &*session->engine);
}

void CMonitorGate::RunModal(MonitorDialog& dialog) {
  const std::shared_ptr<Session> session = std::move(m_pending);
  if (!session || &*session->engine != &dialog) return;
  CMonitorDlg window(*session->engine, m_parent);
  session->relay.target = &window;
  m_open = &window;
  window.exec();
  m_open = nullptr;
  session->relay.target = nullptr;
}

}  // namespace pyranex::ui
