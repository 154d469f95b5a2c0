#pragma once

#include <QDialog>
#include <optional>
#include <utility>

#include "core/platform/clock.h"
#include "core/platform/notifier.h"

class QLineEdit;

namespace pyranex::ui {

class DataExchange;

// "Time span": the part of the day the power curve shows, as clock times From … To. The caller
// fills the fields before exec() and reads them after QDialog::Accepted; each field has passed
// its range check (hours 0..23, minutes 0..59). Whether From is before To is the caller's test.
class CAxisSetDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CAxisSetDlg(Notifier& notifier, QWidget* parent = nullptr);

  int m_fromHour = 0;
  int m_fromMin = 0;
  int m_toHour = 0;
  int m_toMin = 0;

  void DoDataExchange(DataExchange& dx);
  QLineEdit& FromHourEdit() { return *m_fromHourEdit; }
  QLineEdit& FromMinEdit() { return *m_fromMinEdit; }
  QLineEdit& ToHourEdit() { return *m_toHourEdit; }
  QLineEdit& ToMinEdit() { return *m_toMinEdit; }

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  Notifier& m_notifier;
  QLineEdit* m_fromHourEdit = nullptr;
  QLineEdit* m_toHourEdit = nullptr;
  QLineEdit* m_fromMinEdit = nullptr;
  QLineEdit* m_toMinEdit = nullptr;
};

// Shows the dialog preset to a chart's window [xStart, xEnd] (minutes after startTime) and gives
// the window of the span chosen; nothing on Cancel or when From is not before To.
std::optional<std::pair<double, double>> AskChartWindow(int64_t startTime, double xStart,
                                                        double xEnd, Notifier& notifier,
                                                        const Clock& clock, QWidget* parent);

}  // namespace pyranex::ui
