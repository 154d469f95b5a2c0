#include "ui/mqtt/mqtt_dlg.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "core/mqtt/broker_url.h"
#include "core/mqtt/topics.h"
#include "ui/dialogs/data_exchange.h"
#include "ui/dialogs/dialog_layout.h"

namespace pyranex::ui {
namespace {

constexpr auto kTestLimit = std::chrono::seconds(5);

QLineEdit* AddRow(QDialog& dialog, const QString& label, int y, const QString& name,
                  int editWidth = 183) {
  auto* text = new QLabel(label, &dialog);
  PlaceInDialogUnits(*text, 7, y + 2, 62, 10);
  auto* edit = new QLineEdit(&dialog);
  edit->setObjectName(name);
  PlaceInDialogUnits(*edit, 70, y, editWidth, 13);
  return edit;
}

}  // namespace

CMqttDlg::CMqttDlg(Notifier& notifier, QWidget* parent) : QDialog(parent), notifier_(notifier) {
  setWindowTitle(QStringLiteral("MQTT"));
  SetDialogUnitsSize(*this, 260, 170);

  url_ = AddRow(*this, QStringLiteral("Broker URL:"), 7, QStringLiteral("url"));
  url_->setPlaceholderText(QStringLiteral("mqtt://homeassistant.local:1883"));
  user_ = AddRow(*this, QStringLiteral("User:"), 24, QStringLiteral("user"));
  password_ = AddRow(*this, QStringLiteral("Password:"), 41, QStringLiteral("password"));
  password_->setEchoMode(QLineEdit::Password);
  caFile_ = AddRow(*this, QStringLiteral("CA file (mqtts):"), 58, QStringLiteral("caFile"), 160);
  caFile_->setPlaceholderText(QStringLiteral("the system's CAs"));
  auto* browse = new QPushButton(QStringLiteral("..."), this);
  browse->setObjectName(QStringLiteral("browse"));
  PlaceInDialogUnits(*browse, 233, 58, 20, 13);
  connect(browse, &QPushButton::clicked, this, &CMqttDlg::OnBrowseCaFile);
  baseTopic_ = AddRow(*this, QStringLiteral("Base topic:"), 75, QStringLiteral("baseTopic"));
  baseTopic_->setPlaceholderText(QStringLiteral("pyranex/<serial number>"));

  enabled_ = new QCheckBox(QStringLiteral("Publish live data to the broker"), this);
  enabled_->setObjectName(QStringLiteral("enabled"));
  PlaceInDialogUnits(*enabled_, 7, 94, 125, 12);
  discovery_ = new QCheckBox(QStringLiteral("Home Assistant discovery"), this);
  discovery_->setObjectName(QStringLiteral("discovery"));
  PlaceInDialogUnits(*discovery_, 140, 94, 113, 12);

  result_ = new QLabel(this);
  result_->setObjectName(QStringLiteral("result"));
  result_->setWordWrap(true);
  result_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  result_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  result_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  PlaceInDialogUnits(*result_, 7, 111, 246, 34);

  test_ = new QPushButton(QStringLiteral("Test"), this);
  test_->setObjectName(QStringLiteral("test"));
  PlaceInDialogUnits(*test_, 7, 151, 50, 14);
  connect(test_, &QPushButton::clicked, this, &CMqttDlg::OnTest);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  PlaceInDialogUnits(*ok, 146, 151, 50, 14);
  connect(ok, &QPushButton::clicked, this, &CMqttDlg::accept);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancel"));
  PlaceInDialogUnits(*cancel, 203, 151, 50, 14);
  connect(cancel, &QPushButton::clicked, this, &CMqttDlg::reject);
}

CMqttDlg::~CMqttDlg() {
  // A test under way ends within its time limit; its answer then goes nowhere.
  if (testThread_.joinable()) testThread_.join();
}

void CMqttDlg::DoDataExchange(DataExchange& dx) {
  MqttSettings& s = m_config.settings;
  dx.Check(*enabled_, m_config.enabled);
  dx.Text(*url_, s.url);
  dx.Text(*user_, s.user);
  dx.Text(*password_, s.password);
  dx.Text(*caFile_, s.caFile);
  dx.Text(*baseTopic_, s.baseTopic);
  dx.Check(*discovery_, s.discovery);
  if (!dx.IsSaving() || !dx.Ok()) return;
  // Publishing needs a broker that can work; a switched-off one may stay half filled in.
  std::string error;
  if (m_config.enabled && !ParseBrokerUrl(s.url, &error)) {
    dx.Fail(*url_, "The broker URL is not usable: " + error + ".");
  } else if (!s.baseTopic.empty()) {
    if (std::string why = CheckBaseTopic(s.baseTopic); !why.empty()) dx.Fail(*baseTopic_, why);
  }
  if (dx.Ok() && !s.password.empty() && s.user.empty()) {
    dx.Fail(*user_, "A password needs a user name.");
  }
}

void CMqttDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  UpdateData(false, notifier_, [this](DataExchange& dx) { DoDataExchange(dx); });
  url_->setFocus();
}

void CMqttDlg::accept() {
  if (UpdateData(true, notifier_, [this](DataExchange& dx) { DoDataExchange(dx); })) {
    QDialog::accept();
  }
}

QString CMqttDlg::TestResult() const {
  return result_->text();
}

MqttSettings CMqttDlg::SettingsFromControls() const {
  MqttSettings s;
  s.url = url_->text().trimmed().toStdString();
  s.user = user_->text().toStdString();
  s.password = password_->text().toStdString();
  s.caFile = caFile_->text().toStdString();
  s.baseTopic = baseTopic_->text().toStdString();
  return s;
}

void CMqttDlg::OnTest() {
  if (testing_) return;
  if (testThread_.joinable()) testThread_.join();
  const MqttSettings settings = SettingsFromControls();
  testing_ = true;
  test_->setEnabled(false);
  result_->setText(QStringLiteral("Testing %1 ...").arg(QString::fromStdString(settings.url)));
  testThread_ = std::thread([this, settings] {
    const BrokerCheck check = CheckBroker(settings, kTestLimit);
    QMetaObject::invokeMethod(
        this, [this, check] { OnTestDone(check); }, Qt::QueuedConnection);
  });
}

void CMqttDlg::OnTestDone(const BrokerCheck& check) {
  testing_ = false;
  test_->setEnabled(true);
  const bool ok = check.outcome == BrokerCheckOutcome::Ok;
  result_->setText((ok ? QStringLiteral("OK: ") : QStringLiteral("Failed: ")) +
                   QString::fromStdString(check.text));
}

void CMqttDlg::OnBrowseCaFile() {
  const QString file = QFileDialog::getOpenFileName(
      this, QStringLiteral("CA certificate"), caFile_->text(),
      QStringLiteral("Certificates (*.crt *.pem *.cer);;All files (*)"));
  if (!file.isEmpty()) caFile_->setText(file);
}

}  // namespace pyranex::ui
