// The floor for the window's start-up: a minimal Qt Widgets main window of the same size with a
// menu, a tool bar, two tabs and a status bar, and nothing else. bench_startup_map times how
// long it takes from process start to its mapped window, beside the program's own.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Floor"));
  window.setFixedSize(1000, 700);
  for (const char* name : {"File", "View", "Setting", "Function", "Help"}) {
    QMenu* menu = window.menuBar()->addMenu(QString::fromLatin1(name));
    menu->addAction(QStringLiteral("Item"));
  }
  QToolBar* tools = window.addToolBar(QStringLiteral("Toolbar"));
  for (const char* name : {"Com", "Par", "Save data", "XScope", "Postion", "Tracking"}) {
    tools->addAction(QString::fromLatin1(name));
  }
  auto* tabs = new QTabWidget(&window);
  tabs->addTab(new QLabel(QStringLiteral("first")), QStringLiteral("Power view"));
  tabs->addTab(new QLabel(QStringLiteral("second")), QStringLiteral("System view"));
  window.setCentralWidget(tabs);
  window.statusBar()->showMessage(QStringLiteral("Ready"));
  window.show();
  return QApplication::exec();
}
