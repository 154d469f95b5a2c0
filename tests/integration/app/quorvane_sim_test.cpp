// The real window against the simulated inverter: connect through the COM dialog, watch the
// curve and the read-outs, export with "Max Points", survive a hang-up, ask before exiting.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QRadioButton>
#include <QThread>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "acquisition/sim_start.h"
#include "app/modal_driver.h"
#include "core/acquisition/readouts.h"
#include "core/chart/gauge_geometry.h"
#include "core/workbook/export_layout.h"
#include "support/recording_notifier.h"
#include "support/time_scale.h"
#include "ui/app/main_frame.h"
#include "ui/app/pyranex_app.h"
#include "ui/common/command_state.h"
#include "ui/dialogs/com_port_dlg.h"
#include "ui/export/export_set_dlg.h"
#include "ui/export/progress_dlg.h"
#include "ui/views/power_curve_view.h"
#include "ui/views/sys_note_view.h"
#include "ui/widgets/flow_pane.h"
#include "ui/widgets/my_panel.h"
#include "ui/widgets/my_text_box.h"

namespace pyranex::ui {
namespace {

namespace fs = std::filesystem;

using test::Until;

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

// Cells of sheet 0 as xlrd reads them: (row, col) -> text or repr of the number.
std::map<std::pair<int, int>, std::string> ReadWithXlrd(const fs::path& file) {
  std::map<std::pair<int, int>, std::string> cells;
  std::istringstream lines(Run("/usr/bin/python3 " XLRD_DUMP_SCRIPT " '" + file.string() + "'"));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string sheet, row, col, kind, value;
    if (!std::getline(fields, sheet, '\t') || sheet != "0") continue;
    std::getline(fields, row, '\t');
    std::getline(fields, col, '\t');
    std::getline(fields, kind, '\t');
    std::getline(fields, value);
    cells[{std::stoi(row), std::stoi(col)}] = value;
  }
  return cells;
}

TEST(QuorvaneWithSimulator, ConnectPollExportHangUpAndExit) {
  const fs::path dir = fs::temp_directory_path() / ("quorvane-sim-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "exe");
  fs::create_directories(dir / "cur");
  for (const char* name : {"1.bmp", "2.bmp", "myfile.rtf"}) {
    fs::copy_file(fs::path(PYRANEX_DATA_DIR) / name, dir / "cur" / name);
  }
  fs::copy_file(PYRANEX_DATACFG_XLS, dir / "cur" / "datacfg.xls");

  std::string error;
  auto sim =
      test::StartSimulator(dir / "exe" / "ports", 1, sim::FramingMode::Modbus, 11, {}, error);
  ASSERT_TRUE(sim) << error;

  test::RecordingNotifier notifier;
  CPyranexApp app({{dir / "exe", dir / "cur"}, &notifier, {}});
  ASSERT_TRUE(app.InitInstance());
  CMainFrame& frame = app.Frame();
  CPowerCurveView& view = frame.PowerView();
  EXPECT_EQ(notifier.Count(), 0u);  // the system text is there
  EXPECT_FALSE(frame.Action(ID_SAVE_DATA)->isEnabled());
  EXPECT_EQ(frame.IdleText(), QStringLiteral("Ready"));

  // "Com..." with the dialog answered as a user would: 1, OK.
  const fs::path exported = dir / "day export.xls";
  int comDialogs = 0;
  test::ModalDriver driver([&](QWidget& modal) {
    if (auto* com = qobject_cast<CComPortDlg*>(&modal)) {
      ++comDialogs;
      com->NumberEdit().setText(QStringLiteral("1"));
      com->accept();
    } else if (auto* options = qobject_cast<CExportSetDlg*>(&modal)) {
      options->Sampling(0).setChecked(true);
      options->accept();
    } else if (auto* saveAs = qobject_cast<QFileDialog*>(&modal)) {
      if (test::TypeFilePath(*saveAs, exported)) QMetaObject::invokeMethod(saveAs, "accept");
    }
  });
  frame.Action(ID_COM_SETTING)->trigger();
  EXPECT_EQ(comDialogs, 1);
  ASSERT_TRUE(view.PortOpen());
  EXPECT_TRUE(frame.Action(ID_SAVE_DATA)->isEnabled());

  // N live cycles: N points on the chart, the read-outs from the newest sample.
  constexpr size_t kCycles = 4;
  const DayLog& log = view.Engine().GetDayLog();
  ASSERT_TRUE(Until([&] { return log.pac.size() >= kCycles; }, 60));
  EXPECT_EQ(view.Pane().m_values.size(), log.pac.size());
  // The status bar tells the state of the link at a glance.
  EXPECT_TRUE(
      Until([&] { return frame.IdleText().startsWith("COM1: connected, Std. Modbus"); }, 10))
      << frame.IdleText().toStdString();
  const size_t k = log.pac.size() - 1;
  EXPECT_EQ(view.PowerBox().m_text, PowerText(log.pac[k]));
  EXPECT_EQ(view.EnergyBox().m_text, EnergyText(log.eToday[k], log.eTotal[k]));
  char co2[64];
  std::snprintf(co2, sizeof co2, "CO2 reduction  %3.1f Kg",
                static_cast<double>(Co2ReductionKg(log.eTotal[k])));
  EXPECT_EQ(frame.SysView().Co2Box().m_text, co2);
  EXPECT_FLOAT_EQ(view.Gauge().m_needleAngle,
                  chart::NeedleAngleFor(GaugePercent(log.pac[k], view.Engine().m_ratedPower)));
  EXPECT_GT(view.Engine().m_ratedPower, 0);

  // "Save data", "Max Points", the whole window: every sample at the start of the export.
  const size_t atExport = log.pac.size();
  frame.Action(ID_SAVE_DATA)->trigger();
  ASSERT_TRUE(Until([&] { return !view.ExportRunning(); }, 60));
  EXPECT_TRUE(frame.Action(ID_SAVE_DATA)->isEnabled());
  ASSERT_TRUE(fs::exists(exported));
  const auto cells = ReadWithXlrd(exported);
  ASSERT_FALSE(cells.empty());
  EXPECT_EQ(cells.at({0, 0}).rfind("SN: ", 0), 0u);
  for (size_t c = 0; c < kColumnTitles.size(); ++c) {
    EXPECT_EQ(cells.at({1, static_cast<int>(c)}), kColumnTitles[c]);
  }
  int lastRow = 0;
  for (const auto& [at, value] : cells) lastRow = std::max(lastRow, at.first);
  EXPECT_GE(static_cast<size_t>(lastRow - 1), atExport);  // rows 2.. hold the samples
  EXPECT_LE(static_cast<size_t>(lastRow - 1), log.pac.size());
  EXPECT_EQ(cells.count({2, 13}), 1u);  // a full first data row, up to "State 2"

  // The inverter's cable goes and comes back: the curve goes on by itself.
  const size_t beforeHangUp = log.pac.size();
  sim::FaultConfig hangUp;
  hangUp.hangUpAfterReplies = 0;
  hangUp.hangUpFor = std::chrono::milliseconds(1500);
  sim->SetFaults(hangUp);
  ASSERT_TRUE(Until([&] { return log.pac.size() >= beforeHangUp + 4; }, 90));
  EXPECT_EQ(view.Pane().m_values.size(), log.pac.size());
  bool lossReported = false;
  for (const auto& notice : notifier.Notices()) {
    lossReported = lossReported || notice.text.find("ReadFile()") != std::string::npos;
  }
  EXPECT_TRUE(lossReported);  // the hang-up did happen

  // Closing with the port open asks first; Cancel keeps polling, OK ends.
  notifier.SetAnswer(NoticeAnswer::Cancel);
  EXPECT_FALSE(frame.close());
  EXPECT_EQ(notifier.Notices().back().text, "Do you confirm to exit the monitor?");
  EXPECT_TRUE(view.PortOpen());
  notifier.SetAnswer(NoticeAnswer::Ok);
  EXPECT_TRUE(frame.close());
  EXPECT_FALSE(view.PortOpen());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pyranex::ui
