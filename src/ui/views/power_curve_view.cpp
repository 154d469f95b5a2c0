#include "ui/views/power_curve_view.h"

#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <cmath>

#include "core/acquisition/link_status.h"

#include "core/platform/messages.h"
#include "ui/common/form_units.h"
#include "ui/dialogs/axis_set_dlg.h"
#include "ui/dialogs/com_port_dlg.h"
#include "ui/export/export_options.h"
#include "ui/export/export_path.h"
#include "ui/export/export_set_dlg.h"
#include "ui/export/progress_dlg.h"
#include "ui/monitor/monitor_gate.h"
#include "ui/widgets/background_picture.h"
#include "ui/widgets/flow_pane.h"
#include "ui/widgets/my_panel.h"
#include "ui/widgets/my_text_box.h"

namespace pyranex::ui {
namespace {

constexpr const char* kPortNotOpenedText = "COM%1 could not be opened.";

PowerViewServices EngineServices(CPowerCurveView::Services& s, MessageSink& sink,
                                 PowerViewDisplay& display, HistorySaver& history) {
  PowerViewServices services(LinkContext{sink, s.clock, s.notifier, s.paths, s.deviceFactory});
  services.display = &display;
  services.historySaver = &history;
  services.monitorGate = s.monitorGate;
  services.recordSinks = s.recordSinks;
  return services;
}

}  // namespace

CPowerCurveView::CPowerCurveView(Services services, QWidget* parent)
    : QWidget(parent),
      services_(std::move(services)),
      sink_(this),
      background_(LoadBackgroundPicture()),
      workbookEnv_{services_.clock, services_.notifier, &sink_},
      history_(services_.paths, WorkbookEnv{services_.clock, services_.notifier, nullptr}),
      config_(services_.clock, services_.paths) {
  if (services_.monitorGate == nullptr) {
    ownMonitorGate_ = std::make_unique<CMonitorGate>(services_.notifier, &config_, this);
    services_.monitorGate = ownMonitorGate_.get();
  }
  engine_ = std::make_unique<PowerViewEngine>(EngineServices(services_, sink_, *this, history_));
  CreateControls();
}

CPowerCurveView::~CPowerCurveView() {
  // Normally done by the frame while every window still stands; this is the last resort.
  Shutdown();
}

void CPowerCurveView::Shutdown() {
  Disconnect();
  // The export thread ends with WM_EXPORT_DONE; its failure box needs this thread meanwhile.
  while (exportThread_.Running()) services_.clock.SleepMs(10);
}

void CPowerCurveView::CreateControls() {
  // The chart pane in placeholder 1001: range 0 to 5500 W and 0 to 1 minute from now.
  // The widgets share the view's copy of the background picture instead of each decoding it.
  pane_ = new CFlowPane(services_.notifier, this, services_.clock, &background_);
  pane_->setObjectName(QStringLiteral("1001"));
  pane_->setGeometry(FormRect(16, 12, 425, 169));
  pane_->m_yMin = -0.0;
  pane_->m_yMax = 5500.0;
  pane_->m_startTime = services_.clock.Now();
  pane_->SetXRange(0.0, 1.0);

  energy_ = new CMyTextBox(this);
  energy_->setObjectName(QStringLiteral("1008"));
  energy_->SetBackground(background_);
  energy_->setGeometry(FormRect(107, 194, 148, 32));
  gauge_ = new CMyPanel(this, &background_);
  gauge_->setObjectName(QStringLiteral("1009"));
  gauge_->setGeometry(FormRect(283, 189, 138, 75));
  power_ = new CMyTextBox(this);
  power_->setObjectName(QStringLiteral("1010"));
  power_->SetBackground(background_);
  power_->setGeometry(FormRect(300, 264, 109, 25));

  energyPicture_ = new QLabel(this);
  energyPicture_->setGeometry(FormRect(65, 196, 25, 25));
  energyPicture_->setPixmap(QPixmap(QStringLiteral(":/ui/energy.png")));
  energyPicture_->setScaledContents(true);

  xAxisButton_ = new QPushButton(QStringLiteral("X Axis"), this);
  xAxisButton_->setGeometry(FormRect(58, 7, 44, 13));
  xAxisButton_->hide();
  trackingCheck_ = new QCheckBox(QStringLiteral("Tracking"), this);
  trackingCheck_->setGeometry(FormRect(114, 7, 44, 13));
  trackingCheck_->hide();
  trackingCheck_->setChecked(true);
  connect(trackingCheck_, &QCheckBox::toggled, this, [this](bool checked) {
    pane_->m_autoExtend = checked;
    pane_->InvalidateAll();
    Q_EMIT commandStateChanged();
  });

  // A missing workbook is recorded by the reader; the monitor dialog reports it when opened.
  config_.ReadParameterSheet();
  config_.ReadModelSheet();
  config_.CloseConnection();

  progress_ = new CProgressDlg(this);
}

CommandState CPowerCurveView::State() const {
  return CommandState{PortOpen(), ExportRunning(), pane_->m_cursorVisible, pane_->m_autoExtend};
}

template <typename F>
auto CPowerCurveView::RunLinkCall(F&& call) {
  struct Depth {
    CPowerCurveView& view;
    explicit Depth(CPowerCurveView& v) : view(v) { ++view.linkCallDepth_; }
    ~Depth() { --view.linkCallDepth_; }
  };
  auto result = [&] {
    Depth depth(*this);
    return call();
  }();
  while (linkCallDepth_ == 0 && !deferred_.empty()) {
    const PostedMessage message = deferred_.front();
    deferred_.pop_front();
    engine_->HandleMessage(message);
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Commands

void CPowerCurveView::OnComSetting() {
  CComPortDlg dialog(services_.paths, services_.notifier, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const int port = dialog.m_portNumber;
  if (!Connect(static_cast<unsigned>(port))) {
    services_.notifier.Show(QString::fromLatin1(kPortNotOpenedText).arg(port).toStdString(),
                            "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
  }
}

bool CPowerCurveView::Connect(unsigned portNumber) {
  const bool opened = RunLinkCall([&] { return engine_->OnComSetting(portNumber); });
  Q_EMIT commandStateChanged();
  return opened;
}

void CPowerCurveView::Disconnect() {
  if (!PortOpen() && !engine_->IsPollThreadRunning() && !engine_->Link().IsOpen()) return;
  RunLinkCall([&] {
    engine_->Disconnect();
    return true;
  });
  Q_EMIT commandStateChanged();
}

void CPowerCurveView::OnParSetting() {
  // Honoured at the end of the current exchange: password, then the monitor dialog.
  engine_->OnParSetting();
}

void CPowerCurveView::OnPosition() {
  pane_->SetCursorVisible(!pane_->m_cursorVisible);
  Q_EMIT commandStateChanged();
}

void CPowerCurveView::OnTracking() {
  pane_->m_autoExtend = !pane_->m_autoExtend;
  pane_->InvalidateAll();
  Q_EMIT commandStateChanged();
}

void CPowerCurveView::OnXScope() {
  const auto window = AskChartWindow(pane_->m_startTime, pane_->m_xStart, pane_->m_xEnd,
                                     services_.notifier, services_.clock, this);
  if (!window) return;
  pane_->SetXRange(window->first, window->second);
  update();
}

void CPowerCurveView::OnSaveData() {
  if (!PortOpen() || ExportRunning()) return;
  const int64_t start = pane_->m_startTime;
  const ExportOptions prefill = PrefillExportOptions(start, pane_->m_xEnd, services_.clock);
  CExportSetDlg options(services_.notifier, this);
  options.m_fromHour = prefill.fromHour;
  options.m_fromMin = prefill.fromMin;
  options.m_toHour = prefill.toHour;
  options.m_toMin = prefill.toMin;
  options.m_sampling = prefill.sampling;
  if (options.exec() != QDialog::Accepted) return;

  engine_->m_exportBusy = true;
  ExportJob job;
  job.params.fromMin =
      MinutesFromStart(start, options.m_fromHour, options.m_fromMin, services_.clock);
  job.params.toMin = MinutesFromStart(start, options.m_toHour, options.m_toMin, services_.clock);
  job.params.stepMin = SamplingStepMinutes(options.m_sampling);

  const std::optional<std::string> path = AskExportPath(this, services_.notifier);
  if (!path) {
    engine_->m_exportBusy = false;
    return;
  }
  job.params.path = *path;
  job.params.serialText = engine_->Link().GetSerialNumberText();
  job.params.ratedPower = engine_->m_ratedPower;
  job.params.startTime = start;
  // The thread writes its own copy: the view keeps appending and may clear the log meanwhile.
  job.log = engine_->GetDayLog();
  if (!exportThread_.Start(std::move(job), workbookEnv_)) {
    engine_->m_exportBusy = false;
    return;
  }
  Q_EMIT commandStateChanged();
  progress_->Reset();
  progress_->exec();
}

void CPowerCurveView::OnExportDone() {
  exportThread_.Join();
  if (progress_->isVisible()) progress_->done(0);
  engine_->m_exportBusy = false;
  Q_EMIT commandStateChanged();
}

void CPowerCurveView::OnExportProgress(uintptr_t examined, intptr_t total) {
  if (!progress_->isVisible() || total <= 0) return;
  progress_->SetProgress(static_cast<int>(examined * 100u / static_cast<uintptr_t>(total)));
}

// ---------------------------------------------------------------------------------------------
// Messages and painting

bool CPowerCurveView::event(QEvent* event) {
  const auto type = static_cast<uint32_t>(event->type());
  if (type != WM_INV_REGISTER && type != WM_INV_TIMEOUT && type != WM_EXPORT_DONE &&
      type != WM_EXPORT_PROGRESS) {
    return QWidget::event(event);
  }
  const auto* posted = dynamic_cast<const PostedMessageEvent*>(event);
  if (posted == nullptr) return QWidget::event(event);
  const PostedMessage message{type, posted->wParam(), posted->lParam()};
  switch (type) {
    case WM_EXPORT_DONE:
      OnExportDone();
      break;
    case WM_EXPORT_PROGRESS:
      OnExportProgress(message.wParam, message.lParam);
      break;
    default:
      if (linkCallDepth_ > 0) {
        deferred_.push_back(message);
      } else {
        engine_->HandleMessage(message);
      }
      break;
  }
  return true;
}

void CPowerCurveView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintPicturePart(painter, background_, QPoint(0, 0), size());
}

// ---------------------------------------------------------------------------------------------
// What the engine shows

void CPowerCurveView::SetStartTime(int64_t seconds) {
  pane_->m_startTime = seconds;
  pane_->InvalidateAll();
}

void CPowerCurveView::SetYRange(double minimum, double maximum) {
  pane_->SetYRange(minimum, maximum);
}

void CPowerCurveView::AddPoint(uint32_t tickMs, float value) {
  pane_->AddPoint(tickMs, value);
}

void CPowerCurveView::Clear() {
  pane_->Clear();
}

void CPowerCurveView::SetPercent(int percent) {
  gauge_->SetPercent(percent);
}

void CPowerCurveView::SetPowerText(const std::string& text, int lines) {
  power_->SetText(std::string_view(text), lines);
}

void CPowerCurveView::SetEnergyText(const std::string& text, int lines) {
  energy_->SetText(std::string_view(text), lines);
}

void CPowerCurveView::SetCo2Reduction(float kg) {
  if (services_.setCo2Reduction) services_.setCo2Reduction(kg);
}

void CPowerCurveView::InvalidateView() {
  update();
}

QString CPowerCurveView::LinkStatusText() const {
  const LinkStatus status = engine_->GetLinkStatus();
  if (status.condition == LinkCondition::Closed && status.comPort == 0) {
    return QStringLiteral("Ready");
  }
  return QString::fromStdString(FormatLinkStatus(status, services_.clock));
}

}  // namespace pyranex::ui
