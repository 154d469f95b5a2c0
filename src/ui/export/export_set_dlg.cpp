#include "ui/export/export_set_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "ui/dialogs/data_exchange.h"
#include "ui/dialogs/dialog_layout.h"

namespace pyranex::ui {
namespace {

QLabel* Label(QWidget* parent, const char* text, int x, int y) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  PlaceInDialogUnits(*label, x, y, 24, 10);
  return label;
}

}  // namespace

CExportSetDlg::CExportSetDlg(Notifier& notifier, QWidget* parent)
    : QDialog(parent), notifier_(notifier) {
  setWindowTitle(QStringLiteral("Data Options for Export"));
  SetDialogUnitsSize(*this, 285, 140);

  Label(this, "From", 9, 15);
  Label(this, "To", 10, 48);
  // Edits 1002..1005: From hour, From minute, To hour, To minute.
  const int places[4][2] = {{77, 12}, {164, 12}, {77, 45}, {164, 45}};
  const char* units[4] = {"Hour", "Min.", "Hour", "Min."};
  const char* names[4] = {"From hour", "From minute", "To hour", "To minute"};  // for prompts
  for (int i = 0; i < 4; ++i) {
    edits_[i] = new QLineEdit(this);
    edits_[i]->setObjectName(QStringLiteral("edit%1").arg(1002 + i));
    edits_[i]->setAccessibleName(QString::fromLatin1(names[i]));
    PlaceInDialogUnits(*edits_[i], places[i][0], places[i][1], 40, 14);
    Label(this, units[i], places[i][0] - 28, places[i][1] + 3);
  }
  const char* samplings[4] = {"Max Points", "1Min", "5Min", "10Min"};
  const int radioPlaces[4][2] = {{14, 78}, {110, 79}, {164, 79}, {218, 78}};
  for (int i = 0; i < 4; ++i) {
    sampling_[i] = new QRadioButton(QString::fromLatin1(samplings[i]), this);
    sampling_[i]->setObjectName(QStringLiteral("radio%1").arg(1016 + i));
    PlaceInDialogUnits(*sampling_[i], radioPlaces[i][0], radioPlaces[i][1], i == 0 ? 60 : 45, 12);
  }

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  PlaceInDialogUnits(*ok, 155, 114, 50, 14);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancel"));
  PlaceInDialogUnits(*cancel, 225, 114, 50, 14);
  connect(ok, &QPushButton::clicked, this, &CExportSetDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CExportSetDlg::reject);
}

void CExportSetDlg::Exchange(DataExchange& dx) {
  dx.Int(*edits_[0], m_fromHour, 0, 23);
  dx.Int(*edits_[1], m_fromMin, 0, 59);
  dx.Int(*edits_[2], m_toHour, 0, 23);
  dx.Int(*edits_[3], m_toMin, 0, 59);
  if (!dx.IsSaving()) {
    const int index = m_sampling >= 0 && m_sampling < 4 ? m_sampling : 0;
    sampling_[index]->setChecked(true);
  } else if (dx.Ok()) {
    for (int i = 0; i < 4; ++i) {
      if (sampling_[i]->isChecked()) m_sampling = i;
    }
  }
}

void CExportSetDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous())
    UpdateData(false, notifier_, [this](DataExchange& dx) { Exchange(dx); });
  QDialog::showEvent(event);
}

void CExportSetDlg::accept() {
  if (UpdateData(true, notifier_, [this](DataExchange& dx) { Exchange(dx); })) QDialog::accept();
}

}  // namespace pyranex::ui
