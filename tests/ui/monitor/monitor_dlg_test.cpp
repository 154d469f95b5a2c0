// The monitor window and the password dialog on their own: controls and their ids, what starts
// disabled, the keys, the lamps and the password gate. Against the simulator: monitor_sim_test.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <map>
#include <set>

#include "app/modal_driver.h"
#include "core/link/inverter_com.h"
#include "core/monitor/monitor_engine.h"
#include "core/monitor/register_display.h"
#include "support/fake_clock.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"
#include "ui/monitor/lamp_icons.h"
#include "ui/monitor/monitor_dlg.h"
#include "ui/monitor/monitor_gate.h"
#include "ui/monitor/pass_word_dlg.h"

namespace pyranex::ui {
namespace {

// A monitor window over an engine whose link is not open: nothing goes out, nothing comes in.
struct Window {
  test::QueueSink sink;
  test::FakeClock clock;
  test::RecordingNotifier notifier;
  CInverterCom link{LinkContext{sink, clock, notifier, Paths{}, {}}};
  MonitorEngine engine;
  CMonitorDlg dialog;
  explicit Window(bool fullAccess)
      : engine(MonitorServices{link, notifier, nullptr, &dialog, fullAccess, {}}), dialog(engine) {}

  // Plays the inverter without a line: the engine's next request is answered from `regs`.
  void Answer(const std::map<uint32_t, uint16_t>& regs) {
    for (int i = 0; i < 10 && link.m_exchangeState.load() == ExchangeIdle; ++i) {
      engine.MonitorTick();
    }
    const uint32_t first = link.m_firstRegister.load();
    for (uint32_t k = 0; k < link.m_expectedValues.load(); ++k) {
      const auto it = regs.find(first + k);
      engine.HandleRegisterValue(it == regs.end() ? 0 : it->second);
    }
  }
};

enum class Kind { Display, Edit, Check, Button, Combo, List, Lamp };

bool IsKind(QWidget* w, Kind kind) {
  auto* edit = qobject_cast<QLineEdit*>(w);
  switch (kind) {
    case Kind::Display:
      return edit != nullptr && edit->isReadOnly();
    case Kind::Edit:
      return edit != nullptr && !edit->isReadOnly();
    case Kind::Check:
      return qobject_cast<QCheckBox*>(w) != nullptr;
    case Kind::Button:
      return qobject_cast<QPushButton*>(w) != nullptr;
    case Kind::Combo:
      return qobject_cast<QComboBox*>(w) != nullptr;
    case Kind::List:
      return qobject_cast<QListWidget*>(w) != nullptr;
    case Kind::Lamp:
      return qobject_cast<QLabel*>(w) != nullptr;
  }
  return false;
}

TEST(MonitorDlg, EveryControlByIdWithItsKindAndLabel) {
  Window w(true);
  // Displays and edit fields of every register the window shows.
  for (const RegisterPlace& place : RegisterPlaces()) {
    SCOPED_TRACE(place.registerNumber);
    EXPECT_TRUE(IsKind(w.dialog.Control(place.display), Kind::Display));
    if (place.edit != 0) {
      EXPECT_TRUE(IsKind(w.dialog.Control(place.edit), Kind::Edit));
    }
  }
  const std::pair<int, Kind> others[] = {
      {1082, Kind::Display}, {1083, Kind::Display}, {1098, Kind::Display}, {1099, Kind::Display},
      {1156, Kind::Display}, {1111, Kind::Edit},    {1096, Kind::Combo},   {1180, Kind::Combo},
      {1110, Kind::List},    {1173, Kind::Lamp},    {1157, Kind::Check},   {1158, Kind::Check},
      {1175, Kind::Check},   {1181, Kind::Check},   {1000, Kind::Button},  {1001, Kind::Button},
      {1002, Kind::Button},  {1009, Kind::Button},  {1010, Kind::Button},  {2, Kind::Button}};
  for (const auto& [id, kind] : others) EXPECT_TRUE(IsKind(w.dialog.Control(id), kind)) << id;

  QStringList labels;
  for (const QLabel* label : w.dialog.findChildren<QLabel*>()) labels << label->text();
  for (const RegisterPlace& place : RegisterPlaces()) {
    EXPECT_TRUE(labels.contains(QString::fromStdString(std::string(place.label)))) << place.label;
  }
  for (const char* text : {"Is max", "Is min", "SN1", "Current fault:", "Standard", "DCI1(mA)",
                           "Note:The frist unit of grid parameter time should be zero"}) {
    EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
  }
  EXPECT_EQ(w.dialog.windowTitle(), "Parameter setting and monitor");
  EXPECT_FALSE(w.dialog.Control(1010)->isVisible());
  EXPECT_TRUE(w.dialog.ControlAs<QPushButton>(1010)->isDefault());

  auto* standards = w.dialog.ControlAs<QComboBox>(1096);
  ASSERT_EQ(standards->count(), 14);
  EXPECT_EQ(standards->itemText(2), "VDE-NEW");
  EXPECT_EQ(standards->itemText(13), "Germany");
  auto* sites = w.dialog.ControlAs<QComboBox>(1180);
  const QStringList sorted = {"Revadir", "VozarOdiz", "Varizava", "Vuzozov"};
  for (int i = 0; i < sites->count(); ++i) EXPECT_EQ(sites->itemText(i), sorted.value(i));
}

TEST(MonitorDlg, StartsWithTheTemplatesDisabledControlsAndStdModbusStaysOff) {
  Window w(true);
  const std::set<int> disabled = {1000, 1001, 1002, 1157, 1158, 1175, 1180, 1181, 1183};
  for (QWidget* control : w.dialog.findChildren<QWidget*>()) {
    bool ok = false;
    const int id = control->objectName().toInt(&ok);
    if (!ok || id == 201) continue;
    EXPECT_EQ(control->isEnabled(), !disabled.count(id)) << id;
  }
  w.dialog.EnableControl(1181, true);
  EXPECT_FALSE(w.dialog.Control(1181)->isEnabled());
  // Dialog initialisation with full access enables the six command controls.
  w.dialog.show();
  for (int id : {1000, 1001, 1002, 1157, 1158, 1175}) {
    EXPECT_TRUE(w.dialog.Control(id)->isEnabled()) << id;
  }
  EXPECT_EQ(w.dialog.ControlAs<QLineEdit>(1100)->text(), "150");  // the defaults are shown
}

TEST(MonitorDlg, EnterConvertsTheSerialEntryEscapeKeepsItOpenCancelAndCloseEndIt) {
  Window w(false);
  w.dialog.show();
  auto* entry = w.dialog.ControlAs<QLineEdit>(1111);
  entry->setText(QStringLiteral("312345678901"));
  EXPECT_EQ(w.engine.Text(1111), "312345678901");  // typing reaches the engine
  QTest::keyClick(w.dialog.Control(1100), Qt::Key_Return);
  EXPECT_EQ(w.dialog.ControlAs<QComboBox>(1180)->currentIndex(), 2);  // site from the first digit
  QTest::keyClick(w.dialog.Control(1100), Qt::Key_Escape);
  QTest::keyClick(&w.dialog, Qt::Key_Escape);
  EXPECT_TRUE(w.dialog.isVisible());
  // A standard the (missing) workbook has no values for is reported; the fields stay.
  auto* standards = w.dialog.ControlAs<QComboBox>(1096);
  standards->setCurrentIndex(2);
  Q_EMIT standards->activated(2);
  ASSERT_EQ(w.notifier.Count(), 1u);
  const std::string warning =
      "VDE-NEW: no values in datacfg.xls (no workbook); the parameter fields keep their values. "
      "\"Set all parameter\" sends nothing until each is typed or another standard is chosen.";
  EXPECT_EQ(w.notifier.Notices()[0].text, warning);
  EXPECT_EQ(w.notifier.Notices()[0].caption, "Standard - Quorvane");
  EXPECT_EQ(w.dialog.StatusLine()->text().toStdString(), warning);
  EXPECT_EQ(w.dialog.ControlAs<QLineEdit>(1100)->text(), "150");
  w.dialog.ControlAs<QPushButton>(2)->click();
  EXPECT_FALSE(w.dialog.isVisible());
  EXPECT_EQ(w.dialog.result(), QDialog::Rejected);
  w.dialog.show();
  EXPECT_TRUE(w.dialog.close());
  EXPECT_FALSE(w.dialog.isVisible());
}

TEST(MonitorDlg, SetAllBeforeAnythingWasReadNamesTheFieldAndSendsNothing) {
  Window w(true);
  w.dialog.show();
  w.dialog.activateWindow();
  w.dialog.ControlAs<QPushButton>(1000)->click();
  ASSERT_EQ(w.notifier.Count(), 1u);
  EXPECT_EQ(w.notifier.Notices()[0].caption, "Vpv-start(V) - Quorvane");
  EXPECT_EQ(w.notifier.Notices()[0].text,
            "No value of this field has been read from the inverter, typed or chosen yet.\n"
            "Nothing was sent.");
  EXPECT_EQ(w.dialog.focusWidget(), w.dialog.Control(1100));
  EXPECT_EQ(w.engine.RequestedMode(), ModeRead);
  EXPECT_TRUE(w.dialog.Control(1000)->isEnabled());
  EXPECT_EQ(w.dialog.StatusLine()->text(),
            "Set all parameter: nothing was sent; Vpv-start(V) holds no value read, typed or "
            "chosen.");
}

TEST(MonitorDlg, ACheckBoxClickWhileACommandIsPendingIsRefusedVisibly) {
  Window w(true);
  w.dialog.show();
  const std::map<uint32_t, uint16_t> regs = {{74, 1}, {357, 0}};
  w.Answer(regs);  // the opening broadcast
  while (w.engine.ReadStep() != 2) w.Answer(regs);
  // The read of the island switch is on its way when "Clear kwh" is clicked.
  for (int i = 0; i < 10 && w.link.m_exchangeState.load() == ExchangeIdle; ++i) {
    w.engine.MonitorTick();
  }
  w.dialog.ControlAs<QPushButton>(1002)->click();
  w.Answer(regs);
  auto* island = w.dialog.ControlAs<QCheckBox>(1175);
  EXPECT_TRUE(island->isChecked());
  EXPECT_FALSE(island->isEnabled());  // every command control waits for "Clear kwh"
  QTest::mouseClick(island, Qt::LeftButton);
  EXPECT_TRUE(island->isChecked());
  // A click that reaches a box all the same is put back, and the status line says why.
  auto* gfci = w.dialog.ControlAs<QCheckBox>(1157);
  gfci->setEnabled(true);
  const bool before = gfci->isChecked();
  QTest::mouseClick(gfci, Qt::LeftButton);
  EXPECT_EQ(gfci->isChecked(), before);
  EXPECT_EQ(w.dialog.StatusLine()->text(),
            "GFCI function: not switched; Clear kwh is still under way.");
  EXPECT_EQ(w.engine.RequestedMode(), ModeClearKwh);
}

TEST(MonitorDlg, StateLampsAreRoundInTheirColours) {
  struct Case {
    int icon;
    const char* text;
    bool red, green, blue;  // which channels dominate the lamp's middle
  };
  const Case cases[] = {{139, "Inverting", false, true, false},
                        {140, "Waiting", true, true, true},
                        {141, "Fault", true, false, false},
                        {142, "Warning", true, true, false}};
  Window w(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.icon);
    for (int size : {32, 16}) {
      const QImage image = LampPixmap(c.icon, size).toImage();
      ASSERT_EQ(image.size(), QSize(size, size));
      EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);  // round, not square
      const QColor middle = image.pixelColor(size / 2, size / 2);
      const int high = std::max({middle.red(), middle.green(), middle.blue()});
      EXPECT_EQ(middle.red() > high - 60, c.red);
      EXPECT_EQ(middle.green() > high - 60, c.green);
      EXPECT_EQ(middle.blue() > high - 60, c.blue);
    }
    w.dialog.ShowState(c.text, c.icon);
    EXPECT_EQ(w.dialog.ControlAs<QLineEdit>(1156)->text(), c.text);
    EXPECT_EQ(w.dialog.Control(1173)->property("lampIcon").toInt(), c.icon);
  }
}

TEST(PassWordDlg, TemplateAndWhatEachAnswerGrants) {
  test::RecordingNotifier notifier;
  {
    CPassWordDlg dialog(notifier);
    EXPECT_EQ(dialog.windowTitle(), "Need password to modify the par.");
    EXPECT_EQ(dialog.PasswordEdit().objectName(), "1002");
    EXPECT_EQ(dialog.PasswordEdit().echoMode(), QLineEdit::Password);
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), QString::fromUtf8("Password："));
  }
  struct Case {
    const char* typed;  // null: Cancel
    std::optional<bool> access;
  };
  const Case cases[] = {{"HQDWZEMAXL", true},
                        {"hqdwzemaxl", false},
                        {"HQDWZEMAXL ", false},
                        {"", false},
                        {nullptr, std::nullopt}};
  CMonitorGate gate(notifier, nullptr, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed ? c.typed : "(Cancel)");
    test::ModalDriver driver([&](QWidget& modal) {
      auto* ask = qobject_cast<CPassWordDlg*>(&modal);
      if (ask == nullptr) return;
      if (c.typed == nullptr) {
        ask->findChild<QPushButton*>(QStringLiteral("2"))->click();
        return;
      }
      ask->PasswordEdit().setText(QString::fromUtf8(c.typed));
      ask->findChild<QPushButton*>(QStringLiteral("1"))->click();
    });
    EXPECT_EQ(gate.AskPassword(), c.access);
  }
  EXPECT_EQ(notifier.Count(), 0u);
}

}  // namespace
}  // namespace pyranex::ui
