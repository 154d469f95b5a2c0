#include "ui/dialogs/axis_set_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "core/chart/time_span.h"
#include "ui/dialogs/data_exchange.h"
#include "ui/dialogs/dialog_layout.h"

namespace pyranex::ui {
namespace {

QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int width, int height) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  PlaceInDialogUnits(*edit, x, y, width, height);
  return edit;
}

void MakeLabel(QWidget* parent, const char* text, int x, int y, int width) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  PlaceInDialogUnits(*label, x, y, width, 9);
}

}  // namespace

CAxisSetDlg::CAxisSetDlg(Notifier& notifier, QWidget* parent)
    : QDialog(parent), m_notifier(notifier) {
  setWindowTitle(QStringLiteral("Time span"));
  SetDialogUnitsSize(*this, 316, 110);

  MakeLabel(this, "Absolute Time", 7, 7, 80);
  MakeLabel(this, "From:", 16, 25, 28);
  MakeLabel(this, "To:", 17, 51, 28);
  MakeLabel(this, "Hour", 50, 26, 22);
  MakeLabel(this, "Hour", 49, 52, 22);
  MakeLabel(this, "Min", 116, 25, 20);
  MakeLabel(this, "Min", 116, 52, 20);
  m_fromHourEdit = MakeEdit(this, "edit1002", 74, 23, 34, 17);
  m_fromMinEdit = MakeEdit(this, "edit1004", 138, 22, 34, 17);
  m_toHourEdit = MakeEdit(this, "edit1003", 72, 49, 37, 17);
  m_toMinEdit = MakeEdit(this, "edit1005", 138, 48, 34, 17);
  // The names the prompts give the fields.
  m_fromHourEdit->setAccessibleName(QStringLiteral("From hour"));
  m_fromMinEdit->setAccessibleName(QStringLiteral("From minute"));
  m_toHourEdit->setAccessibleName(QStringLiteral("To hour"));
  m_toMinEdit->setAccessibleName(QStringLiteral("To minute"));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  PlaceInDialogUnits(*ok, 205, 89, 50, 14);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  PlaceInDialogUnits(*cancel, 259, 89, 50, 14);
  connect(ok, &QPushButton::clicked, this, &CAxisSetDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CAxisSetDlg::reject);

  setTabOrder(m_fromHourEdit, m_fromMinEdit);
  setTabOrder(m_fromMinEdit, m_toHourEdit);
  setTabOrder(m_toHourEdit, m_toMinEdit);
  setTabOrder(m_toMinEdit, ok);
  setTabOrder(ok, cancel);
}

void CAxisSetDlg::DoDataExchange(DataExchange& dx) {
  dx.Int(*m_fromHourEdit, m_fromHour, 0, 23);
  dx.Int(*m_toHourEdit, m_toHour, 0, 23);
  dx.Int(*m_fromMinEdit, m_fromMin, 0, 59);
  dx.Int(*m_toMinEdit, m_toMin, 0, 59);
}

void CAxisSetDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  UpdateData(false, m_notifier, [this](DataExchange& dx) { DoDataExchange(dx); });
  m_fromHourEdit->setFocus();
  m_fromHourEdit->selectAll();
}

void CAxisSetDlg::accept() {
  if (UpdateData(true, m_notifier, [this](DataExchange& dx) { DoDataExchange(dx); })) {
    QDialog::accept();
  }
}

std::optional<std::pair<double, double>> AskChartWindow(int64_t startTime, double xStart,
                                                        double xEnd, Notifier& notifier,
                                                        const Clock& clock, QWidget* parent) {
  const chart::TimeSpan shown = chart::TimeSpanForWindow(startTime, xStart, xEnd, clock);
  CAxisSetDlg dialog(notifier, parent);
  dialog.m_fromHour = shown.fromHour;
  dialog.m_fromMin = shown.fromMin;
  dialog.m_toHour = shown.toHour;
  dialog.m_toMin = shown.toMin;
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const chart::TimeSpan chosen{dialog.m_fromHour, dialog.m_fromMin, dialog.m_toHour,
                               dialog.m_toMin};
  return chart::WindowForTimeSpan(startTime, chosen, clock);
}

}  // namespace pyranex::ui
