#pragma once

#include <QDialog>
#include <map>
#include <string>
#include <vector>

#include "core/monitor/monitor_display.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace pyranex {
class MonitorEngine;
}  // namespace pyranex

namespace pyranex::ui {

// "Parameter setting and monitor" (template 201): a thin window over the monitor engine. It shows
// what the engine reports (MonitorDisplay) and forwards typing, clicks, list choices and Enter to
// it; it sends nothing itself. Every control is named by its id (objectName "1070", ...).
//
// Enter anywhere in the window converts the serial number entry; Escape does nothing; "Cancel"
// and the window's close button end it. A status line under the commands says how the last one
// went; fields the engine marks get a tinted background and the reason as their tool tip.
class CMonitorDlg final : public QDialog, public MonitorDisplay {
  Q_OBJECT

 public:
  explicit CMonitorDlg(MonitorEngine& engine, QWidget* parent = nullptr);
  ~CMonitorDlg() override;

  MonitorEngine& Engine() { return m_engine; }
  // The control with this id, or null.
  QWidget* Control(int id) const;
  template <typename T>
  T* ControlAs(int id) const {
    return qobject_cast<T*>(Control(id));
  }

  // --- MonitorDisplay ------------------------------------------------------------------------
  void ShowText(int controlId, const std::string& text) override;
  void ShowCheck(int controlId, bool checked) override;
  void EnableControl(int controlId, bool enabled) override;
  void ShowFaultLines(const std::vector<std::string>& lines) override;
  void ShowState(const std::string& text, int lampIcon) override;
  void SelectStandard(int index) override;
  void SelectSite(int index) override;
  void FocusControl(int controlId) override;
  void ShowStatus(const std::string& text) override;
  void MarkControl(int controlId, const std::string& reason) override;

  // The status line (objectName "status").
  QLabel* StatusLine() const { return m_status; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Dialog initialisation: the engine shows the fields, enables the commands with full access,
  // sends the opening broadcast and shows the framing.
  void OnInitDialog();
  void CreateControls();
  // Shows everything the engine holds (the window may open after values have arrived).
  void ShowEngineState();

  QLineEdit* Display(int id);
  QLineEdit* Edit(int id);
  QCheckBox* Check(int id, const QString& text);
  QPushButton* Button(int id, const QString& text);
  void Register(int id, QWidget* widget);
  // label | display | edit (edit 0: none) in `grid` at (row, column).
  void AddRow(QGridLayout& grid, int row, int column, const QString& label, int display, int edit);

  MonitorEngine& m_engine;
  std::map<int, QWidget*> m_controls;
  QLabel* m_lamp = nullptr;
  QListWidget* m_faults = nullptr;
  QComboBox* m_standards = nullptr;
  QComboBox* m_sites = nullptr;
  QLabel* m_status = nullptr;
  bool m_initialised = false;
  int m_showing = 0;  // > 0 while the engine's values are written into the controls
};

}  // namespace pyranex::ui
