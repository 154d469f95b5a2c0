// "Setting > MQTT...": the dialog, its Test button, the settings it keeps and the status pane.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "../app/modal_driver.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"
#include "ui/mqtt/mqtt_controller.h"
#include "ui/mqtt/mqtt_dlg.h"

namespace pyranex::ui {
namespace {

namespace fs = std::filesystem;

// A port nobody listens on: a TCP connect there is refused at once.
std::string NobodyAt() {
  return "mqtt://127.0.0.1:9";
}

fs::path TempDir(const char* name) {
  const fs::path dir = fs::temp_directory_path() / (name + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

TEST(MqttDlg, RefusesAnUnusableBrokerAndTakesAGoodOne) {
  test::RecordingNotifier notifier;
  CMqttDlg dlg(notifier);
  dlg.show();
  EXPECT_FALSE(dlg.EnabledCheck().isChecked());
  EXPECT_TRUE(dlg.DiscoveryCheck().isChecked());  // the default
  dlg.EnabledCheck().setChecked(true);
  const struct {
    const char* url;
    const char* base;
    const char* says;
    QLineEdit* focus;
  } bad[] = {
      {"http://pi", "", "The broker URL is not usable: the broker URL must start with",
       &dlg.UrlEdit()},
      {"mqtt://pi", "home/#", "wildcards", &dlg.BaseTopicEdit()},
  };
  for (const auto& b : bad) {
    dlg.UrlEdit().setText(b.url);
    dlg.BaseTopicEdit().setText(b.base);
    dlg.accept();
    EXPECT_TRUE(dlg.isVisible()) << b.url;
    ASSERT_FALSE(notifier.Notices().empty());
    EXPECT_NE(notifier.Notices().back().text.find(b.says), std::string::npos)
        << notifier.Notices().back().text;
    EXPECT_EQ(dlg.focusWidget(), b.focus);
  }
  dlg.UrlEdit().setText("mqtts://pi:8884");
  dlg.UserEdit().setText("pv");
  dlg.PasswordEdit().setText("s3cret");
  dlg.BaseTopicEdit().setText("home/pv");
  dlg.DiscoveryCheck().setChecked(false);
  dlg.accept();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_TRUE(dlg.m_config.enabled);
  EXPECT_EQ(dlg.m_config.settings.url, "mqtts://pi:8884");
  EXPECT_EQ(dlg.m_config.settings.password, "s3cret");
  EXPECT_EQ(dlg.m_config.settings.baseTopic, "home/pv");
  EXPECT_FALSE(dlg.m_config.settings.discovery);
}

TEST(MqttDlg, TestSaysPlainlyWhatWentWrong) {
  test::RecordingNotifier notifier;
  CMqttDlg dlg(notifier);
  dlg.show();
  dlg.UrlEdit().setText(QString::fromStdString(NobodyAt()));
  dlg.TestButton().click();
  EXPECT_FALSE(dlg.TestButton().isEnabled());
  ASSERT_TRUE(test::Until([&] { return !dlg.Testing(); }, 15));
  EXPECT_TRUE(dlg.TestButton().isEnabled());
  EXPECT_TRUE(
      dlg.TestResult().startsWith("Failed: no MQTT broker at 127.0.0.1:9 (Connection refused)"))
      << dlg.TestResult().toStdString();
  dlg.UrlEdit().setText("mqtt://user:pw@pi");
  dlg.TestButton().click();
  ASSERT_TRUE(test::Until([&] { return !dlg.Testing(); }, 15));
  EXPECT_TRUE(dlg.TestResult().contains("no user or password in the broker URL"));
}

TEST(MqttConfigStore, WithoutAKeyStoreThePasswordIsAFileOnlyTheUserReads) {
  const fs::path dir = TempDir("pyranex-mqtt-store-");
  const MqttConfigStore store(QString::fromStdString((dir / "Quorvane.ini").string()), false);
  MqttConfig config;
  config.enabled = true;
  config.settings.url = "mqtt://pi";
  config.settings.user = "pv";
  config.settings.password = "s3cret";
  config.settings.discovery = false;
  bool ok = false;
  EXPECT_EQ(store.Save(config, &ok), "");
  EXPECT_TRUE(ok);
  QFile ini(QString::fromStdString((dir / "Quorvane.ini").string()));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_FALSE(ini.readAll().contains("s3cret"));
  struct stat info {};
  ASSERT_EQ(::stat(store.PasswordFilePath().toStdString().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  MqttConfig loaded;
  store.Load(nullptr, [&](MqttConfig c) { loaded = std::move(c); });
  EXPECT_TRUE(loaded.enabled);
  EXPECT_EQ(loaded.settings.url, "mqtt://pi");
  EXPECT_EQ(loaded.settings.password, "s3cret");
  EXPECT_FALSE(loaded.settings.discovery);

  config.settings.password.clear();  // no password: no file left behind
  EXPECT_EQ(store.Save(config, &ok), "");
  EXPECT_FALSE(fs::exists(store.PasswordFilePath().toStdString()));
  fs::remove_all(dir);
}

TEST(MqttController, TheStatusPaneShowsTheBrokersStateOnlyWhilePublishing) {
  const fs::path dir = TempDir("pyranex-mqtt-controller-");
  test::RecordingNotifier notifier;
  test::FakeClock clock;
  CMqttController controller(
      notifier, clock, MqttConfigStore(QString::fromStdString((dir / "q.ini").string()), false));
  controller.Attach([] { return LinkStatus{}; }, nullptr);
  EXPECT_TRUE(controller.StatusPane()->isHidden());  // nothing saved: publishing is off
  EXPECT_EQ(controller.Action()->text(), "MQTT...");

  MqttConfig config;
  config.enabled = true;
  config.settings.url = NobodyAt();
  config.settings.baseTopic = "pv";
  controller.Apply(config);
  LiveRecord record;
  record.serialNumber = "1";
  controller.Accept(record);
  ASSERT_TRUE(test::Until(
      [&] {
        return controller.StatusPane()->text().contains("127.0.0.1:9 away (Connection refused)");
      },
      10))
      << controller.StatusPane()->text().toStdString();
  EXPECT_FALSE(controller.StatusPane()->isHidden());
  EXPECT_TRUE(controller.StatusPane()->text().contains("1 record queued"));

  config.enabled = false;
  controller.Apply(config);
  EXPECT_EQ(controller.Publisher(), nullptr);
  EXPECT_TRUE(controller.StatusPane()->isHidden());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pyranex::ui
