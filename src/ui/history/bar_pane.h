#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>
#include <vector>

#include "core/chart/geometry.h"

namespace pyranex::ui {

// Energy as bars over the part of the background picture under the pane, drawn like the
// power curve: black axes with an arrow and a caption, the bars red and translucent. One slot
// per period; a click on a bar reports its slot.
class CBarPane final : public QWidget {
  Q_OBJECT
 public:
  explicit CBarPane(QWidget* parent = nullptr);

  // Values (NaN: no bar) with a label under each slot; the value axis goes from 0 to yMax.
  void SetBars(std::vector<double> values, QStringList labels, double yMax, QString caption);

  const std::vector<double>& Values() const { return values_; }
  double YMax() const { return yMax_; }
  chart::Rect PlotRect() const;
  // Client x of the middle of slot i (for tests and the cursor of a mouse).
  QPoint SlotPoint(size_t i) const;

 Q_SIGNALS:
  void barClicked(int slot);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage background_;
  std::vector<double> values_;
  QStringList labels_;
  double yMax_ = 1.0;
  QString caption_;
};

}  // namespace pyranex::ui
