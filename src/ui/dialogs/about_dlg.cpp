#include "ui/dialogs/about_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "ui/dialogs/dialog_layout.h"

#ifndef PYRANEX_VERSION
#define PYRANEX_VERSION "0"
#endif

namespace pyranex::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Quorvane"));
  SetDialogUnitsSize(*this, 235, 55);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  PlaceInDialogUnits(*icon, 11, 14, 21, 20);
  const QIcon appIcon = QApplication::windowIcon();
  if (!appIcon.isNull()) icon->setPixmap(appIcon.pixmap(icon->size()));

  auto* name =
      new QLabel(QStringLiteral("Quorvane, Version %1").arg(QStringLiteral(PYRANEX_VERSION)), this);
  name->setObjectName(QStringLiteral("name"));
  PlaceInDialogUnits(*name, 40, 10, 130, 9);
  auto* what = new QLabel(QStringLiteral("Monitor for a PV inverter"), this);
  PlaceInDialogUnits(*what, 40, 22, 135, 9);
  auto* copyright = new QLabel(QStringLiteral("Copyright (C) 2026 Pyranex"), this);
  PlaceInDialogUnits(*copyright, 40, 34, 135, 9);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  PlaceInDialogUnits(*ok, 178, 7, 50, 14);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace pyranex::ui
