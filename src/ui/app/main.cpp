// Quorvane: the window of the Pyranex inverter monitor.
#include <QApplication>

#include "ui/app/pyranex_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quorvane"));
  pyranex::ui::CPyranexApp theApp({pyranex::Paths::ForProcess(), nullptr, {}});
  if (!theApp.InitInstance()) return 1;
  return QApplication::exec();
}
