#pragma once

#include <QTabWidget>

namespace pyranex::ui {

// The frame's client area: one tab per view; view i is named 0xE900 + i.
class CTabHolder final : public QTabWidget {
  Q_OBJECT
 public:
  explicit CTabHolder(QWidget* parent = nullptr);
  // Appends a tab with the title and the view (index must equal the number of tabs); returns
  // the view, or null when there is none.
  QWidget* AddView(const QString& title, int index, QWidget* view);
  void SelectView(int index);
  QWidget* View(int index) const;
};

}  // namespace pyranex::ui
