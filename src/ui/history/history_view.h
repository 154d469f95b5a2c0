#pragma once

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "core/acquisition/live_record.h"
#include "core/history/history_database.h"
#include "core/history/history_import.h"
#include "core/history/periods.h"
#include "core/platform/clock.h"
#include "core/platform/notifier.h"
#include "core/platform/paths.h"
#include "core/workbook/workbook_export.h"
#include "ui/platform/qt_message_sink.h"

class QComboBox;
class QLabel;
class QProgressDialog;
class QPushButton;

namespace pyranex::ui {

class CBarPane;
class CFlowPane;
class CMyTextBox;
class CProgressDlg;

// The "History" tab: a past day's power curve in the chart pane of the live view, and the
// energy of the days of a month, the months of a year and the years as bars, read from the
// history store. Over the same background picture, with the same translucent text box.
class CHistoryView final : public QWidget {
  Q_OBJECT
 public:
  enum class Level { Day, Month, Year, Lifetime };
  struct Services {
    Clock& clock;
    Notifier& notifier;
    Paths paths;
    std::filesystem::path storeFile;
  };
  explicit CHistoryView(Services services, QWidget* parent = nullptr);
  ~CHistoryView() override;

  // What is shown: a local day number, a month index (year * 12 + month - 1), a year.
  void ShowDay(int64_t day);
  void ShowMonth(int monthIndex);
  void ShowYear(int year);
  void ShowLifetime();
  void OnPrevious();
  void OnNext();
  void OnCalendar();
  // The day chart's "Postion" and "XScope", as on the live chart.
  void OnPosition();
  void OnXScope();
  bool CursorShown() const;
  bool ShowsDay() const { return level_ == Level::Day; }
  // The shown period: as a workbook (a day through "Data Options for Export", a longer period
  // as its table of totals) or as CSV.
  void OnExportXls();
  void OnExportCsv();
  // "Import history workbooks...": asks for a folder, then imports it with a progress bar.
  void OnImport();
  void Import(std::vector<std::filesystem::path> inputs);
  bool ImportRunning() const { return importThread_.joinable(); }
  // The store has new records (the recorder committed, an import ended): read it again when
  // they concern what is shown.
  void OnStoreChanged();

  Level CurrentLevel() const { return level_; }
  int64_t CurrentKey() const { return key_; }
  QString Title() const;
  QString SummaryText() const;
  CFlowPane& Pane() { return *pane_; }
  CBarPane& Bars() { return *bars_; }
  const std::vector<LiveRecord>& DayRecords() const { return dayRecords_; }

 Q_SIGNALS:
  void commandStateChanged();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  bool EnsureDatabase();
  void LoadInverters();
  void Load();
  void LoadDay();
  void LoadBars();
  void OnBarClicked(int slot);
  void OnImportProgress(size_t done, size_t total);
  void OnImportDone(const history::ImportReport& report);
  int64_t Today() const;
  int64_t InverterId() const;

  Services services_;
  QtMessageSink sink_;
  QImage background_;
  std::unique_ptr<history::HistoryDatabase> db_;
  std::vector<history::InverterInfo> inverters_;
  Level level_ = Level::Day;
  int64_t key_ = 0;
  int firstYear_ = 0;  // lifetime: the year of the first slot
  std::vector<LiveRecord> dayRecords_;
  std::vector<history::PeriodTotals> slots_;
  history::PeriodTotals shownTotals_;
  bool stale_ = true;

  QPushButton* previous_ = nullptr;
  QPushButton* next_ = nullptr;
  QLabel* title_ = nullptr;
  QPushButton* levels_[4] = {};
  QPushButton* calendar_ = nullptr;
  QComboBox* inverter_ = nullptr;
  QPushButton* exportXls_ = nullptr;
  QPushButton* exportCsv_ = nullptr;
  CFlowPane* pane_ = nullptr;
  CBarPane* bars_ = nullptr;
  CMyTextBox* summary_ = nullptr;
  QLabel* note_ = nullptr;
  CProgressDlg* progress_ = nullptr;
  QProgressDialog* importProgress_ = nullptr;

  ExportThread exportThread_;
  WorkbookEnv workbookEnv_;
  std::thread importThread_;
  std::atomic<bool> cancelImport_{false};
};

}  // namespace pyranex::ui
