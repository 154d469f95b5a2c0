#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "core/link/serial_device.h"
#include "core/platform/clock.h"
#include "core/platform/message_sink.h"
#include "core/platform/notifier.h"
#include "core/platform/paths.h"

namespace pyranex {

inline constexpr int kRingSlots = 20;
// Received bytes kept per exchange. Our largest reply is well under this; a noisy line or a
// wrong device streaming without pause is cut here instead of growing without bound.
inline constexpr size_t kReceivedKeep = 1024;

// One exchange as the traffic ring keeps it.
struct TrafficSlot {
  std::vector<uint8_t> sent;
  std::vector<uint8_t> received;  // at most kReceivedKeep
  uint64_t receivedCut = 0;       // bytes received beyond that, not kept
  int64_t sendTime = 0;           // calendar seconds
  int64_t receiveTime = 0;  // arrival of the first received byte; kept on reuse until replaced
};

// A consistent copy of the ring: `nextSlot` is the slot the next write will use (the oldest).
struct TrafficSnapshot {
  std::array<TrafficSlot, kRingSlots> slots;
  int nextSlot = 0;
};

// Everything a port needs from its surroundings.
struct LinkContext {
  MessageSink& owner;  // receives the messages the subclass posts
  Clock& clock;
  Notifier& notifier;
  Paths paths;
  SerialDeviceFactory deviceFactory;  // empty: the platform's own devices (COM numbering)
};

// Owns one serial port and its worker thread: writes the pending request frame when asked and
// hands every received byte to OnReceiveByte. Keeps the ring of the last 20 exchanges.
class CSerialPort {
 public:
  explicit CSerialPort(LinkContext context);
  virtual ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // Opens COM `portNumber` (1..99) at 9600 8N1. False when it cannot be opened; shows nothing then.
  // A failed configuration step is shown in a box; with `waitForBox` false (a reopen on the poll
  // thread) the box is handed over as the worker's are, so no one waiting for this thread (a
  // connect or exit on the interface thread) waits for the box too.
  bool InitPort(unsigned portNumber, bool waitForBox = true);
  // Opens again the device the last successful InitPort opened, and only that one: false while
  // it is absent or its name leads to another device (an adapter unplugged, another one
  // plugged in). Never falls back to whatever the COM number names now.
  bool ReopenPort(bool waitForBox = false);
  // Starts the worker thread; true if it started.
  bool StartMonitoring();
  // Stops the worker (at least one 500 ms wait, at most ~5 s) and closes the port. The worker
  // never waits for the interface thread, so this never hangs on a box that is open.
  void ClosePort();

  bool IsOpen() const;
  // The device went away (unplugged adapter, closed pty master). Reported once; the worker then
  // stops watching the port until it is closed and opened again.
  bool IsLost() const { return lost_.load(); }
  bool IsWorkerAlive() const { return threadAlive_.load(); }
  unsigned PortNumber() const { return portNumber_.load(); }
  // Why the last InitPort or ReopenPort failed: the system's error number (errno, or
  // GetLastError() on Windows); 0 after one that opened.
  int LastOpenError() const { return lastOpenError_.load(); }
  // The system's text for an open error, e.g. "Device or resource busy".
  static std::string OpenErrorText(int error);
  // The device the last successful InitPort opened; empty name before any.
  DeviceIdentity ConnectedDevice() const;

  // Hands a whole frame to the worker and signals the write event. A frame requested before the
  // worker woke is replaced by the later one (one write of the latest frame).
  void RequestWrite(std::span<const uint8_t> frame);

  TrafficSnapshot SnapshotRing() const;

  // Number of times the worker woke from its wait (for tests of the lost-device behaviour).
  uint64_t WorkerWakeups() const { return wakeups_.load(); }

 protected:
  // Called on the worker thread for every received byte, in arrival order.
  virtual void OnReceiveByte(uint8_t byte) = 0;

  MessageSink& Owner() const { return context_.owner; }
  Clock& GetClock() const { return context_.clock; }
  Notifier& GetNotifier() const { return context_.notifier; }
  const Paths& GetPaths() const { return context_.paths; }

  // Shows "WARNING:  <operation> Failed with the following error: ..." with caption
  // "Application Error".
  void ReportError(const char* operation, int error);

  // Ends the worker at once (no 500 ms waits). A subclass calls it from its destructor, so the
  // worker never calls OnReceiveByte on a half-destroyed object.
  void StopWorker();

  static std::string ErrorText(const char* operation, int error, unsigned portNumber);

 private:
  bool OpenDevice(unsigned portNumber, const DeviceIdentity* same, bool waitForBox);
  void CommThread();
  void WritePending();
  // False when the device reported nothing to read (used to spot a silent hang-up).
  bool ReadAvailable();
  void MarkLost(int error);
  // The worker's own failures: the box is handed to a thread of its own, so the worker goes on
  // and a ClosePort on the interface thread is never stuck behind a box that thread must show.
  // One such box at a time; failures while it is open are not shown again.
  void HandOverBox(const char* operation, int error);
  void RecordReceived(std::span<const uint8_t> bytes);

  struct Impl;  // events and the platform wait
  LinkContext context_;
  std::unique_ptr<Impl> impl_;
  std::unique_ptr<SerialDevice> device_;
  std::thread worker_;
  std::atomic<bool> threadAlive_{false};
  std::atomic<bool> lost_{false};
  std::atomic<unsigned> portNumber_{0};
  std::atomic<int> lastOpenError_{0};
  mutable std::mutex identityLock_;
  DeviceIdentity connected_;  // under identityLock_
  std::atomic<uint64_t> wakeups_{0};
  // Set while a box handed over by the worker is open; shared with the thread that shows it.
  std::shared_ptr<std::atomic<int>> workerBoxes_ = std::make_shared<std::atomic<int>>(0);

  std::mutex lifecycleLock_;     // InitPort, StartMonitoring, ClosePort from any thread
  mutable std::mutex portLock_;  // calls on the device and the opening sequence
  std::mutex writeLock_;         // the pending frame
  std::vector<uint8_t> writeBuffer_;
  mutable std::mutex ringLock_;  // the traffic ring
  TrafficSnapshot ring_;
};

}  // namespace pyranex
