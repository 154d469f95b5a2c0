#include "ui/monitor/monitor_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "core/chart/dialog_units.h"
#include "core/monitor/monitor_engine.h"
#include "core/monitor/register_display.h"
#include "core/workbook/config_workbook.h"
#include "ui/monitor/lamp_icons.h"

namespace pyranex::ui {
namespace {

constexpr int kCancel = 2;
constexpr int kDciDisplay = 1080;

// "Real time data" in three columns: the grid side with the sample values, the energy and
// running times with "Is max", the inverter's inside with "Is min".
struct Reading {
  const char* label;
  int id;
};
constexpr Reading kRealTime[] = {
    {"DC voltage 1(V)", 1070},      {"AC Voltage1(V)", 1071},  {"AC frequency(Hz)", 1072},
    {"AC power(W)", 1073},          {"Is sample value", 1081}, {"ISO sample value", 1174},
    {"Today(kWh)", 1074},           {"Total(kWh)", 1075},      {"Today run time(min)", 1076},
    {"Total run time(h)", 1077},    {"Is max", ctl::kIsMax},   {"Temperature(°C)", 1078},
    {"Current zero shift 1", 1079}, {"B_CPU_AC_U", 1159},      {"A_CPU_BUS_U", 1160},
    {"Is min", ctl::kIsMin}};
constexpr int kRealTimeColumnEnds[] = {6, 11, 16};

// "Grid parameter": each trip limit beside the time it must last, by register.
constexpr std::pair<uint32_t, uint32_t> kTripRows[] = {{48, 50}, {49, 51}, {52, 54}, {53, 55},
                                                       {56, 58}, {57, 59}, {60, 62}, {61, 63}};
// "Index revise": offset and gain of each sensor, by register.
constexpr uint32_t kFirstCalibration = 341;
constexpr uint32_t kLastCalibration = 356;
constexpr uint32_t kEquipmentRegisters[] = {46, 47, 66, 67};
constexpr uint32_t kDciRegisters[] = {64, 65};
constexpr uint32_t kFullPowerRegister = 81;
constexpr uint32_t kAddressRegister = 361;

constexpr int kValueWidth = 64;    // room for "6552.6" and "600000"
constexpr int kSerialWidth = 104;  // twelve digits

QString FromEngine(int id, const std::string& text) {
  // The standard name shows the register bytes as character codes 0..255.
  if (id == ctl::kStandardDisplay) return QString::fromLatin1(text.data(), qsizetype(text.size()));
  return QString::fromStdString(text);
}

QLabel* NewLabel(const QString& text) {
  auto* label = new QLabel(text);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

const RegisterPlace& Place(uint32_t reg) {
  return *FindRegisterPlace(reg);
}

QString LabelOf(const RegisterPlace& place) {
  return QString::fromUtf8(place.label.data(), qsizetype(place.label.size()));
}

}  // namespace

CMonitorDlg::CMonitorDlg(MonitorEngine& engine, Notifier& notifier, const CConfigWorkbook* workbook,
                         QWidget* parent)
    : QDialog(parent), m_engine(engine), m_notifier(notifier), m_workbook(workbook) {
  setObjectName(QStringLiteral("201"));
  setWindowTitle(QStringLiteral("Parameter setting and monitor"));
  QFont dialogFont = font();
  dialogFont.setPointSize(8);
  setFont(dialogFont);
  CreateControls();
  const chart::Rect design = chart::DialogUnitsToPixels(0, 0, 732, 433);
  resize(std::max(design.Width(), minimumSizeHint().width()),
         std::max(design.Height(), minimumSizeHint().height()));
  ShowEngineState();
}

CMonitorDlg::~CMonitorDlg() {
  qApp->removeEventFilter(this);
}

QWidget* CMonitorDlg::Control(int id) const {
  const auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

void CMonitorDlg::Register(int id, QWidget* widget) {
  widget->setObjectName(QString::number(id));
  m_controls[id] = widget;
}

QLineEdit* CMonitorDlg::Display(int id) {
  auto* edit = new QLineEdit;
  edit->setReadOnly(true);
  edit->setFocusPolicy(Qt::ClickFocus);
  // Read-only values sit on the window colour, the editable ones on white, so the inverter's
  // column and the technician's are told apart at a glance.
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  edit->setPalette(palette);
  edit->setMinimumWidth(kValueWidth);
  Register(id, edit);
  return edit;
}

QLineEdit* CMonitorDlg::Edit(int id) {
  auto* edit = new QLineEdit;
  edit->setMinimumWidth(kValueWidth);
  Register(id, edit);
  connect(edit, &QLineEdit::textChanged, this, [this, id](const QString& text) {
    if (m_showing == 0) m_engine.SetControlText(id, text.toStdString());
  });
  return edit;
}

QCheckBox* CMonitorDlg::Check(int id, const QString& text) {
  auto* box = new QCheckBox(text);
  Register(id, box);
  return box;
}

QPushButton* CMonitorDlg::Button(int id, const QString& text) {
  auto* button = new QPushButton(text);
  button->setAutoDefault(false);
  Register(id, button);
  return button;
}

void CMonitorDlg::AddRow(QGridLayout& grid, int row, int column, const QString& label, int display,
                         int edit) {
  grid.addWidget(NewLabel(label), row, column);
  grid.addWidget(Display(display), row, column + 1);
  if (edit != 0) grid.addWidget(Edit(edit), row, column + 2);
}

void CMonitorDlg::CreateControls() {
  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(10, 8, 10, 8);
  top->setSpacing(6);

  // --- live values on the left, identity, state and faults on the right ----------------------
  auto* upper = new QHBoxLayout;
  top->addLayout(upper);
  auto* realTime = new QGroupBox(QStringLiteral("Real time data"));
  auto* realGrid = new QGridLayout(realTime);
  realGrid->setHorizontalSpacing(8);
  int first = 0;
  for (size_t c = 0; c < std::size(kRealTimeColumnEnds); ++c) {
    for (int i = first; i < kRealTimeColumnEnds[c]; ++i) {
      AddRow(*realGrid, i - first, static_cast<int>(c) * 2, QString::fromUtf8(kRealTime[i].label),
             kRealTime[i].id, 0);
    }
    first = kRealTimeColumnEnds[c];
  }
  realGrid->setRowStretch(6, 1);
  upper->addWidget(realTime, 3);

  auto* identity = new QWidget;
  auto* idGrid = new QGridLayout(identity);
  idGrid->setContentsMargins(4, 6, 0, 0);
  AddRow(*idGrid, 0, 0, LabelOf(Place(44)), 1084, 0);
  AddRow(*idGrid, 1, 0, LabelOf(Place(45)), 1085, 0);
  AddRow(*idGrid, 2, 0, QStringLiteral("SN1"), ctl::kSerialDisplay, 0);
  Control(ctl::kSerialDisplay)->setMinimumWidth(kSerialWidth);
  auto* serialEntry = Edit(ctl::kSerialEntry);
  serialEntry->setMinimumWidth(kSerialWidth);
  serialEntry->setToolTip(QStringLiteral("Enter converts a 10-character serial text"));
  idGrid->addWidget(serialEntry, 3, 1);
  m_sites = new QComboBox;
  for (std::string_view site : kSiteListEntries) {
    m_sites->addItem(QString::fromLatin1(site.data(), qsizetype(site.size())));
  }
  m_sites->setCurrentIndex(-1);
  Register(ctl::kSiteList, m_sites);
  idGrid->addWidget(m_sites, 3, 2);
  auto* state = Display(ctl::kStateField);
  idGrid->addWidget(state, 0, 3);
  m_lamp = new QLabel;
  m_lamp->setFixedSize(32, 32);
  Register(ctl::kStateLamp, m_lamp);
  idGrid->addWidget(m_lamp, 1, 3, 2, 1, Qt::AlignCenter);
  idGrid->addWidget(NewLabel(QStringLiteral("Current fault:")), 4, 0, Qt::AlignTop);
  m_faults = new QListWidget;
  m_faults->setFocusPolicy(Qt::ClickFocus);
  m_faults->setMinimumHeight(60);
  Register(ctl::kFaultList, m_faults);
  idGrid->addWidget(m_faults, 4, 1, 1, 3);
  idGrid->setRowStretch(4, 1);
  upper->addWidget(identity, 2);

  // --- parameters: grid protection on the left, calibration and the rest on the right -----------
  auto* middle = new QHBoxLayout;
  top->addLayout(middle, 1);
  auto* gridGroup = new QGroupBox(QStringLiteral("Grid parameter"));
  auto* grid = new QGridLayout(gridGroup);
  grid->setHorizontalSpacing(6);
  grid->addWidget(NewLabel(QStringLiteral("Standard")), 0, 0);
  grid->addWidget(Display(ctl::kStandardDisplay), 0, 1);
  m_standards = new QComboBox;
  for (std::string_view name : kStandardListEntries) {
    m_standards->addItem(QString::fromLatin1(name.data(), qsizetype(name.size())));
  }
  m_standards->setCurrentIndex(-1);
  Register(ctl::kStandardList, m_standards);
  grid->addWidget(m_standards, 0, 2, 1, 2);
  auto* note =
      NewLabel(QStringLiteral("Note:The frist unit of grid parameter time should be zero"));
  note->setWordWrap(true);
  grid->addWidget(note, 1, 0, 1, 6);
  int row = 2;
  for (const auto& [limit, time] : kTripRows) {
    const RegisterPlace& l = Place(limit);
    const RegisterPlace& t = Place(time);
    AddRow(*grid, row, 0, LabelOf(l), l.display, l.edit);
    AddRow(*grid, row, 3, LabelOf(t), t.display, t.edit);
    ++row;
  }
  const RegisterPlace& power = Place(kFullPowerRegister);
  AddRow(*grid, row, 0, LabelOf(power), power.display, power.edit);
  grid->setRowStretch(row + 1, 1);
  grid->setColumnStretch(0, 1);
  middle->addWidget(gridGroup, 3);

  auto* right = new QVBoxLayout;
  middle->addLayout(right, 2);
  auto* revise = new QGroupBox(QStringLiteral("Index revise"));
  auto* reviseGrid = new QGridLayout(revise);
  reviseGrid->setHorizontalSpacing(6);
  for (uint32_t reg = kFirstCalibration; reg <= kLastCalibration; reg += 2) {
    const int r = static_cast<int>(reg - kFirstCalibration) / 2;
    for (uint32_t k = 0; k < 2; ++k) {
      const RegisterPlace& p = Place(reg + k);
      AddRow(*reviseGrid, r, static_cast<int>(k) * 3, LabelOf(p), p.display, p.edit);
    }
  }
  right->addWidget(revise);

  auto* lower = new QHBoxLayout;
  right->addLayout(lower);
  auto* dci = new QGroupBox(QStringLiteral("DCI"));
  auto* dciGrid = new QGridLayout(dci);
  AddRow(*dciGrid, 0, 0, QStringLiteral("DCI1(mA)"), kDciDisplay, 0);
  int dciRow = 1;
  for (uint32_t reg : kDciRegisters) {
    const RegisterPlace& p = Place(reg);
    AddRow(*dciGrid, dciRow++, 0, LabelOf(p), p.display, p.edit);
  }
  lower->addWidget(dci);
  auto* equipment = new QGroupBox(QStringLiteral("Equipment parameter"));
  auto* equipmentGrid = new QGridLayout(equipment);
  int equipmentRow = 0;
  for (uint32_t reg : kEquipmentRegisters) {
    const RegisterPlace& p = Place(reg);
    AddRow(*equipmentGrid, equipmentRow++, 0, LabelOf(p), p.display, p.edit);
  }
  lower->addWidget(equipment);
  right->addStretch(1);

  // --- commands ----------------------------------------------------------------------------------
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  top->addWidget(line);
  auto* commands = new QHBoxLayout;
  top->addLayout(commands);
  auto* buttons = new QHBoxLayout;
  auto* boxes = new QHBoxLayout;
  auto* rows = new QVBoxLayout;
  rows->addLayout(buttons);
  rows->addLayout(boxes);
  commands->addLayout(rows);
  commands->addStretch(1);
  QPushButton* setAll = Button(ctl::kSetAllParameter, QStringLiteral("Set all parameter"));
  QPushButton* autoTest = Button(ctl::kAutoTest, QStringLiteral("Equipment auto test"));
  QPushButton* clearKwh = Button(ctl::kClearKwh, QStringLiteral("Clear kwh"));
  QPushButton* defaults = Button(ctl::kDefaultParameter, QStringLiteral("Default parameter"));
  for (QPushButton* button : {setAll, autoTest, clearKwh, defaults}) buttons->addWidget(button);
  buttons->addStretch(1);
  QCheckBox* gfci = Check(ctl::kGfci, QStringLiteral("GFCI function"));
  QCheckBox* iso = Check(ctl::kIso, QStringLiteral("ISO function"));
  QCheckBox* island = Check(ctl::kIslandTest, QStringLiteral("Island test switch"));
  QCheckBox* stdModbus = Check(ctl::kStdModbus, QStringLiteral("Std. Modbus"));
  for (QCheckBox* box : {gfci, iso, island, stdModbus}) boxes->addWidget(box);
  boxes->addSpacing(16);
  const RegisterPlace& address = Place(kAddressRegister);
  boxes->addWidget(NewLabel(LabelOf(address)));
  QLineEdit* addressDisplay = Display(address.display);
  QLineEdit* addressEntry = Edit(address.edit);
  for (QLineEdit* edit : {addressDisplay, addressEntry}) {
    edit->setMaximumWidth(kValueWidth);
    boxes->addWidget(edit);
  }
  boxes->addStretch(1);
  QPushButton* cancel = Button(kCancel, QStringLiteral("Cancel"));
  commands->addWidget(cancel, 0, Qt::AlignRight | Qt::AlignVCenter);
  // The default button of the template: invisible, Enter's target.
  auto* hiddenDefault = new QPushButton(QStringLiteral("IDC_BUTTON4"), this);
  Register(ctl::kHiddenDefault, hiddenDefault);
  hiddenDefault->setDefault(true);
  hiddenDefault->hide();

  connect(setAll, &QPushButton::clicked, this, [this] { m_engine.OnSetAllParameter(); });
  connect(autoTest, &QPushButton::clicked, this, [this] { m_engine.OnAutoTest(); });
  connect(clearKwh, &QPushButton::clicked, this, [this] { m_engine.OnClearKwh(); });
  connect(defaults, &QPushButton::clicked, this, [this] { m_engine.OnDefaultParameter(); });
  connect(gfci, &QCheckBox::clicked, this, [this](bool on) { m_engine.OnGfciFunction(on); });
  connect(iso, &QCheckBox::clicked, this, [this](bool on) { m_engine.OnIsoFunction(on); });
  connect(island, &QCheckBox::clicked, this, [this](bool on) { m_engine.OnIslandTestSwitch(on); });
  connect(m_standards, &QComboBox::activated, this,
          [this](int index) { OnStandardChanged(index); });
  connect(m_sites, &QComboBox::activated, this,
          [this](int index) { m_engine.OnSiteChanged(index); });
  connect(hiddenDefault, &QPushButton::clicked, this, [this] { m_engine.ConvertSerialEntry(); });
  connect(cancel, &QPushButton::clicked, this, &CMonitorDlg::reject);
}

void CMonitorDlg::ShowEngineState() {
  for (const auto& [id, widget] : m_controls) {
    if (qobject_cast<QLineEdit*>(widget) != nullptr) {
      ShowText(id, m_engine.Text(id));
    } else if (qobject_cast<QCheckBox*>(widget) != nullptr) {
      ShowCheck(id, m_engine.IsChecked(id));
    }
    if (id != kCancel && id != ctl::kDefaultParameter && id != ctl::kHiddenDefault) {
      EnableControl(id, m_engine.IsEnabled(id));
    }
  }
  ShowFaultLines(m_engine.FaultLines());
  ShowState(m_engine.StateText(), m_engine.LampIcon());
  SelectStandard(m_engine.StandardSelection());
  SelectSite(m_engine.SiteSelection());
}

void CMonitorDlg::OnStandardChanged(int index) {
  m_engine.OnStandardChanged(index);
  if (index < 0 || index >= static_cast<int>(kStandardListEntries.size())) return;
  // The engine leaves a field as it was when the workbook has no value for it; say so when it
  // had none at all, rather than look as if the standard had been loaded.
  const int k = StandardNumber(kStandardListEntries[static_cast<size_t>(index)]);
  for (const FieldSpec& item : FieldSpecs()) {
    double value = 0;
    if (item.parameterIndex >= 0 && m_workbook != nullptr &&
        m_workbook->LookupStandardValue(k, item.parameterIndex, value) == 0) {
      return;
    }
  }
  const std::string reason =
      m_workbook == nullptr ? std::string("no workbook") : m_workbook->LastError();
  m_notifier.Show(std::string(kStandardListEntries[static_cast<size_t>(index)]) +
                      ": no values in datacfg.xls (" + reason +
                      "); the parameter fields keep their values.",
                  "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
}

void CMonitorDlg::OnInitDialog() {
  m_engine.Start();
}

void CMonitorDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  qApp->installEventFilter(this);
  if (!m_initialised) {
    m_initialised = true;
    OnInitDialog();
  }
}

void CMonitorDlg::hideEvent(QHideEvent* event) {
  qApp->removeEventFilter(this);
  QDialog::hideEvent(event);
}

bool CMonitorDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  auto* widget = qobject_cast<QWidget*>(watched);
  // Keys for this window only; an open drop-down list (its own window) keeps its keys.
  if (widget == nullptr || widget->window() != this) return QDialog::eventFilter(watched, event);
  switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      m_engine.ConvertSerialEntry();
      return true;
    case Qt::Key_Escape:
      return true;
    default:
      return QDialog::eventFilter(watched, event);
  }
}

// ---------------------------------------------------------------------------------------------
// What the engine shows

void CMonitorDlg::ShowText(int controlId, const std::string& text) {
  auto* edit = ControlAs<QLineEdit>(controlId);
  if (edit == nullptr) return;
  ++m_showing;
  edit->setText(FromEngine(controlId, text));
  edit->setCursorPosition(0);
  --m_showing;
}

void CMonitorDlg::ShowCheck(int controlId, bool checked) {
  if (auto* box = ControlAs<QCheckBox>(controlId)) box->setChecked(checked);
}

void CMonitorDlg::EnableControl(int controlId, bool enabled) {
  // "Std. Modbus" only shows the framing.
  if (controlId == ctl::kStdModbus) enabled = false;
  if (QWidget* control = Control(controlId)) control->setEnabled(enabled);
}

void CMonitorDlg::ShowFaultLines(const std::vector<std::string>& lines) {
  m_faults->clear();
  for (const std::string& line : lines) m_faults->addItem(QString::fromStdString(line));
}

void CMonitorDlg::ShowState(const std::string& text, int lampIcon) {
  ShowText(ctl::kStateField, text);
  m_lamp->setPixmap(LampPixmap(lampIcon, 32));
  m_lamp->setProperty("lampIcon", lampIcon);
}

void CMonitorDlg::SelectStandard(int index) {
  const QSignalBlocker quiet(m_standards);
  m_standards->setCurrentIndex(index);
}

void CMonitorDlg::SelectSite(int index) {
  const QSignalBlocker quiet(m_sites);
  m_sites->setCurrentIndex(index);
}

void CMonitorDlg::FocusControl(int controlId) {
  QWidget* control = Control(controlId);
  if (control == nullptr) return;
  control->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
}

}  // namespace pyranex::ui
