#include "ui/mqtt/mqtt_controller.h"

#include <QAction>
#include <QLabel>
#include <QTimer>

#include "core/mqtt/payloads.h"
#include "ui/mqtt/mqtt_dlg.h"

namespace pyranex::ui {

CMqttController::CMqttController(Notifier& notifier, const Clock& clock, MqttConfigStore store,
                                 QObject* parent)
    : QObject(parent), notifier_(notifier), clock_(clock), store_(std::move(store)) {
  action_ = new QAction(QStringLiteral("MQTT..."), this);
  action_->setObjectName(QStringLiteral("mqtt"));
  action_->setStatusTip(
      QStringLiteral("Publish the live data to an MQTT broker (Home Assistant and others)"));
  connect(action_, &QAction::triggered, this, &CMqttController::OnMqttSetting);
  pane_ = new QLabel;
  pane_->setObjectName(QStringLiteral("mqttStatus"));
  pane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  pane_->hide();
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &CMqttController::Refresh);
}

CMqttController::~CMqttController() {
  if (publisher_) publisher_->Stop(std::chrono::seconds(1));
  // Never placed in a status bar, the pane is ours.
  if (pane_ && pane_->parent() == nullptr) delete pane_;
}

void CMqttController::Attach(std::function<LinkStatus()> link, QWidget* dialogParent) {
  link_ = std::move(link);
  dialogParent_ = dialogParent;
  store_.Load(this, [this](MqttConfig config) { Apply(config); });
  timer_->start(1000);
}

void CMqttController::Accept(const LiveRecord& record) {
  if (publisher_) publisher_->Accept(record);
}

void CMqttController::Apply(const MqttConfig& config) {
  if (publisher_) {
    publisher_->Stop(std::chrono::seconds(1));
    publisher_.reset();
  }
  config_ = config;
  lastLink_.reset();
  startError_.clear();
  if (config_.enabled) {
    publisher_ = MqttPublisher::Start(config_.settings, &startError_);
  }
  Refresh();
}

void CMqttController::Refresh() {
  if (!pane_) return;  // the window is gone
  if (!config_.enabled) {
    pane_->hide();
    return;
  }
  QString text;
  QString tip;
  if (publisher_) {
    if (link_) {
      const LinkStatus status = link_();
      if (lastLink_ != status.condition) {
        lastLink_ = status.condition;
        publisher_->SetLink(MakeLinkReport(status, clock_));
      }
    }
    const MqttStatus status = publisher_->Status();
    text = QString::fromStdString(FormatMqttStatus(status));
    tip = QStringLiteral("%1 records published, %2 queued (at most %3), %4 dropped")
              .arg(status.published)
              .arg(status.queued)
              .arg(status.capacity)
              .arg(status.dropped);
  } else {
    text = QStringLiteral("MQTT: not started (%1)").arg(QString::fromStdString(startError_));
  }
  if (pane_->text() != text) pane_->setText(text);
  pane_->setToolTip(tip);
  pane_->show();
}

void CMqttController::OnMqttSetting() {
  CMqttDlg dialog(notifier_, dialogParent_);
  dialog.m_config = config_;
  if (dialog.exec() != QDialog::Accepted) return;
  bool kept = true;
  const QString notice = store_.Save(dialog.m_config, &kept);
  if (!notice.isEmpty()) {
    notifier_.Show(notice.toStdString(), "Quorvane",
                   kept ? NoticeIcon::Information : NoticeIcon::Warning, NoticeButtons::Ok);
  }
  Apply(dialog.m_config);
}

}  // namespace pyranex::ui
