#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core/acquisition/link_status.h"
#include "core/acquisition/live_record.h"
#include "core/acquisition/monitor_hooks.h"
#include "core/acquisition/power_view_display.h"
#include "core/acquisition/register_store.h"
#include "core/link/inverter_com.h"
#include "core/platform/message_sink.h"
#include "core/samples/day_log.h"
#include "core/samples/history_saver.h"

namespace pyranex {

inline constexpr uint32_t kPollPeriodMs = 200;
inline constexpr uint32_t kReplyTimeoutMs = 2000;
inline constexpr uint32_t kReopenIntervalMs = 1000;
inline constexpr int kMissesBeforeNotice = 3;
// Traffic log event code written once when the device is lost (unplugged adapter, hang-up).
inline constexpr int kLostDeviceLogCode = 4;

inline constexpr const char* kCommTimeoutText = "Comm. time out error!";
inline constexpr const char* kLengthMismatchText = "error occour really!";

// What the power view is handed. Every pointer may be null: that part is then left out.
struct PowerViewServices {
  explicit PowerViewServices(LinkContext linkContext) : link(std::move(linkContext)) {}

  LinkContext link;  // the owner sink also receives WM_INV_TIMEOUT
  PowerViewDisplay* display = nullptr;
  HistorySaver* historySaver = nullptr;
  MonitorGate* monitorGate = nullptr;
  // Tests drive PollTick themselves and turn the thread off.
  bool runPollThread = true;
  // Identification after a connect keeps trying (both framings in turn) until an inverter
  // answers, as it always does after an automatic reopen; otherwise it gives up after the
  // broadcast, as the program does. For a headless logger that starts before sunrise.
  bool keepIdentifying = false;
  // Nobody is there to close the time-out box (a headless logger): one notice and one log per
  // silence, as a box left open on an unattended screen gives, not one every six seconds all
  // night. The next notice comes after the inverter has answered again.
  bool unattended = false;
  // Called after each completed live-data cycle with the index of its sample and its calendar
  // time, before the day change empties the log.
  std::function<void(size_t, int64_t)> onSample;
  // Receive every live record (history store, home energy bus), on the interface thread.
  std::vector<RecordSink*> recordSinks;
};

// The heart of the power view: connects, identifies the inverter, paces the polls on its own
// thread, supervises the link, dispatches the received values and keeps the day log with its
// readouts and history saves. The interface thread calls the On... handlers with the messages
// posted to the owner; the poll thread runs PollThreadProc.
class PowerViewEngine {
 public:
  explicit PowerViewEngine(PowerViewServices services);
  ~PowerViewEngine();
  PowerViewEngine(const PowerViewEngine&) = delete;
  PowerViewEngine& operator=(const PowerViewEngine&) = delete;

  // --- interface thread -------------------------------------------------------------------
  // Connect to COM `portNumber`: ends a previous connection, opens the port, starts its worker,
  // sends the standard Modbus probe and starts the poll thread. False when the port did not open.
  bool OnComSetting(unsigned portNumber);
  // Ends the poll thread and closes the port (shut-down).
  void Disconnect();
  // Routes WM_INV_REGISTER and WM_INV_TIMEOUT; false for any other message.
  bool HandleMessage(const PostedMessage& message);
  void OnRegisterValue(uintptr_t wParam, intptr_t lParam);
  void OnCommTimeout();
  void OnParSetting() { m_parRequested = true; }

  void StoreRegisterValue(int value, uint32_t registerNumber);
  void OnCycleComplete();
  void UpdateReadouts(size_t k);
  // The readouts from the newest sample while the monitor dialog polls: no history, no day change.
  void RefreshFromMonitor();
  void SaveHistory(int minute);
  // Password gate, then the monitor dialog, modally; takes its value index back afterwards.
  void OpenMonitor();

  // --- poll thread -------------------------------------------------------------------------
  void PollThreadProc();
  void PollTick();
  void SendPoll();

  // --- either thread -----------------------------------------------------------------------
  void SetMonitor(std::shared_ptr<MonitorDialog> dialog);
  std::shared_ptr<MonitorDialog> Monitor() const;
  bool IsPollThreadRunning() const { return pollThread_.joinable(); }

  // What the link is doing, for the status bar. Callable from any thread.
  LinkStatus GetLinkStatus() const;

  CInverterCom& Link() { return m_com; }
  const DayLog& GetDayLog() const { return dayLog_; }
  const RegisterStore& Store() const { return store_; }
  int64_t StartTime() const { return m_startTime; }

  // Fields of the program's view. Atomics are shared with the poll thread; the rest belong to
  // the interface thread.
  std::atomic<bool> m_portOpen{false};
  std::atomic<unsigned> m_comPort{0};
  std::atomic<uint32_t> m_pollMode{0};
  std::atomic<uint32_t> m_missCount{0};
  std::atomic<bool> m_skipCycleEnd{false};
  std::atomic<bool> m_timeoutBoxShown{false};
  uint32_t m_registerIndex = 0;
  uint32_t m_identifyCount = 0;
  bool m_versionPending = false;
  bool m_parRequested = false;
  int m_ratedPower = 0;  // units of 100 W; 0 until register 44 arrives
  bool m_started = false;
  int m_lastSaveMinute = -1;
  bool m_exportBusy = false;
  int64_t m_startTime = 0;

 private:
  // Sets the link up for the 0xFF probe (or the serial broadcast) and sends it, the receiver
  // back at address matching first.
  void StartIdentification(Framing first = FramingModbus);
  void SerialFallback();
  // The lost or closed port: close it, then reopen about once a second. True while it is down.
  bool SuperviseLostPort(uint32_t now);
  void CountMiss();
  bool ReceiverStuckInFrame() const;
  // A request the poll thread sent: the interface thread counts the next reply from zero.
  void NoteRequestFromPollThread() { requestGeneration_.fetch_add(1); }
  void CatchUpWithRequests();
  void StartDayLog();
  void PublishRecord(size_t k, int64_t sampleTime);
  void EndOfExchange();
  void StopPollThread();

  PowerViewServices services_;
  Clock& clock_;
  Notifier& notifier_;
  CInverterCom m_com;
  DayLog dayLog_;
  RegisterStore store_;

  mutable std::mutex monitorLock_;
  std::shared_ptr<MonitorDialog> m_monitorDlg;

  std::thread pollThread_;
  std::atomic<bool> pollThreadRunning_{false};
  std::mutex stopLock_;
  std::condition_variable stopSignal_;
  bool stopRequested_ = false;  // under stopLock_

  uint32_t reopenTick_ = 0;  // poll thread: last reopening attempt
  // Identification tries again after the broadcast too (automatic reopen, keepIdentifying).
  std::atomic<bool> retryIdentification_{false};
  // The framing the inverter last answered in; tried first after a reopen.
  std::atomic<uint32_t> identifiedFraming_{FramingModbus};
  std::atomic<uint32_t> missStreak_{0};  // misses since the last reply (link status)
  std::atomic<uint32_t> repliesAtConnect_{0};
  std::optional<uint32_t> repliesAtNotice_;  // interface thread: unattended time-out notices
  std::atomic<uint32_t> requestGeneration_{0};
  std::atomic<uint32_t> lastValueHandledTick_{0};  // when the interface thread last took a value
  uint32_t seenGeneration_ = 0;                    // interface thread
};

}  // namespace pyranex
