#pragma once

#include <QDialog>
#include <thread>

#include "core/mqtt/broker_check.h"
#include "core/platform/notifier.h"
#include "ui/mqtt/mqtt_config_store.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace pyranex::ui {

class DataExchange;

// "MQTT": the broker's URL, user, password, CA file, base topic, publishing and discovery on or
// off, and a "Test" button that connects once and says plainly how it went.
class CMqttDlg final : public QDialog {
  Q_OBJECT

 public:
  CMqttDlg(Notifier& notifier, QWidget* parent = nullptr);
  ~CMqttDlg() override;

  MqttConfig m_config;

  void DoDataExchange(DataExchange& dx);
  void accept() override;

  // The test's answer as shown (empty before any).
  QString TestResult() const;
  bool Testing() const { return testing_; }
  QLineEdit& UrlEdit() { return *url_; }
  QLineEdit& UserEdit() { return *user_; }
  QLineEdit& PasswordEdit() { return *password_; }
  QLineEdit& CaFileEdit() { return *caFile_; }
  QLineEdit& BaseTopicEdit() { return *baseTopic_; }
  QCheckBox& EnabledCheck() { return *enabled_; }
  QCheckBox& DiscoveryCheck() { return *discovery_; }
  QPushButton& TestButton() { return *test_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnTest();
  void OnTestDone(const BrokerCheck& check);
  void OnBrowseCaFile();
  MqttSettings SettingsFromControls() const;

  Notifier& notifier_;
  QLineEdit* url_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* caFile_ = nullptr;
  QLineEdit* baseTopic_ = nullptr;
  QCheckBox* enabled_ = nullptr;
  QCheckBox* discovery_ = nullptr;
  QPushButton* test_ = nullptr;
  QLabel* result_ = nullptr;
  std::thread testThread_;
  bool testing_ = false;
};

}  // namespace pyranex::ui
