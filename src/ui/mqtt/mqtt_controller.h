#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "core/acquisition/link_status.h"
#include "core/acquisition/live_record.h"
#include "core/mqtt/mqtt_publisher.h"
#include "core/platform/clock.h"
#include "core/platform/notifier.h"
#include "ui/mqtt/mqtt_config_store.h"

class QAction;
class QTimer;
class QWidget;

namespace pyranex::ui {

// The window's side of the home energy bus: "Setting > MQTT...", the settings it keeps, the
// publisher it runs with them, and the broker's state in the status bar. It is a record sink of
// the power view's engine; while publishing is off, records go nowhere.
class CMqttController final : public QObject, public RecordSink {
  Q_OBJECT
 public:
  CMqttController(Notifier& notifier, const Clock& clock, MqttConfigStore store,
                  QObject* parent = nullptr);
  ~CMqttController() override;

  // The menu command and the status bar pane, for the frame to place; `link` tells the link's
  // state, `dialogParent` owns the dialog. Loads the settings and starts publishing if it is on.
  void Attach(std::function<LinkStatus()> link, QWidget* dialogParent);
  QAction* Action() const { return action_; }
  QLabel* StatusPane() const { return pane_; }

  // RecordSink, on the interface thread.
  void Accept(const LiveRecord& record) override;

  // "Setting > MQTT...".
  void OnMqttSetting();
  // Applies `config`: stops the running publisher (its "offline" sent) and starts a new one.
  void Apply(const MqttConfig& config);
  const MqttConfig& Config() const { return config_; }
  MqttPublisher* Publisher() const { return publisher_.get(); }
  // The status pane brought up to date, and the link handed on (the 1 s timer does this).
  void Refresh();

 private:
  Notifier& notifier_;
  const Clock& clock_;
  MqttConfigStore store_;
  MqttConfig config_;
  std::unique_ptr<MqttPublisher> publisher_;
  std::function<LinkStatus()> link_;
  std::optional<LinkCondition> lastLink_;
  QWidget* dialogParent_ = nullptr;
  QAction* action_ = nullptr;
  QPointer<QLabel> pane_;  // the status bar owns it once placed there
  QTimer* timer_ = nullptr;
  std::string startError_;
};

}  // namespace pyranex::ui
