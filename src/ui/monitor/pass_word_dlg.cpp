#include "ui/monitor/pass_word_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/dialogs/data_exchange.h"
#include "ui/dialogs/dialog_layout.h"

namespace pyranex::ui {

CPassWordDlg::CPassWordDlg(Notifier& notifier, QWidget* parent)
    : QDialog(parent), m_notifier(notifier) {
  setObjectName(QStringLiteral("200"));
  setWindowTitle(QStringLiteral("Need password to modify the par."));
  SetDialogUnitsSize(*this, 316, 92);

  // The label ends in a full-width colon.
  auto* label = new QLabel(QStringLiteral("Password\uFF1A"), this);
  PlaceInDialogUnits(*label, 14, 38, 44, 12);
  m_edit = new QLineEdit(this);
  m_edit->setObjectName(QStringLiteral("1002"));
  m_edit->setEchoMode(QLineEdit::Password);
  PlaceInDialogUnits(*m_edit, 60, 36, 170, 14);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setDefault(true);
  PlaceInDialogUnits(*ok, 252, 14, 50, 14);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("2"));
  cancel->setAutoDefault(false);
  PlaceInDialogUnits(*cancel, 252, 34, 50, 14);
  connect(ok, &QPushButton::clicked, this, &CPassWordDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CPassWordDlg::reject);
  setTabOrder(m_edit, ok);
  setTabOrder(ok, cancel);
  m_edit->setFocus();
}

void CPassWordDlg::DoDataExchange(DataExchange& dx) {
  dx.Text(*m_edit, m_password);
}

void CPassWordDlg::accept() {
  if (!UpdateData(true, m_notifier, [this](DataExchange& dx) { DoDataExchange(dx); })) return;
  QDialog::accept();
}

}  // namespace pyranex::ui
