#pragma once

#include <QImage>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>

#include "core/acquisition/power_view_engine.h"
#include "core/platform/paths.h"
#include "core/workbook/config_workbook.h"
#include "core/workbook/history_store.h"
#include "core/workbook/workbook_export.h"
#include "ui/common/command_state.h"
#include "ui/platform/qt_message_sink.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace pyranex::ui {

class CFlowPane;
class CMyPanel;
class CMyTextBox;
class CProgressDlg;

// The first tab: the day's power curve, the gauge and the power and energy boxes over the
// background picture. Owns the acquisition engine and shows what it reports.
class CPowerCurveView final : public QWidget, private PowerViewDisplay {
  Q_OBJECT
 public:
  struct Services {
    Clock& clock;
    Notifier& notifier;
    Paths paths;
    SerialDeviceFactory deviceFactory;  // empty: the platform's serial devices
    MonitorGate* monitorGate = nullptr;
    std::function<void(float)> setCo2Reduction;  // the system view's CO2 figure
    std::vector<RecordSink*> recordSinks{};      // every live record (history store, MQTT)
  };
  CPowerCurveView(Services services, QWidget* parent = nullptr);
  ~CPowerCurveView() override;

  // Commands of the Setting and Function menus.
  void OnComSetting();
  void OnParSetting();
  void OnSaveData();
  void OnPosition();
  void OnTracking();
  void OnXScope();

  // Connects to COM `portNumber` without the dialog; false when the port did not open.
  bool Connect(unsigned portNumber);
  // Ends polling and closes the port (keeps the interface alive while it waits).
  void Disconnect();
  // Disconnect, then wait for a running export: before the windows go away.
  void Shutdown();

  bool PortOpen() const { return engine_->m_portOpen.load(); }
  bool ExportRunning() const { return exportThread_.Running() || engine_->m_exportBusy; }
  CommandState State() const;
  // The status bar's text while no fly-by text shows: "Ready" before any connect, then the state
  // of the link at a glance.
  QString LinkStatusText() const;

  PowerViewEngine& Engine() { return *engine_; }
  CFlowPane& Pane() { return *pane_; }
  CMyPanel& Gauge() { return *gauge_; }
  CMyTextBox& EnergyBox() { return *energy_; }
  CMyTextBox& PowerBox() { return *power_; }

 Q_SIGNALS:
  // Enabling or check marks may have changed.
  void commandStateChanged();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  // PowerViewDisplay
  void SetStartTime(int64_t seconds) override;
  void SetYRange(double minimum, double maximum) override;
  void AddPoint(uint32_t tickMs, float value) override;
  void Clear() override;
  void SetPercent(int percent) override;
  void SetPowerText(const std::string& text, int lines) override;
  void SetEnergyText(const std::string& text, int lines) override;
  void SetCo2Reduction(float kg) override;
  void InvalidateView() override;

  void CreateControls();
  // Runs a connect or disconnect: the link's messages that arrive meanwhile wait until it is
  // over, as they would in the window's queue.
  template <typename F>
  auto RunLinkCall(F&& call);
  void OnExportDone();
  void OnExportProgress(uintptr_t examined, intptr_t total);

  Services services_;
  QtMessageSink sink_;
  QImage background_;
  CFlowPane* pane_ = nullptr;
  CMyTextBox* energy_ = nullptr;
  CMyPanel* gauge_ = nullptr;
  CMyTextBox* power_ = nullptr;
  QPushButton* xAxisButton_ = nullptr;
  QCheckBox* trackingCheck_ = nullptr;
  QLabel* energyPicture_ = nullptr;
  CProgressDlg* progress_ = nullptr;

  WorkbookEnv workbookEnv_;
  HistoryStore history_;
  CConfigWorkbook config_;
  std::unique_ptr<MonitorGate> ownMonitorGate_;  // "Par...": used when none is handed in
  std::unique_ptr<PowerViewEngine> engine_;
  ExportThread exportThread_;

  int linkCallDepth_ = 0;
  std::deque<PostedMessage> deferred_;
};

}  // namespace pyranex::ui
