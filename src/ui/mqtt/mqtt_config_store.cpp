#include "ui/mqtt/mqtt_config_store.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace pyranex::ui {
namespace {

const QString kService = QStringLiteral("Quorvane");
const QString kKey = QStringLiteral("mqtt-password");
// Where the password was put last: "keystore", "file" or nothing.
const QString kPlaceKey = QStringLiteral("mqtt/passwordIn");

QString ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

bool WriteOwnerOnlyFile(const QString& path, const QString& text) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  // Private before the first byte is in it.
  file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  file.write(text.toUtf8());
  return file.commit();
}

// Runs a key store job to its end (the store may ask the user to unlock it meanwhile).
void RunJob(QKeychain::Job& job) {
  QEventLoop loop;
  QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
  job.setAutoDelete(false);
  job.start();
  loop.exec();
}

}  // namespace

MqttConfigStore::MqttConfigStore(QString iniPath, bool useKeyStore)
    : iniPath_(iniPath.isEmpty() ? QSettings(QSettings::IniFormat, QSettings::UserScope,
                                             QStringLiteral("Pyranex"), QStringLiteral("Quorvane"))
                                       .fileName()
                                 : std::move(iniPath)),
      useKeyStore_(useKeyStore) {}

QString MqttConfigStore::PasswordFilePath() const {
  return QFileInfo(iniPath_).absolutePath() + QStringLiteral("/mqtt-password");
}

void MqttConfigStore::Load(QObject* context, const std::function<void(MqttConfig)>& done) const {
  QSettings ini(iniPath_, QSettings::IniFormat);
  MqttConfig config;
  config.enabled = ini.value(QStringLiteral("mqtt/enabled"), false).toBool();
  MqttSettings& s = config.settings;
  s.url = ini.value(QStringLiteral("mqtt/url")).toString().toStdString();
  s.user = ini.value(QStringLiteral("mqtt/user")).toString().toStdString();
  s.caFile = ini.value(QStringLiteral("mqtt/caFile")).toString().toStdString();
  s.baseTopic = ini.value(QStringLiteral("mqtt/baseTopic")).toString().toStdString();
  s.discovery = ini.value(QStringLiteral("mqtt/discovery"), true).toBool();
  const QString place = ini.value(kPlaceKey).toString();
  if (place == QLatin1String("file")) {
    s.password = ReadFile(PasswordFilePath()).toStdString();
  } else if (place == QLatin1String("keystore") && useKeyStore_) {
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(kKey);
    QObject::connect(
        job, &QKeychain::Job::finished, context ? context : job,
        [config, done](QKeychain::Job* finished) {
          MqttConfig withPassword = config;
          if (finished->error() == QKeychain::NoError) {
            withPassword.settings.password =
                static_cast<QKeychain::ReadPasswordJob*>(finished)->textData().toStdString();
          }
          done(std::move(withPassword));
        });
    job->start();  // deletes itself when finished
    return;
  }
  done(std::move(config));
}

QString MqttConfigStore::Save(const MqttConfig& config, bool* ok) const {
  *ok = true;
  QSettings ini(iniPath_, QSettings::IniFormat);
  const MqttSettings& s = config.settings;
  ini.setValue(QStringLiteral("mqtt/enabled"), config.enabled);
  ini.setValue(QStringLiteral("mqtt/url"), QString::fromStdString(s.url));
  ini.setValue(QStringLiteral("mqtt/user"), QString::fromStdString(s.user));
  ini.setValue(QStringLiteral("mqtt/caFile"), QString::fromStdString(s.caFile));
  ini.setValue(QStringLiteral("mqtt/baseTopic"), QString::fromStdString(s.baseTopic));
  ini.setValue(QStringLiteral("mqtt/discovery"), s.discovery);

  const QString password = QString::fromStdString(s.password);
  QString notice;
  if (useKeyStore_) {
    QKeychain::Job* job = nullptr;
    QKeychain::WritePasswordJob write(kService);
    QKeychain::DeletePasswordJob remove(kService);
    if (password.isEmpty()) {
      job = &remove;
    } else {
      write.setTextData(password);
      job = &write;
    }
    job->setKey(kKey);
    RunJob(*job);
    const QKeychain::Error error = job->error();
    if (error == QKeychain::NoError || (password.isEmpty() && error == QKeychain::EntryNotFound)) {
      QFile::remove(PasswordFilePath());
      ini.setValue(kPlaceKey, password.isEmpty() ? QString() : QStringLiteral("keystore"));
      return {};
    }
    if (password.isEmpty()) {
      QFile::remove(PasswordFilePath());
      ini.setValue(kPlaceKey, QString());
      return {};
    }
    notice = QStringLiteral(
                 "No key store took the MQTT password (%1). It is kept in %2, which "
                 "only you can read.")
                 .arg(job->errorString(), PasswordFilePath());
  }
  if (password.isEmpty()) {
    QFile::remove(PasswordFilePath());
    ini.setValue(kPlaceKey, QString());
    return notice;
  }
  if (!WriteOwnerOnlyFile(PasswordFilePath(), password)) {
    *ok = false;
    return QStringLiteral("The MQTT password could not be kept: %1 cannot be written.")
        .arg(PasswordFilePath());
  }
  ini.setValue(kPlaceKey, QStringLiteral("file"));
  return notice;
}

}  // namespace pyranex::ui
