#include "ui/export/progress_dlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "ui/common/form_units.h"

namespace pyranex::ui {

CProgressDlg::CProgressDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowTitle(QStringLiteral("Save Progress"));
  setFixedSize(FormRect(0, 0, 186, 50).size());
  text_ = new QLabel(this);
  text_->setObjectName(QStringLiteral("1015"));
  text_->setGeometry(FormRect(14, 18, 158, 12));
  // The hidden default button: Enter closes the box as Esc does (keyPressEvent); the export
  // goes on.
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  ok->hide();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  Reset();
}

void CProgressDlg::keyPressEvent(QKeyEvent* event) {
  // QDialog presses only a visible default button on Enter.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CProgressDlg::SetProgress(int percent) {
  text_->setText(QStringLiteral("Save Progress is %1%").arg(percent));
  update();
}

void CProgressDlg::Reset() {
  text_->setText(QStringLiteral("Save In Progress..."));
}

QString CProgressDlg::Text() const {
  return text_->text();
}

}  // namespace pyranex::ui
