#pragma once

#include <QDialog>

#include "core/platform/notifier.h"

class QLineEdit;
class QRadioButton;

namespace pyranex::ui {

class DataExchange;

// "Data Options for Export": the clock-time range and the sampling of an export.
class CExportSetDlg final : public QDialog {
  Q_OBJECT
 public:
  explicit CExportSetDlg(Notifier& notifier, QWidget* parent = nullptr);

  int m_fromHour = 0;
  int m_fromMin = 0;
  int m_toHour = 0;
  int m_toMin = 0;
  int m_sampling = 0;  // 0 "Max Points", 1 "1Min", 2 "5Min", 3 "10Min"

  QLineEdit& Edit(int index) { return *edits_[index]; }  // from hour, from min, to hour, to min
  QRadioButton& Sampling(int index) { return *sampling_[index]; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Exchange(DataExchange& dx);

  Notifier& notifier_;
  QLineEdit* edits_[4] = {};
  QRadioButton* sampling_[4] = {};
};

}  // namespace pyranex::ui
