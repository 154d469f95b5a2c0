#include "ui/dialogs/com_port_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

#include "core/link/com_port_path.h"
#include "ui/dialogs/data_exchange.h"
#include "ui/dialogs/dialog_layout.h"

namespace pyranex::ui {
namespace {

constexpr int kMinPort = 1;
constexpr int kMaxPort = 99;

QString EntryText(const ComPortEntry& entry) {
  return QString::fromStdString(DescribeComPort(entry));
}

}  // namespace

CComPortDlg::CComPortDlg(const Paths& paths, Notifier& notifier, QWidget* parent)
    : QDialog(parent), m_notifier(notifier) {
  setWindowTitle(QStringLiteral("Assign a serial port No."));
  // The list of ports widens the dialog to the right of its own 264 units.
  SetDialogUnitsSize(*this, 464, 81);

  auto* label = new QLabel(QStringLiteral("COM No.:"), this);
  PlaceInDialogUnits(*label, 7, 20, 40, 16);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_edit = new QLineEdit(this);
  m_edit->setObjectName(QStringLiteral("edit1002"));
  m_edit->setAccessibleName(QStringLiteral("COM No."));  // names the field in its prompts
  PlaceInDialogUnits(*m_edit, 55, 17, 66, 16);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  PlaceInDialogUnits(*ok, 138, 60, 50, 14);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancel"));
  PlaceInDialogUnits(*cancel, 207, 60, 50, 14);
  connect(ok, &QPushButton::clicked, this, &CComPortDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CComPortDlg::reject);

  auto* listLabel = new QLabel(QStringLiteral("Serial ports on this PC:"), this);
  PlaceInDialogUnits(*listLabel, 268, 7, 189, 10);
  m_ports = new QListWidget(this);
  m_ports->setObjectName(QStringLiteral("ports"));
  PlaceInDialogUnits(*m_ports, 268, 17, 189, 57);
  m_ports->setFocusPolicy(Qt::ClickFocus);
  FillPortList(paths);
  connect(m_ports, &QListWidget::itemClicked, this, &CComPortDlg::OnPortClicked);
  connect(m_ports, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    OnPortClicked(item);
    accept();
  });
  setTabOrder(m_edit, ok);
  setTabOrder(ok, cancel);
}

void CComPortDlg::FillPortList(const Paths& paths) {
  const auto entries = ListComPorts(paths.executableDir, "/dev", kMaxPort);
  for (const ComPortEntry& entry : entries) {
    auto* item = new QListWidgetItem(EntryText(entry), m_ports);
    item->setData(Qt::UserRole, entry.number);
    item->setToolTip(QString::fromStdString(entry.path.string()));
    if (!entry.present) item->setForeground(palette().color(QPalette::Disabled, QPalette::Text));
  }
  if (entries.empty()) {
    auto* item = new QListWidgetItem(QStringLiteral("No serial port found"), m_ports);
    item->setFlags(Qt::NoItemFlags);
  }
}

void CComPortDlg::OnPortClicked(QListWidgetItem* item) {
  if (item == nullptr || !item->data(Qt::UserRole).isValid()) return;
  m_edit->setText(QString::number(item->data(Qt::UserRole).toInt()));
  m_edit->setFocus();
  m_edit->selectAll();
}

void CComPortDlg::DoDataExchange(DataExchange& dx) {
  dx.Int(*m_edit, m_portNumber, kMinPort, kMaxPort);
}

void CComPortDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  UpdateData(false, m_notifier, [this](DataExchange& dx) { DoDataExchange(dx); });
  m_edit->setFocus();
  m_edit->selectAll();
}

void CComPortDlg::accept() {
  if (UpdateData(true, m_notifier, [this](DataExchange& dx) { DoDataExchange(dx); })) {
    QDialog::accept();
  }
}

}  // namespace pyranex::ui
