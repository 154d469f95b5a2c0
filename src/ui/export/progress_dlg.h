#pragma once

#include <QDialog>

class QLabel;

namespace pyranex::ui {

// "Save Progress": shown modally while the export thread writes.
class CProgressDlg final : public QDialog {
  Q_OBJECT
 public:
  explicit CProgressDlg(QWidget* parent = nullptr);
  // "Save Progress is <percent>%".
  void SetProgress(int percent);
  // Back to "Save In Progress..." for the next export.
  void Reset();
  QString Text() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLabel* text_ = nullptr;  // control 1015
};

}  // namespace pyranex::ui
