#include "ui/history/history_view.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QTextCharFormat>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "core/acquisition/live_csv.h"
#include "core/acquisition/readouts.h"
#include "core/chart/bar_layout.h"
#include "core/history/calendar.h"
#include "core/platform/messages.h"
#include "core/workbook/xls_writer.h"
#include "ui/common/form_units.h"
#include "ui/dialogs/axis_set_dlg.h"
#include "ui/export/export_options.h"
#include "ui/export/export_set_dlg.h"
#include "ui/export/progress_dlg.h"
#include "ui/history/bar_pane.h"
#include "ui/widgets/background_picture.h"
#include "ui/widgets/flow_pane.h"
#include "ui/widgets/my_text_box.h"

namespace pyranex::ui {
namespace {

using namespace pyranex::history;

const char* const kLevelNames[] = {"Day", "Month", "Year", "Lifetime"};

QString MonthName(int month) {
  return QLocale(QLocale::English).monthName(month, QLocale::ShortFormat);
}

QDate QDateOf(int64_t day) {
  const CivilDate d = DateOf(day);
  return QDate(d.year, d.month, d.day);
}

int64_t DayOf(const QDate& date) {
  return DayNumber({date.year(), date.month(), date.day()});
}

// "4521.3 W at 12:31:05" (a longer period: "on 2024-06-15 at 12:31:05").
std::string PeakText(const PeriodTotals& t) {
  if (!t.HasPeak()) return "-";
  char text[96];
  const std::string clock = FormatClock(LocalSecondOfDay(t.peakTime, t.peakOffset));
  if (t.kind == PeriodKind::Day) {
    std::snprintf(text, sizeof text, "%3.1f W at %s", t.peakW, clock.c_str());
  } else {
    std::snprintf(text, sizeof text, "%3.1f W on %s", t.peakW,
                  FormatDay(LocalDayOf(t.peakTime, t.peakOffset)).c_str());
  }
  return text;
}

}  // namespace

CHistoryView::CHistoryView(Services services, QWidget* parent)
    : QWidget(parent),
      services_(std::move(services)),
      sink_(this),
      background_(LoadBackgroundPicture()),
      workbookEnv_{services_.clock, services_.notifier, &sink_} {
  CreateControls();
  key_ = Today();
}

CHistoryView::~CHistoryView() {
  cancelImport_ = true;
  if (importThread_.joinable()) importThread_.join();
  exportThread_.Join();
}

void CHistoryView::CreateControls() {
  int x = 24;
  auto button = [&](const QString& text, int width) {
    auto* b = new QPushButton(text, this);
    b->setGeometry(x, 10, width, 26);
    x += width + 4;
    return b;
  };
  previous_ = button(QStringLiteral("<"), 30);
  title_ = new QLabel(this);
  title_->setGeometry(x, 10, 170, 26);
  title_->setAlignment(Qt::AlignCenter);
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  title_->setAutoFillBackground(true);
  QPalette translucent = title_->palette();
  translucent.setColor(QPalette::Window, QColor(255, 255, 255, 120));
  title_->setPalette(translucent);
  x += 174;
  next_ = button(QStringLiteral(">"), 30);
  x += 16;
  for (int i = 0; i < 4; ++i) {
    levels_[i] = button(QString::fromLatin1(kLevelNames[i]), 70);
    levels_[i]->setCheckable(true);
  }
  x += 16;
  calendar_ = button(QStringLiteral("Calendar..."), 90);
  inverter_ = new QComboBox(this);
  inverter_->setGeometry(x + 12, 10, 130, 26);
  inverter_->hide();

  connect(previous_, &QPushButton::clicked, this, &CHistoryView::OnPrevious);
  connect(next_, &QPushButton::clicked, this, &CHistoryView::OnNext);
  connect(levels_[0], &QPushButton::clicked, this, [this] {
    ShowDay(level_ == Level::Day ? key_
            : level_ == Level::Month
                ? DayNumber({static_cast<int>(key_ / 12), static_cast<int>(key_ % 12 + 1), 1})
                : Today());
  });
  connect(levels_[1], &QPushButton::clicked, this, [this] {
    const CivilDate d = DateOf(level_ == Level::Day ? key_ : Today());
    ShowMonth(level_ == Level::Year ? static_cast<int>(key_) * 12 : MonthIndex(d.year, d.month));
  });
  connect(levels_[2], &QPushButton::clicked, this, [this] {
    ShowYear(level_ == Level::Month  ? static_cast<int>(key_ / 12)
             : level_ == Level::Day  ? DateOf(key_).year
             : level_ == Level::Year ? static_cast<int>(key_)
                                     : DateOf(Today()).year);
  });
  connect(levels_[3], &QPushButton::clicked, this, &CHistoryView::ShowLifetime);
  connect(calendar_, &QPushButton::clicked, this, &CHistoryView::OnCalendar);
  connect(inverter_, &QComboBox::currentIndexChanged, this, [this](int) { Load(); });

  // The chart where the live view has its own, a little lower for the row of buttons.
  const QRect chart = FormRect(16, 28, 425, 215);
  pane_ = new CFlowPane(services_.notifier, this, services_.clock);
  pane_->setGeometry(chart);
  pane_->m_autoExtend = false;  // a past day does not grow
  bars_ = new CBarPane(this);
  bars_->setGeometry(chart);
  bars_->hide();
  connect(bars_, &CBarPane::barClicked, this, &CHistoryView::OnBarClicked);

  summary_ = new CMyTextBox(this);
  summary_->LoadBackground();
  summary_->setGeometry(FormRect(455, 40, 185, 42));
  note_ = new QLabel(this);
  note_->setGeometry(FormRect(455, 90, 185, 60));
  note_->setWordWrap(true);
  note_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  x = FormRect(455, 160, 0, 0).left();
  const int y = FormRect(0, 160, 0, 0).top();
  exportXls_ = new QPushButton(QStringLiteral("Export .xls..."), this);
  exportXls_->setGeometry(x, y, 130, 28);
  exportCsv_ = new QPushButton(QStringLiteral("Export CSV..."), this);
  exportCsv_->setGeometry(x + 136, y, 130, 28);
  connect(exportXls_, &QPushButton::clicked, this, &CHistoryView::OnExportXls);
  connect(exportCsv_, &QPushButton::clicked, this, &CHistoryView::OnExportCsv);

  progress_ = new CProgressDlg(this);
}

int64_t CHistoryView::Today() const {
  const int64_t now = services_.clock.Now();
  return LocalDayOf(now, UtcOffsetSeconds(services_.clock, now));
}

bool CHistoryView::EnsureDatabase() {
  if (db_) return true;
  if (!std::filesystem::exists(services_.storeFile)) {
    note_->setText(
        QStringLiteral("No history yet: it is recorded from the first connection on, "
                       "and File > Import history workbooks... reads saved days."));
    return false;
  }
  SqlError error;
  db_ = HistoryDatabase::Open(services_.storeFile, HistoryDatabase::Access::Read, error);
  if (!db_) {
    note_->setText(QString::fromStdString(error.text));
    return false;
  }
  LoadInverters();
  return true;
}

void CHistoryView::LoadInverters() {
  SqlError error;
  const QString chosen = inverter_->currentText();
  inverters_ = db_->Inverters(error);
  QSignalBlocker block(inverter_);
  inverter_->clear();
  for (const InverterInfo& info : inverters_) {
    inverter_->addItem(QString::fromStdString(info.serial));
  }
  int index = inverter_->findText(chosen);
  if (index < 0) {
    // The inverter heard from last.
    index = 0;
    for (size_t i = 1; i < inverters_.size(); ++i) {
      if (inverters_[i].lastTime > inverters_[static_cast<size_t>(index)].lastTime) {
        index = static_cast<int>(i);
      }
    }
  }
  inverter_->setCurrentIndex(index);
  inverter_->setVisible(inverters_.size() > 1);
}

int64_t CHistoryView::InverterId() const {
  const int index = inverter_->currentIndex();
  return index >= 0 && static_cast<size_t>(index) < inverters_.size()
             ? inverters_[static_cast<size_t>(index)].id
             : -1;
}

void CHistoryView::ShowDay(int64_t day) {
  level_ = Level::Day;
  key_ = day;
  Load();
}

void CHistoryView::ShowMonth(int monthIndex) {
  level_ = Level::Month;
  key_ = monthIndex;
  Load();
}

void CHistoryView::ShowYear(int year) {
  level_ = Level::Year;
  key_ = year;
  Load();
}

void CHistoryView::ShowLifetime() {
  level_ = Level::Lifetime;
  key_ = 0;
  Load();
}

void CHistoryView::OnPrevious() {
  if (level_ != Level::Lifetime) {
    --key_;
    Load();
  }
}

void CHistoryView::OnNext() {
  if (level_ != Level::Lifetime) {
    ++key_;
    Load();
  }
}

QString CHistoryView::Title() const {
  switch (level_) {
    case Level::Day:
      return QString::fromStdString(FormatDay(key_));
    case Level::Month:
      return QStringLiteral("%1 %2")
          .arg(QLocale(QLocale::English).monthName(static_cast<int>(key_ % 12 + 1)))
          .arg(key_ / 12);
    case Level::Year:
      return QString::number(key_);
    case Level::Lifetime:
      break;
  }
  return QStringLiteral("All years");
}

QString CHistoryView::SummaryText() const {
  return QString::fromStdString(summary_->m_text);
}

void CHistoryView::Load() {
  stale_ = false;
  for (int i = 0; i < 4; ++i) levels_[i]->setChecked(i == static_cast<int>(level_));
  previous_->setEnabled(level_ != Level::Lifetime);
  next_->setEnabled(level_ != Level::Lifetime);
  title_->setText(Title());
  dayRecords_.clear();
  slots_.clear();
  shownTotals_ = {};
  note_->clear();
  if (EnsureDatabase()) {
    if (level_ == Level::Day) {
      LoadDay();
    } else {
      LoadBars();
    }
  } else {
    pane_->Clear();
    pane_->InvalidateAll();
    bars_->SetBars({}, {}, 1.0, QStringLiteral("Energy(kWh)"));
  }
  pane_->setVisible(level_ == Level::Day);
  bars_->setVisible(level_ != Level::Day);
  char text[160];
  std::snprintf(text, sizeof text, "Yield\t%3.1f kWh\nPeak\t%s\nOn the grid\t%3.1f h",
                shownTotals_.yieldKwh, PeakText(shownTotals_).c_str(), shownTotals_.gridHours);
  summary_->SetText(std::string_view(text), 3);
  Q_EMIT commandStateChanged();
}

void CHistoryView::LoadDay() {
  SqlError error;
  const int64_t inverter = InverterId();
  if (inverter >= 0) {
    dayRecords_ = db_->DayRecords(inverter, key_, error);
    const auto days = db_->DaySummaries(inverter, key_, key_, error);
    if (!days.empty()) shownTotals_ = TotalsOfDay(days.front());
  }
  if (error.code != 0) note_->setText(QString::fromStdString(error.text));
  pane_->m_values.clear();
  pane_->m_times.clear();
  int rated =
      inverter >= 0 ? inverters_[static_cast<size_t>(inverter_->currentIndex())].ratedPower : 0;
  double top = 0;
  for (const LiveRecord& r : dayRecords_) {
    pane_->m_times.push_back(static_cast<uint32_t>((r.time - dayRecords_.front().time) * 1000));
    const double pac = r.Get(LiveField::Pac);
    pane_->m_values.push_back(static_cast<float>(std::isnan(pac) ? 0.0 : pac));
    top = std::max(top, pac);
  }
  pane_->m_startTime = dayRecords_.empty() ? key_ * 86400 : dayRecords_.front().time;
  pane_->m_yMin = 0.0;
  pane_->m_yMax = rated > 0 ? YAxisMax(rated) : std::max(1.2 * top, 1000.0);
  const double span =
      dayRecords_.size() < 2
          ? 1.0
          : static_cast<double>(dayRecords_.back().time - dayRecords_.front().time) / 60.0;
  pane_->m_xStart = 0.0;
  pane_->SetXRange(0.0, span);
  if (dayRecords_.empty()) note_->setText(QStringLiteral("No records of this day."));
}

void CHistoryView::LoadBars() {
  SqlError error;
  const int64_t inverter = InverterId();
  std::vector<double> values;
  QStringList labels;
  int64_t first = 0, last = -1;
  PeriodKind kind = PeriodKind::Day;
  if (level_ == Level::Month) {
    const int year = static_cast<int>(key_ / 12), month = static_cast<int>(key_ % 12 + 1);
    first = DayNumber({year, month, 1});
    last = first + DaysInMonth(year, month) - 1;
    for (int d = 1; d <= DaysInMonth(year, month); ++d) labels << QString::number(d);
  } else if (level_ == Level::Year) {
    first = DayNumber({static_cast<int>(key_), 1, 1});
    last = DayNumber({static_cast<int>(key_), 12, 31});
    kind = PeriodKind::Month;
    for (int m = 1; m <= 12; ++m) labels << MonthName(m);
  } else {
    first = INT32_MIN;
    last = INT32_MAX;
    kind = PeriodKind::Year;
  }
  const std::vector<DaySummary> days =
      inverter >= 0 ? db_->DaySummaries(inverter, first, last, error) : std::vector<DaySummary>{};
  if (error.code != 0) note_->setText(QString::fromStdString(error.text));
  const std::vector<PeriodTotals> periods = FoldInto(days, kind);
  if (level_ == Level::Lifetime) {
    firstYear_ = periods.empty() ? DateOf(Today()).year : static_cast<int>(periods.front().key);
    const int lastYear = periods.empty() ? firstYear_ : static_cast<int>(periods.back().key);
    for (int y = firstYear_; y <= lastYear; ++y) labels << QString::number(y);
  }
  values.assign(static_cast<size_t>(labels.size()), history::kNoValue);
  for (const PeriodTotals& p : periods) {
    const int64_t slot = level_ == Level::Month  ? p.key - first
                         : level_ == Level::Year ? p.key % 12
                                                 : p.key - firstYear_;
    if (slot >= 0 && slot < static_cast<int64_t>(values.size()))
      values[static_cast<size_t>(slot)] = p.yieldKwh;
  }
  slots_ = periods;
  // The period's own totals: all of its days folded together.
  const auto whole = FoldInto(days, PeriodKind::Year);
  for (const PeriodTotals& p : whole) {
    shownTotals_.yieldKwh += p.yieldKwh;
    shownTotals_.gridHours += p.gridHours;
    if (p.HasPeak() && (!shownTotals_.HasPeak() || p.peakW > shownTotals_.peakW)) {
      shownTotals_.peakW = p.peakW;
      shownTotals_.peakTime = p.peakTime;
      shownTotals_.peakOffset = p.peakOffset;
    }
  }
  shownTotals_.kind = kind == PeriodKind::Day ? PeriodKind::Month : kind;
  if (days.empty()) note_->setText(QStringLiteral("No records in this period."));
  const double top = chart::BarAxisMax(values);
  bars_->SetBars(std::move(values), labels, top, QStringLiteral("Energy(kWh)"));
}

void CHistoryView::OnBarClicked(int slot) {
  if (level_ == Level::Month) {
    ShowDay(DayNumber({static_cast<int>(key_ / 12), static_cast<int>(key_ % 12 + 1), 1}) + slot);
  } else if (level_ == Level::Year) {
    ShowMonth(static_cast<int>(key_) * 12 + slot);
  } else if (level_ == Level::Lifetime) {
    ShowYear(firstYear_ + slot);
  }
}

void CHistoryView::OnCalendar() {
  auto* calendar = new QCalendarWidget(this);
  calendar->setWindowFlags(Qt::Popup);
  calendar->setAttribute(Qt::WA_DeleteOnClose);
  calendar->setGridVisible(true);
  const int64_t shown =
      level_ == Level::Day ? key_
      : level_ == Level::Month
          ? DayNumber({static_cast<int>(key_ / 12), static_cast<int>(key_ % 12 + 1), 1})
          : Today();
  // Days with records stand out in bold.
  auto markDays = [this, calendar](int year, int month) {
    if (!EnsureDatabase() || InverterId() < 0) return;
    SqlError error;
    const int64_t first = DayNumber({year, month, 1});
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    for (const DaySummary& d :
         db_->DaySummaries(InverterId(), first, first + DaysInMonth(year, month) - 1, error)) {
      calendar->setDateTextFormat(QDateOf(d.day), bold);
    }
  };
  connect(calendar, &QCalendarWidget::currentPageChanged, calendar, markDays);
  connect(calendar, &QCalendarWidget::clicked, this, [this, calendar](const QDate& date) {
    calendar->close();
    ShowDay(DayOf(date));
  });
  calendar->setSelectedDate(QDateOf(shown));
  markDays(QDateOf(shown).year(), QDateOf(shown).month());
  calendar->move(calendar_->mapToGlobal(QPoint(0, calendar_->height())));
  calendar->show();
}

bool CHistoryView::CursorShown() const {
  return pane_->m_cursorVisible;
}

void CHistoryView::OnPosition() {
  pane_->SetCursorVisible(!pane_->m_cursorVisible);
  Q_EMIT commandStateChanged();
}

void CHistoryView::OnXScope() {
  if (level_ != Level::Day) return;
  const auto window = AskChartWindow(pane_->m_startTime, pane_->m_xStart, pane_->m_xEnd,
                                     services_.notifier, services_.clock, this);
  if (!window) return;
  pane_->SetXRange(window->first, window->second);
  update();
}

void CHistoryView::OnExportXls() {
  if (exportThread_.Running()) return;
  const InverterInfo* inverter =
      InverterId() >= 0 ? &inverters_[static_cast<size_t>(inverter_->currentIndex())] : nullptr;
  if (level_ == Level::Day) {
    if (dayRecords_.empty()) return;
    const int64_t start = pane_->m_startTime;
    const ExportOptions prefill = PrefillExportOptions(start, pane_->m_xEnd, services_.clock);
    CExportSetDlg options(services_.notifier, this);
    options.m_fromHour = prefill.fromHour;
    options.m_fromMin = prefill.fromMin;
    options.m_toHour = prefill.toHour;
    options.m_toMin = prefill.toMin;
    options.m_sampling = prefill.sampling;
    if (options.exec() != QDialog::Accepted) return;
    ExportJob job;
    job.params.fromMin =
        MinutesFromStart(start, options.m_fromHour, options.m_fromMin, services_.clock);
    job.params.toMin = MinutesFromStart(start, options.m_toHour, options.m_toMin, services_.clock);
    job.params.stepMin = SamplingStepMinutes(options.m_sampling);
    const QString path =
        QFileDialog::getSaveFileName(this, QString(), QString(), QStringLiteral(".xls (*)"),
                                     nullptr, QFileDialog::DontUseNativeDialog);
    if (path.isEmpty()) return;
    job.params.path = path.toStdString();
    job.params.serialText = inverter->serial;
    job.params.ratedPower = inverter->ratedPower;
    job.params.startTime = start;
    job.log = DayLogOf(dayRecords_);
    if (!exportThread_.Start(std::move(job), workbookEnv_)) return;
    progress_->Reset();
    progress_->exec();
    return;
  }
  if (slots_.empty() || inverter == nullptr) return;
  const QString path =
      QFileDialog::getSaveFileName(this, QString(), QString(), QStringLiteral(".xls (*)"), nullptr,
                                   QFileDialog::DontUseNativeDialog);
  if (path.isEmpty()) return;
  auto writer = XlsWriter::Start();
  writer->NewWorkbook();
  writer->FirstSheet();
  writer->PutCellText(
      0, 0, "SN: " + inverter->serial + ",Model: " + std::to_string(inverter->ratedPower * 100));
  const char* titles[] = {"Date", "Yield(kWh)", "Peak(W)", "Peak time", "Hours(h)"};
  for (uint32_t c = 0; c < 5; ++c) writer->PutCellText(1, c, titles[c]);
  uint32_t row = 2;
  for (const PeriodTotals& t : slots_) {
    const QStringList fields = QString::fromStdString(TotalsCsvRow(t)).split(QLatin1Char(','));
    for (uint32_t c = 0; c < 5 && c < static_cast<uint32_t>(fields.size()); ++c) {
      writer->PutCellText(row, c, fields[static_cast<int>(c)].toStdString());
    }
    ++row;
  }
  const std::string failure = writer->SaveAs(WorkbookSavePath(path.toStdString()));
  if (!failure.empty()) services_.notifier.Show(failure);
}

void CHistoryView::OnExportCsv() {
  if (dayRecords_.empty() && slots_.empty()) return;
  const QString path =
      QFileDialog::getSaveFileName(this, QString(), QString(), QStringLiteral("CSV (*.csv)"),
                                   nullptr, QFileDialog::DontUseNativeDialog);
  if (path.isEmpty()) return;
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  if (level_ == Level::Day) {
    out << LiveCsvHeader() << '\n';
    for (const LiveRecord& r : dayRecords_) out << RecordCsvRow(r) << '\n';
  } else {
    out << TotalsCsvHeader() << '\n';
    for (const PeriodTotals& t : slots_) out << TotalsCsvRow(t) << '\n';
  }
  out.flush();
  if (!out) services_.notifier.Show("The file " + path.toStdString() + " could not be written.");
}

void CHistoryView::OnImport() {
  if (ImportRunning()) return;
  QFileDialog dialog(this, QStringLiteral("Import history workbooks from"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setDirectory(QString::fromStdString((services_.paths.executableDir / "hisdata").string()));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  std::vector<std::filesystem::path> inputs;
  for (const QString& file : dialog.selectedFiles()) inputs.emplace_back(file.toStdString());
  Import(std::move(inputs));
}

void CHistoryView::Import(std::vector<std::filesystem::path> inputs) {
  if (ImportRunning()) return;
  std::vector<ImportProblem> problems;
  auto workbooks = FindWorkbooks(inputs, problems);
  importProgress_ =
      new QProgressDialog(QStringLiteral("Importing history workbooks..."),
                          QStringLiteral("Cancel"), 0, static_cast<int>(workbooks.size()), this);
  importProgress_->setWindowTitle(QStringLiteral("Import"));
  importProgress_->setAttribute(Qt::WA_DeleteOnClose);
  importProgress_->setMinimumDuration(0);
  importProgress_->setValue(0);
  connect(importProgress_, &QProgressDialog::canceled, this, [this] { cancelImport_ = true; });
  cancelImport_ = false;
  Q_EMIT commandStateChanged();
  importThread_ = std::thread([this, workbooks = std::move(workbooks), problems] {
    HistoryImporter importer(services_.storeFile, services_.clock);
    ImportReport report = importer.Run(
        workbooks,
        [this](size_t done, size_t total, const std::string&) {
          QMetaObject::invokeMethod(
              this, [this, done, total] { OnImportProgress(done, total); }, Qt::QueuedConnection);
        },
        &cancelImport_);
    report.skipped.insert(report.skipped.begin(), problems.begin(), problems.end());
    QMetaObject::invokeMethod(
        this, [this, report] { OnImportDone(report); }, Qt::QueuedConnection);
  });
}

void CHistoryView::OnImportProgress(size_t done, size_t total) {
  if (importProgress_ != nullptr && total > 0) importProgress_->setValue(static_cast<int>(done));
}

void CHistoryView::OnImportDone(const ImportReport& report) {
  if (importThread_.joinable()) importThread_.join();
  if (importProgress_ != nullptr) {
    importProgress_->close();
    importProgress_ = nullptr;
  }
  db_.reset();  // the store may be new; read it again, inverters included
  Load();
  Q_EMIT commandStateChanged();
  std::string text;
  if (!report.Ok()) {
    text = "The import stopped: " + report.failure + ".\n";
  }
  text += "Imported " + std::to_string(report.imported) + " of " +
          std::to_string(report.workbooks) + " workbooks" +
          (report.cancelled ? " (cancelled)" : "") + ": " + std::to_string(report.recordsAdded) +
          " records added, " + std::to_string(report.recordsPresent) + " already there.";
  if (!report.skipped.empty()) {
    text += "\nSkipped:";
    size_t shown = 0;
    for (const ImportProblem& p : report.skipped) {
      if (++shown > 15) {
        text += "\n... and " + std::to_string(report.skipped.size() - 15) + " more";
        break;
      }
      text += "\n" + p.name + ": " + p.reason;
    }
  }
  services_.notifier.Show(
      text, "Quorvane",
      report.Ok() && report.skipped.empty() ? NoticeIcon::Information : NoticeIcon::Warning,
      NoticeButtons::Ok);
}

void CHistoryView::OnStoreChanged() {
  if (!isVisible()) {
    stale_ = true;
    return;
  }
  // New records concern the day, month, year or lifetime that holds today.
  const int64_t today = Today();
  const CivilDate d = DateOf(today);
  const bool concerned = level_ == Level::Lifetime || (level_ == Level::Day && key_ == today) ||
                         (level_ == Level::Month && key_ == MonthIndex(d.year, d.month)) ||
                         (level_ == Level::Year && key_ == d.year);
  if (!concerned && !inverters_.empty()) return;
  if (inverters_.empty()) db_.reset();  // the first records: the store may have been made now
  const double xStart = pane_->m_xStart, xEnd = pane_->m_xEnd;
  const bool wholeDay =
      dayRecords_.size() < 2 ||
      xEnd >= static_cast<double>(dayRecords_.back().time - dayRecords_.front().time) / 60.0;
  Load();
  // A window the user chose stays; the whole day grows with it.
  if (level_ == Level::Day && !wholeDay) pane_->SetXRange(xStart, xEnd);
}

bool CHistoryView::event(QEvent* event) {
  const auto type = static_cast<uint32_t>(event->type());
  if (type == WM_EXPORT_DONE) {
    exportThread_.Join();
    if (progress_->isVisible()) progress_->done(0);
    return true;
  }
  if (type == WM_EXPORT_PROGRESS) {
    if (const auto* posted = dynamic_cast<const PostedMessageEvent*>(event);
        posted != nullptr && progress_->isVisible() && posted->lParam() > 0) {
      progress_->SetProgress(
          static_cast<int>(posted->wParam() * 100u / static_cast<uintptr_t>(posted->lParam())));
    }
    return true;
  }
  return QWidget::event(event);
}

void CHistoryView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (stale_) {
    if (!db_ && EnsureDatabase() && level_ == Level::Day && key_ == Today() &&
        !inverters_.empty()) {
      // Nothing recorded today yet: the newest day that has records.
      SqlError error;
      const int64_t id = InverterId();
      if (id >= 0 && db_->DaySummaries(id, key_, key_, error).empty() &&
          inverters_[static_cast<size_t>(inverter_->currentIndex())].lastTime > 0) {
        const auto& info = inverters_[static_cast<size_t>(inverter_->currentIndex())];
        key_ = LocalDayOf(info.lastTime, UtcOffsetSeconds(services_.clock, info.lastTime));
      }
    }
    Load();
  }
}

void CHistoryView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPicturePart(painter, background_, QPoint(0, 0), size());
}

}  // namespace pyranex::ui
