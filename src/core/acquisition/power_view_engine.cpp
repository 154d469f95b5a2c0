#include "core/acquisition/power_view_engine.h"

#include <chrono>

#if defined(__linux__)
#include <pthread.h>
#endif
#include <cstdio>

#include "core/acquisition/readouts.h"
#include "core/acquisition/save_schedule.h"
#include "core/platform/messages.h"

namespace pyranex {

namespace {

constexpr uint32_t kProbeRegister = 361;
constexpr uint32_t kLiveFirstRegister = 11;
constexpr uint32_t kLiveRegisterCount = 31;
constexpr uint32_t kModelFirstRegister = 44;
constexpr uint32_t kVersionRegister = 45;
constexpr uint32_t kReceivingData = 2;
constexpr const char* kUnscaledPowerFirmware = "V5.00";
constexpr uint32_t kStopWaitStepMs = 10;

// Tick a is at or after tick b, allowing for the wrap of the 32-bit count.
bool NotBefore(uint32_t a, uint32_t b) {
  return static_cast<int32_t>(a - b) >= 0;
}

// Milliseconds from `since` to `now`. A `since` a little after `now` (a request the interface
// thread sent after the poll thread read the clock) counts as just now, not as 49 days ago.
uint32_t Elapsed(uint32_t now, uint32_t since) {
  constexpr uint32_t kJustNowMs = 60'000;
  return since - now <= kJustNowMs ? 0 : now - since;
}

}  // namespace

PowerViewEngine::PowerViewEngine(PowerViewServices services)
    : services_(std::move(services)),
      clock_(services_.link.clock),
      notifier_(services_.link.notifier),
      m_com(services_.link),
      store_(dayLog_, m_ratedPower) {}

PowerViewEngine::~PowerViewEngine() {
  Disconnect();
}

// ---------------------------------------------------------------------------------------------
// Connect and shut-down

bool PowerViewEngine::OnComSetting(unsigned portNumber) {
  if (m_portOpen.load() || pollThread_.joinable()) {
    // The old poll thread ends before the port goes, so nothing sends into a closing port.
    StopPollThread();
    m_com.ClosePort();
    m_portOpen = false;
  }
  m_comPort = portNumber;
  m_com.BeginConnection();
  if (!m_com.InitPort(portNumber)) return false;
  m_portOpen = true;
  m_com.StartMonitoring();

  m_registerIndex = 0;
  m_identifyCount = 0;
  m_versionPending = false;
  m_skipCycleEnd = false;
  m_missCount = 0;
  missStreak_ = 0;
  retryIdentification_ = services_.keepIdentifying;
  repliesAtConnect_ = m_com.ReplyCount();
  seenGeneration_ = requestGeneration_.load();
  StartIdentification();

  if (services_.runPollThread) {
    {
      std::lock_guard lock(stopLock_);
      stopRequested_ = false;
    }
    pollThreadRunning_ = true;
    pollThread_ = std::thread([this] {
      PollThreadProc();
      pollThreadRunning_ = false;
    });
  }
  return true;
}

void PowerViewEngine::Disconnect() {
  StopPollThread();
  if (m_portOpen.exchange(false) || m_com.IsOpen()) m_com.ClosePort();
}

void PowerViewEngine::StopPollThread() {
  if (!pollThread_.joinable()) return;
  {
    std::lock_guard lock(stopLock_);
    stopRequested_ = true;
  }
  stopSignal_.notify_all();
  // The poll thread may be closing or opening the port, waiting for a worker that waits for a
  // message box only this thread shows: wait through the clock, which keeps the interface alive.
  while (pollThreadRunning_.load()) clock_.SleepMs(kStopWaitStepMs);
  pollThread_.join();
}

void PowerViewEngine::StartIdentification(Framing first) {
  // A hang-up or a new connect may have cut a reply short: the probe's reply must not be taken
  // as the rest of that old frame.
  m_com.ResetReceiver();
  m_com.m_identifying = true;
  if (first == FramingSerial) {
    SerialFallback();
    return;
  }
  m_com.SetFraming(FramingModbus);
  m_com.SetAddressByte0(kProbeAddress);
  m_com.ReadRegisters(kProbeRegister, 1);
}

// ---------------------------------------------------------------------------------------------
// Poll thread

void PowerViewEngine::PollThreadProc() {
#if defined(__linux__)
  pthread_setname_np(pthread_self(), "pyranex-poll");
#endif
  std::unique_lock lock(stopLock_);
  for (;;) {
    if (stopSignal_.wait_for(lock, std::chrono::milliseconds(kPollPeriodMs),
                             [this] { return stopRequested_; })) {
      return;
    }
    lock.unlock();
    // The copy keeps the dialog alive until this tick is over, even if it closes meanwhile.
    if (const std::shared_ptr<MonitorDialog> dialog = Monitor()) {
      if (!dialog->HasStoppedPolling()) dialog->MonitorTick();
    } else {
      PollTick();
    }
    lock.lock();
  }
}

void PowerViewEngine::PollTick() {
  if (!m_portOpen.load()) return;
  // The ticks of the exchange first, then the clock: a request sent in between is then at most
  // "just now", never a send from the future that would count as a miss at once.
  const uint32_t lastSend = m_com.m_lastSendTick.load();
  const uint32_t lastReply = m_com.m_lastReplyTick.load();
  const bool idle = m_com.m_exchangeState.load() == ExchangeIdle;
  const uint32_t now = clock_.TickCount();
  if (SuperviseLostPort(now)) return;

  if (m_com.m_identifying.load()) {
    if (!idle && Elapsed(now, lastSend) > kReplyTimeoutMs) {
      if (m_com.GetFraming() == FramingModbus) {
        SerialFallback();
      } else if (retryIdentification_.load()) {
        // Asleep, still starting, or answering only the other framing: ask again, in turn.
        NoteRequestFromPollThread();
        StartIdentification(FramingModbus);
      }
    }
    return;
  }

  if (NotBefore(lastReply, lastSend)) {
    // A reply came but never completed its exchange (cut short): after the time-out it is a
    // miss like any other, or the poll would stop for good. Not while the interface thread has
    // yet to take that reply's values (busy saving, say): those values will complete it.
    if (!idle && Elapsed(now, lastReply) > kReplyTimeoutMs &&
        NotBefore(lastValueHandledTick_.load(), lastReply)) {
      CountMiss();
      return;
    }
    const bool late = Elapsed(now, lastReply) > m_com.m_nextPollDelay.load() ||
                      Elapsed(now, lastSend) > kReplyTimeoutMs;
    if (late && idle) SendPoll();
    m_missCount = 0;
    missStreak_ = 0;
    return;
  }
  if (Elapsed(now, lastSend) > kReplyTimeoutMs) CountMiss();
}

void PowerViewEngine::CountMiss() {
  missStreak_.fetch_add(1);
  if (m_missCount.fetch_add(1) + 1 >= kMissesBeforeNotice) {
    services_.link.owner.Post(WM_INV_TIMEOUT, m_com.Connection(), 1);
    m_missCount = 0;
    if (ReceiverStuckInFrame()) {
      m_com.WriteCommLog(2);
      m_com.ClosePort();
      clock_.SleepMs(100);
      if (!m_com.ReopenPort(/*waitForBox=*/false)) {
        m_com.WriteCommLog(3);
        reopenTick_ = clock_.TickCount();
        return;
      }
      m_com.StartMonitoring();
    }
  }
  m_com.ResetReceiver();
  SendPoll();
}

bool PowerViewEngine::ReceiverStuckInFrame() const {
  if (m_com.ReceiveState() != kReceivingData) return false;
  // The receiver applies a reset only when the next byte comes, so its state may still show the
  // frame abandoned at the last miss. Stuck means bytes arrived since the last request went out.
  const TrafficSnapshot ring = m_com.SnapshotRing();
  const TrafficSlot& newest =
      ring.slots[static_cast<size_t>((ring.nextSlot + kRingSlots - 1) % kRingSlots)];
  return !newest.received.empty();
}

void PowerViewEngine::SendPoll() {
  switch (m_pollMode.load()) {
    case 0:
      NoteRequestFromPollThread();
      m_com.ReadRegisters(kModelFirstRegister, 2);
      break;
    case 1:
      NoteRequestFromPollThread();
      m_com.ReadRegisters(kLiveFirstRegister, kLiveRegisterCount);
      break;
    default:
      break;
  }
}

void PowerViewEngine::SerialFallback() {
  m_com.ResetReceiver();
  m_skipCycleEnd = true;
  m_com.SetFraming(FramingSerial);
  NoteRequestFromPollThread();
  m_com.ReadSerialNumberBroadcast();
}

bool PowerViewEngine::SuperviseLostPort(uint32_t now) {
  if (m_com.IsLost()) {
    // Once per loss, while the ring still holds the exchanges that led up to it.
    m_com.WriteCommLog(kLostDeviceLogCode);
    m_com.ClosePort();
    reopenTick_ = clock_.TickCount();
    return true;
  }
  if (m_com.IsOpen()) return false;
  if (Elapsed(now, reopenTick_) < kReopenIntervalMs) return true;
  reopenTick_ = now;
  // Only the device that was connected, never whatever the COM number names meanwhile.
  if (!m_com.ReopenPort(/*waitForBox=*/false)) return true;
  m_com.BeginConnection();
  m_com.StartMonitoring();
  m_missCount = 0;
  missStreak_ = 0;
  // The device that came back is identified afresh (it may have been swapped or reset), in the
  // framing it spoke before, and until it answers: it may still be starting up.
  retryIdentification_ = true;
  NoteRequestFromPollThread();
  StartIdentification(static_cast<Framing>(identifiedFraming_.load()));
  return true;
}

// ---------------------------------------------------------------------------------------------
// Reply dispatch (interface thread)

bool PowerViewEngine::HandleMessage(const PostedMessage& message) {
  switch (message.message) {
    case WM_INV_REGISTER:
      OnRegisterValue(message.wParam, message.lParam);
      return true;
    case WM_INV_TIMEOUT:
      // A notice of a connection that has since been replaced says nothing about this one.
      if (message.wParam == m_com.Connection()) OnCommTimeout();
      return true;
    default:
      return false;
  }
}

void PowerViewEngine::CatchUpWithRequests() {
  const uint32_t generation = requestGeneration_.load();
  if (generation == seenGeneration_) return;
  seenGeneration_ = generation;
  m_registerIndex = 0;
  m_identifyCount = 0;
  m_versionPending = false;
}

void PowerViewEngine::OnRegisterValue(uintptr_t wParam, intptr_t lParam) {
  // Left in the queue by an earlier connection (the interface thread was busy while the link
  // started again): taken now, it would pass for the new probe's reply.
  if (wParam != m_com.Connection()) return;
  const auto value = static_cast<uint16_t>(lParam & 0xFFFF);
  lastValueHandledTick_ = clock_.TickCount();
  CatchUpWithRequests();

  if (m_com.m_identifying.load()) {
    if (m_com.GetFraming() == FramingModbus) {
      // The probe's reply: the receiver has learned the slave address; now the serial number.
      identifiedFraming_ = FramingModbus;
      m_com.m_identifying = false;
      m_skipCycleEnd = true;
      m_com.SetSerialKnown(false);
      m_registerIndex = 0;
      m_com.ReadRegisters(1, 3);
      return;
    }
    identifiedFraming_ = FramingSerial;
    ++m_identifyCount;
    if (m_versionPending) {
      char text[32];
      std::snprintf(text, sizeof text, "V%3.2f", value / 100.0);
      m_com.m_firmwareVersion = text;
      m_com.m_exchangeState = ExchangeIdle;
      m_versionPending = false;
      m_com.m_identifying = false;
      m_identifyCount = 0;
    } else if (m_identifyCount == m_com.m_expectedValues.load()) {
      m_skipCycleEnd = false;
      m_identifyCount = 0;
      m_com.ReadRegisters(kVersionRegister, 1);
      m_versionPending = true;
    }
    return;
  }

  const uint32_t firstRegister = m_com.m_firstRegister.load();
  const std::shared_ptr<MonitorDialog> dialog = Monitor();
  if (!dialog) {
    if (m_registerIndex == 0 && m_com.m_exchangeState.load() == ExchangeReadSent) {
      store_.BeginReply();
    }
    StoreRegisterValue(value, firstRegister + m_registerIndex);
    ++m_registerIndex;
    if (m_registerIndex >= m_com.m_expectedValues.load()) EndOfExchange();
    return;
  }

  const uint32_t index = dialog->ValueIndex();
  if (index == 0 && m_com.m_exchangeState.load() == ExchangeReadSent) store_.BeginReply();
  StoreRegisterValue(value, firstRegister + index);
  dialog->HandleRegisterValue(value);
  if (firstRegister == kLiveFirstRegister && m_com.m_exchangeState.load() == ExchangeIdle) {
    RefreshFromMonitor();
  }
}

void PowerViewEngine::EndOfExchange() {
  m_com.m_exchangeState = ExchangeIdle;
  m_registerIndex = 0;
  if (m_parRequested) {
    m_parRequested = false;
    OpenMonitor();
    return;
  }
  if (m_skipCycleEnd.exchange(false)) return;
  if (m_pollMode.load() == 1 && !dayLog_.pac.empty()) OnCycleComplete();
  const uint32_t next = m_pollMode.load() + 1;
  m_pollMode = next == 2 ? 1 : next;
}

void PowerViewEngine::OnCommTimeout() {
  if (m_timeoutBoxShown.load()) return;
  if (services_.unattended) {
    const uint32_t replies = m_com.ReplyCount();
    if (repliesAtNotice_ == replies) return;
    repliesAtNotice_ = replies;
  }
  m_com.WriteCommLog(1);
  m_timeoutBoxShown = true;
  notifier_.Show(kCommTimeoutText);
  m_timeoutBoxShown = false;
}

LinkStatus PowerViewEngine::GetLinkStatus() const {
  LinkStatus status;
  status.comPort = m_comPort.load();
  if (!m_portOpen.load()) return status;
  status.device = m_com.ConnectedDevice().label;
  status.framing = m_com.GetFraming();
  status.modbusAddress = m_com.GetAddress()[0];
  if (status.framing == FramingSerial && m_com.IsSerialKnown()) {
    status.serialNumber = m_com.GetSerialNumberText();
  }
  if (m_com.ReplyCount() != repliesAtConnect_.load()) {
    status.hasReply = true;
    status.lastReplyTick = m_com.m_lastReplyTick.load();
    const uint32_t age = Elapsed(clock_.TickCount(), status.lastReplyTick);
    status.lastReplyTime = clock_.Now() - static_cast<int64_t>(age / 1000);
  }
  if (m_com.IsLost() || !m_com.IsOpen()) {
    status.condition = LinkCondition::Lost;
  } else if (m_com.m_identifying.load()) {
    status.condition = LinkCondition::Identifying;
  } else if (missStreak_.load() != 0) {
    status.condition = LinkCondition::NoReply;
  } else {
    status.condition = LinkCondition::Connected;
  }
  return status;
}

void PowerViewEngine::SetMonitor(std::shared_ptr<MonitorDialog> dialog) {
  std::lock_guard lock(monitorLock_);
  m_monitorDlg = std::move(dialog);
}

std::shared_ptr<MonitorDialog> PowerViewEngine::Monitor() const {
  std::lock_guard lock(monitorLock_);
  return m_monitorDlg;
}

void PowerViewEngine::OpenMonitor() {
  if (services_.monitorGate == nullptr) return;
  MonitorGate& gate = *services_.monitorGate;
  const std::optional<bool> fullAccess = gate.AskPassword();
  if (!fullAccess) return;
  std::shared_ptr<MonitorDialog> dialog = gate.CreateMonitor(*fullAccess, m_com);
  if (!dialog) return;
  SetMonitor(dialog);
  gate.RunModal(*dialog);
  if (m_com.m_exchangeState.load() != ExchangeIdle) m_registerIndex = dialog->ValueIndex();
  // The poll thread may still be inside MonitorTick; its own reference keeps the dialog alive.
  SetMonitor(nullptr);
}

// ---------------------------------------------------------------------------------------------
// Day log and readouts (interface thread)

void PowerViewEngine::StoreRegisterValue(int value, uint32_t registerNumber) {
  if (m_com.m_exchangeState.load() != ExchangeReadSent) return;
  // Identification learns the version only in the serial framing; every read of register 45
  // (the model poll, the monitor's reads) teaches it in either framing.
  if (registerNumber == kVersionRegister) {
    char text[32];
    std::snprintf(text, sizeof text, "V%3.2f", (value & 0xFFFF) / 100.0);
    m_com.m_firmwareVersion = text;
  }
  const bool unscaled = m_com.m_firmwareVersion == kUnscaledPowerFirmware;
  if (store_.Store(value, registerNumber, clock_.TickCount(), unscaled) ==
      RegisterStore::Outcome::UdcUacMismatch) {
    notifier_.Show(kLengthMismatchText);
  }
}

void PowerViewEngine::StartDayLog() {
  m_started = true;
  m_startTime = clock_.Now();
  if (PowerViewDisplay* display = services_.display) {
    display->SetStartTime(m_startTime);
    display->SetYRange(0.0, YAxisMax(m_ratedPower));
    display->InvalidateView();
  }
}

void PowerViewEngine::OnCycleComplete() {
  if (dayLog_.pac.empty() || dayLog_.tickMs.size() < dayLog_.pac.size()) return;
  const size_t k = dayLog_.pac.size() - 1;
  if (!m_started) StartDayLog();
  if (services_.display) services_.display->AddPoint(dayLog_.tickMs[k], dayLog_.pac[k]);

  const CyclePosition position =
      LocateSample(clock_, m_startTime, dayLog_.tickMs.front(), dayLog_.tickMs[k]);
  if (m_lastSaveMinute == -1) m_lastSaveMinute = position.minute;
  if (IsSaveDue(position, m_lastSaveMinute, m_exportBusy)) SaveHistory(position.minute);
  UpdateReadouts(k);
  if (services_.onSample) services_.onSample(k, position.sampleTime);
  PublishRecord(k, position.sampleTime);

  if (position.dayChanged) {
    dayLog_.Clear();
    if (services_.display) services_.display->Clear();
    m_started = false;
    m_lastSaveMinute = -1;
    if (services_.historySaver) services_.historySaver->StartNewDayLog();
  }
}

void PowerViewEngine::UpdateReadouts(size_t k) {
  PowerViewDisplay* display = services_.display;
  if (display == nullptr) return;
  if (k < dayLog_.pac.size()) {
    display->SetPercent(GaugePercent(dayLog_.pac[k], m_ratedPower));
    display->SetPowerText(PowerText(dayLog_.pac[k]), 1);
  }
  if (k < dayLog_.eToday.size() && k < dayLog_.eTotal.size()) {
    display->SetEnergyText(EnergyText(dayLog_.eToday[k], dayLog_.eTotal[k]), 2);
  }
  if (k < dayLog_.eTotal.size()) display->SetCo2Reduction(Co2ReductionKg(dayLog_.eTotal[k]));
}

void PowerViewEngine::RefreshFromMonitor() {
  if (!m_started) StartDayLog();
  if (dayLog_.pac.empty() || dayLog_.tickMs.size() < dayLog_.pac.size()) return;
  const size_t k = dayLog_.pac.size() - 1;
  if (services_.display) services_.display->AddPoint(dayLog_.tickMs[k], dayLog_.pac[k]);
  UpdateReadouts(k);
  // The dialog's live reads are live records too: history and subscribers keep them.
  const CyclePosition position =
      LocateSample(clock_, m_startTime, dayLog_.tickMs.front(), dayLog_.tickMs[k]);
  PublishRecord(k, position.sampleTime);
}

void PowerViewEngine::PublishRecord(size_t k, int64_t sampleTime) {
  if (services_.recordSinks.empty()) return;
  LiveRecord record = MakeLiveRecord(dayLog_, k, sampleTime, clock_);
  record.serialNumber = m_com.GetSerialNumberText();
  record.ratedPower = m_ratedPower;
  record.firmwareVersion = m_com.m_firmwareVersion;
  record.link = GetLinkStatus().condition;
  for (RecordSink* sink : services_.recordSinks) sink->Accept(record);
}

void PowerViewEngine::SaveHistory(int minute) {
  // Advanced first, so a failing save is retried ten minutes later, not at every cycle.
  m_lastSaveMinute = minute;
  if (services_.historySaver == nullptr) return;
  const HistoryContext context{dayLog_, m_com.GetSerialNumberText(), m_ratedPower, m_startTime};
  services_.historySaver->SaveHistory(minute, context);
}

}  // namespace pyranex
