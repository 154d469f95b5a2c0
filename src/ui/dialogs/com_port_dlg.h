#pragma once

#include <QDialog>

#include "core/platform/notifier.h"
#include "core/platform/paths.h"

class QLineEdit;
class QListWidget;
class QListWidgetItem;

namespace pyranex::ui {

class DataExchange;

// "Assign a serial port No.": the COM number to open, 1..99, preset to 1 every time. Beside the
// number, a list of what each COM number is on this machine; clicking an entry fills the number,
// a double click also confirms.
class CComPortDlg final : public QDialog {
  Q_OBJECT

 public:
  CComPortDlg(const Paths& paths, Notifier& notifier, QWidget* parent = nullptr);

  // Valid (1..99) when exec() returned QDialog::Accepted.
  int m_portNumber = 1;

  void DoDataExchange(DataExchange& dx);
  QLineEdit& NumberEdit() { return *m_edit; }
  QListWidget& PortList() { return *m_ports; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FillPortList(const Paths& paths);
  void OnPortClicked(QListWidgetItem* item);

  Notifier& m_notifier;
  QLineEdit* m_edit = nullptr;
  QListWidget* m_ports = nullptr;
};

}  // namespace pyranex::ui
