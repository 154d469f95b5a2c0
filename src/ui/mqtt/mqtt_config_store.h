#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "core/mqtt/mqtt_settings.h"

namespace pyranex::ui {

// What the window keeps about the broker.
struct MqttConfig {
  bool enabled = false;
  MqttSettings settings;  // the password included
};

// The broker settings in the user's configuration folder (QSettings, INI format). The password
// goes to the desktop's key store (Secret Service, through QtKeychain); where none answers (a
// headless machine, a desktop without a keyring) it goes to a file of its own beside the
// settings, readable by the user alone, and the caller is told so.
class MqttConfigStore {
 public:
  // `iniPath` empty: the user's own (~/.config/Pyranex/Quorvane.ini). `useKeyStore` false: the
  // file only (tests).
  explicit MqttConfigStore(QString iniPath = {}, bool useKeyStore = true);

  // Everything but the password at once; the password comes to `done` (at once from the file,
  // a moment later from the key store, and then only while `context` still exists).
  void Load(QObject* context, const std::function<void(MqttConfig)>& done) const;
  // Saves the settings and the password. Returns a notice for the user when the password could
  // not go to the key store (where it went instead); empty otherwise. False in `ok` when it
  // could not be kept at all.
  QString Save(const MqttConfig& config, bool* ok) const;

  QString IniPath() const { return iniPath_; }
  QString PasswordFilePath() const;

 private:
  QString iniPath_;
  bool useKeyStore_;
};

}  // namespace pyranex::ui
