// "Par..." in the real window against the simulated inverter: the password dialog, then the
// monitor dialog reading, loading a standard, writing all parameters and refusing bad fields;
// a wrong password and Cancel; closing the dialog while a reply is on its way.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <cmath>
#include <filesystem>
#include <functional>

#include "app/modal_driver.h"
#include "core/monitor/monitor_engine.h"
#include "core/monitor/password.h"
#include "core/monitor/register_display.h"
#include "core/workbook/config_workbook.h"
#include "inverter_simulator.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"
#include "support/time_scale.h"
#include "ui/app/main_frame.h"
#include "ui/app/pyranex_app.h"
#include "ui/monitor/monitor_dlg.h"
#include "ui/monitor/pass_word_dlg.h"
#include "ui/views/power_curve_view.h"
#include "ui/widgets/flow_pane.h"

namespace pyranex::ui {
namespace {

namespace fs = std::filesystem;

using test::Until;

constexpr int kCommandControls[] = {1000, 1001, 1002, 1157, 1158, 1175};

// Records every box and whether one was ever shown off the interface thread.
class GuiThreadNotifier final : public Notifier {
 public:
  using Notifier::Show;
  NoticeAnswer Show(const std::string& text, const std::string& caption, NoticeIcon icon,
                    NoticeButtons buttons) override {
    if (QThread::currentThread() != qApp->thread()) offThread = true;
    return recorded.Show(text, caption, icon, buttons);
  }
  size_t Count() const { return recorded.Count(); }
  std::vector<test::Notice> Notices() const { return recorded.Notices(); }

  test::RecordingNotifier recorded;
  std::atomic<bool> offThread{false};
};

class MonitorWithSimulator : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("monitor-sim-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "cur");
    for (const char* name : {"1.bmp", "2.bmp", "myfile.rtf"}) {
      fs::copy_file(fs::path(PYRANEX_DATA_DIR) / name, dir_ / "cur" / name);
    }
    fs::copy_file(PYRANEX_DATACFG_XLS, dir_ / "cur" / "datacfg.xls");
  }
  void TearDown() override {
    if (app_) {
      app_->Frame().PowerView().Disconnect();
      app_.reset();
    }
    if (sim_) sim_->Stop();
    fs::remove_all(dir_);
  }

  // The inverter on COM1 (firmware 4.10, so every register block is read and written), the
  // window connected to it and a few live cycles done.
  void Start(std::chrono::milliseconds replyDelay = {}) {
    sim::SimulatorConfig config;
    config.portsDir = dir_ / "ports";
    config.identity.firmwareVersion = 410;
    config.startSecondOfDay = 11 * 3600;
    config.faults.delay = replyDelay;
    sim_ = std::make_unique<sim::InverterSimulator>(config);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
    app_ =
        std::make_unique<CPyranexApp>(CPyranexApp::Options{{dir_, dir_ / "cur"}, &notifier_, {}});
    ASSERT_TRUE(app_->InitInstance());
    ASSERT_TRUE(View().Connect(1));
    ASSERT_TRUE(Until([&] { return Log().pac.size() >= 2; }, 60));
  }

  CPowerCurveView& View() { return app_->Frame().PowerView(); }
  const DayLog& Log() { return View().Engine().GetDayLog(); }

  // "Par..." answered with `password` (null: Cancel); `scenario` runs inside the modal monitor
  // dialog, which is closed with "Cancel" afterwards. False when no monitor dialog opened.
  bool RunPar(const char* password, const std::function<void(CMonitorDlg&)>& scenario) {
    bool asked = false, opened = false, busy = false;
    test::ModalDriver driver([&](QWidget& modal) {
      if (busy) return;
      if (auto* ask = qobject_cast<CPassWordDlg*>(&modal)) {
        asked = true;
        if (password == nullptr) {
          ask->reject();
          return;
        }
        ask->PasswordEdit().setText(QString::fromLatin1(password));
        ask->accept();
      } else if (auto* dialog = qobject_cast<CMonitorDlg*>(&modal)) {
        busy = opened = true;
        scenario(*dialog);
        dialog->ControlAs<QPushButton>(2)->click();
        busy = false;
      }
    });
    View().OnParSetting();
    EXPECT_TRUE(Until([&] { return asked && !View().Engine().Monitor() && !busy; }, 60));
    return opened;
  }

  fs::path dir_;
  GuiThreadNotifier notifier_;
  std::unique_ptr<sim::InverterSimulator> sim_;
  std::unique_ptr<CPyranexApp> app_;
};

QString TextOf(CMonitorDlg& dialog, int id) {
  return dialog.ControlAs<QLineEdit>(id)->text();
}

// The text a field shows for a workbook value: floats with 6 significant digits, integers cut.
std::string ExpectedText(const FieldSpec& item, double value) {
  return std::visit(
      [&](auto member) -> std::string {
        using T = std::decay_t<decltype(MonitorFields{}.*member)>;
        if constexpr (std::is_same_v<T, float>) return FormatFloat(static_cast<float>(value));
        if constexpr (std::is_integral_v<T>)
          return std::to_string(static_cast<T>(std::trunc(value)));
        return {};
      },
      item.field);
}

TEST_F(MonitorWithSimulator, FullAccessReadsLoadsAStandardWritesAllAndRefusesBadFields) {
  Start();
  const bool opened = RunPar(kParameterPassword.data(), [&](CMonitorDlg& dialog) {
    MonitorEngine& engine = dialog.Engine();
    // The opening broadcast is answered: reading, with the command controls enabled.
    ASSERT_TRUE(Until([&] { return engine.Mode() == ModeRead; }, 30));
    for (int id : kCommandControls) EXPECT_TRUE(dialog.Control(id)->isEnabled()) << id;
    EXPECT_FALSE(dialog.Control(1181)->isEnabled());
    EXPECT_TRUE(dialog.ControlAs<QCheckBox>(1181)->isChecked());  // standard Modbus framing

    // The first pass fills every edit field with what its display shows.
    const size_t pointsAtOpen = View().Pane().m_values.size();
    ASSERT_TRUE(Until([&] { return engine.EditsLoaded(); }, 60));
    for (const RegisterPlace& place : RegisterPlaces()) {
      if (place.edit == 0 || place.registerNumber < 46) continue;  // live values move on
      EXPECT_EQ(TextOf(dialog, place.edit), TextOf(dialog, place.display)) << place.label;
      EXPECT_FALSE(TextOf(dialog, place.edit).isEmpty()) << place.label;
    }
    EXPECT_EQ(TextOf(dialog, 1111), QString::number(sim_->SerialNumber()));
    EXPECT_EQ(TextOf(dialog, 1099), QString::number(sim_->SerialNumber()));
    EXPECT_FALSE(TextOf(dialog, 1070).isEmpty());
    // Meanwhile the main view's chart follows the live record the dialog reads.
    EXPECT_GT(View().Pane().m_values.size(), pointsAtOpen);

    // "VDE-NEW" takes its values from datacfg.xls.
    auto* standards = dialog.ControlAs<QComboBox>(1096);
    standards->setCurrentIndex(2);
    Q_EMIT standards->activated(2);
    test::FakeClock clock;
    CConfigWorkbook workbook(clock, dir_ / "cur");
    workbook.ReadParameterSheet();
    int loaded = 0;
    for (const FieldSpec& item : FieldSpecs()) {
      double value = 0;
      if (item.parameterIndex < 0 || workbook.LookupStandardValue(2, item.parameterIndex, value))
        continue;
      ++loaded;
      EXPECT_EQ(TextOf(dialog, item.control).toStdString(), ExpectedText(item, value))
          << item.label;
    }
    EXPECT_EQ(loaded, 22);

    // A field out of range: its prompt, the focus on it, nothing sent.
    sim_->ClearRecords();
    auto* vpvStart = dialog.ControlAs<QLineEdit>(1100);
    const QString vdeVpvStart = vpvStart->text();
    vpvStart->setText(QStringLiteral("149.9"));
    const size_t notices = notifier_.Count();
    dialog.ControlAs<QPushButton>(1000)->click();
    ASSERT_EQ(notifier_.Count(), notices + 1);
    EXPECT_EQ(notifier_.Notices().back().text,
              "请输入一个在 150 和 300 之间的整数。\nEnter an integer between 150 and 300.");
    EXPECT_EQ(notifier_.Notices().back().caption, "Vpv-start(V) - Quorvane");
    EXPECT_EQ(notifier_.Notices().back().icon, NoticeIcon::Warning);
    EXPECT_EQ(dialog.focusWidget(), vpvStart);
    const uint32_t reads = engine.CompletedReads();
    ASSERT_TRUE(Until([&] { return engine.CompletedReads() >= reads + 2; }, 30));
    EXPECT_TRUE(sim_->Writes().empty());
    for (int id : kCommandControls) EXPECT_TRUE(dialog.Control(id)->isEnabled()) << id;

    // "Set all parameter": four blocks, then a read pass shows the new values.
    vpvStart->setText(vdeVpvStart);
    dialog.ControlAs<QPushButton>(1000)->click();
    EXPECT_FALSE(dialog.Control(1000)->isEnabled());
    EXPECT_EQ(dialog.StatusLine()->text(),
              "Set all parameter: writing block 1 of 4 (registers 311-333)...");
    ASSERT_TRUE(Until([&] { return dialog.Control(1000)->isEnabled(); }, 60));
    EXPECT_EQ(dialog.StatusLine()->text(),
              "Set all parameter: all 4 blocks written; reading them back...");
    const std::vector<sim::SimWrite> writes = sim_->Writes();
    ASSERT_EQ(writes.size(), 4u);
    const std::pair<unsigned, size_t> blocks[] = {{311, 23}, {334, 5}, {341, 21}, {301, 3}};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(writes[i].first, blocks[i].first);
      EXPECT_EQ(writes[i].values.size(), blocks[i].second);
    }
    EXPECT_EQ(writes[2].values[358 - 341], 2u);  // the standard number of "VDE-NEW"
    const uint32_t after = engine.CompletedReads();
    ASSERT_TRUE(Until([&] { return engine.CompletedReads() >= after + 5; }, 60));
    for (const FieldSpec& item : FieldSpecs()) {
      if (item.parameterIndex < 0) continue;
      for (const RegisterPlace& place : RegisterPlaces()) {
        if (place.edit != item.control) continue;
        EXPECT_EQ(TextOf(dialog, place.display).toDouble(), TextOf(dialog, item.control).toDouble())
            << item.label;
      }
    }
    EXPECT_EQ(TextOf(dialog, 1098), QStringLiteral("VDE         "));
    EXPECT_EQ(dialog.StatusLine()->text(),
              "Set all parameter: written and read back; every value reads as written.");
  });
  EXPECT_TRUE(opened);
}

TEST_F(MonitorWithSimulator, WrongPasswordShowsEverythingAndWritesNothing) {
  Start();
  const bool opened = RunPar("hqdwzemaxl", [&](CMonitorDlg& dialog) {
    MonitorEngine& engine = dialog.Engine();
    ASSERT_TRUE(Until([&] { return engine.EditsLoaded() && engine.CompletedReads() >= 6; }, 60));
    EXPECT_FALSE(TextOf(dialog, 1070).isEmpty());
    EXPECT_FALSE(TextOf(dialog, 1088).isEmpty());
    EXPECT_FALSE(TextOf(dialog, 1156).isEmpty());
    sim_->ClearRecords();
    for (int id : kCommandControls) {
      EXPECT_FALSE(dialog.Control(id)->isEnabled()) << id;
      if (auto* button = qobject_cast<QAbstractButton*>(dialog.Control(id))) button->click();
    }
    const uint32_t reads = engine.CompletedReads();
    ASSERT_TRUE(Until([&] { return engine.CompletedReads() >= reads + 5; }, 60));
    EXPECT_TRUE(sim_->Writes().empty());
    for (int id : kCommandControls) EXPECT_FALSE(dialog.Control(id)->isEnabled()) << id;
  });
  EXPECT_TRUE(opened);
}

TEST_F(MonitorWithSimulator, CancelOnThePasswordOpensNothing) {
  Start();
  const size_t before = Log().pac.size();
  EXPECT_FALSE(RunPar(nullptr, [](CMonitorDlg&) {}));
  EXPECT_TRUE(Until([&] { return Log().pac.size() >= before + 2; }, 60));  // polling goes on
}

TEST_F(MonitorWithSimulator, ClosingDuringAnExchangeResumesTheViewsPollingWithoutALostCycle) {
  // Slow replies leave time to close the dialog while one is on its way.
  Start(std::chrono::milliseconds(400));
  CInverterCom& link = View().Engine().Link();
  size_t atClose = 0, pointsAtClose = 0;
  const bool opened = RunPar(kParameterPassword.data(), [&](CMonitorDlg& dialog) {
    MonitorEngine& engine = dialog.Engine();
    ASSERT_TRUE(Until([&] { return engine.EditsLoaded(); }, 60));
    ASSERT_TRUE(Until(
        [&] {
          return link.m_exchangeState.load() == ExchangeReadSent &&
                 link.m_firstRegister.load() == 11 && engine.ValueIndex() == 0;
        },
        60));
    atClose = Log().pac.size();
    pointsAtClose = View().Pane().m_values.size();
  });
  ASSERT_TRUE(opened);
  // The reply of the dialog's live-data read completes as a cycle of the view.
  ASSERT_TRUE(Until([&] { return link.m_exchangeState.load() == ExchangeIdle; }, 30));
  EXPECT_EQ(Log().pac.size(), atClose + 1);
  EXPECT_EQ(View().Pane().m_values.size(), pointsAtClose + 1);
  EXPECT_EQ(View().Engine().m_registerIndex, 0u);
  EXPECT_TRUE(Until([&] { return Log().pac.size() >= atClose + 3; }, 60));
  EXPECT_EQ(View().Pane().m_values.size() - pointsAtClose, Log().pac.size() - atClose);
  for (const auto& notice : notifier_.Notices()) ADD_FAILURE() << notice.text;
}

TEST_F(MonitorWithSimulator, TimeOutReachesTheInterfaceThreadAndTheViewPollsAgainAfterClose) {
  Start();
  bool timedOut = false;
  const bool opened = RunPar(kParameterPassword.data(), [&](CMonitorDlg& dialog) {
    MonitorEngine& engine = dialog.Engine();
    ASSERT_TRUE(Until([&] { return engine.EditsLoaded(); }, 60));
    sim::FaultConfig silent;
    silent.silent = true;
    sim_->SetFaults(silent);
    timedOut = Until(
        [&] {
          const auto notices = notifier_.Notices();
          return !notices.empty() && notices.back().text == kMonitorTimeoutText;
        },
        60);
    EXPECT_TRUE(engine.HasStoppedPolling());
    sim_->SetFaults({});
  });
  ASSERT_TRUE(opened);
  EXPECT_TRUE(timedOut);
  EXPECT_FALSE(notifier_.offThread.load());
  const size_t before = Log().pac.size();
  EXPECT_TRUE(Until([&] { return Log().pac.size() >= before + 2; }, 60));
}

}  // namespace
}  // namespace pyranex::ui
