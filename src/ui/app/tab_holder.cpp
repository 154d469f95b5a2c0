#include "ui/app/tab_holder.h"

namespace pyranex::ui {

CTabHolder::CTabHolder(QWidget* parent) : QTabWidget(parent) {
  setObjectName(QStringLiteral("0xE900"));
  setDocumentMode(false);
}

QWidget* CTabHolder::AddView(const QString& title, int index, QWidget* view) {
  if (view == nullptr || index != count()) return nullptr;
  view->setObjectName(QStringLiteral("0x%1")
                          .arg(0xE900 + index, 0, 16)
                          .toUpper()
                          .replace(QStringLiteral("0X"), QStringLiteral("0x")));
  insertTab(index, view, title);
  return view;
}

void CTabHolder::SelectView(int index) {
  setCurrentIndex(index);
}

QWidget* CTabHolder::View(int index) const {
  return widget(index);
}

}  // namespace pyranex::ui
