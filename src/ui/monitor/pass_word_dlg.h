#pragma once

#include <QDialog>
#include <string>

#include "core/platform/notifier.h"

class QLineEdit;

namespace pyranex::ui {

class DataExchange;

// "Need password to modify the par.": asks for the parameter-setting password before the
// monitor dialog opens. The text is taken as typed; the caller decides what it grants.
class CPassWordDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CPassWordDlg(Notifier& notifier, QWidget* parent = nullptr);

  // The entered text, valid when exec() returned QDialog::Accepted.
  std::string m_password;

  void DoDataExchange(DataExchange& dx);
  QLineEdit& PasswordEdit() { return *m_edit; }

  void accept() override;

 private:
  Notifier& m_notifier;
  QLineEdit* m_edit = nullptr;
};

}  // namespace pyranex::ui
