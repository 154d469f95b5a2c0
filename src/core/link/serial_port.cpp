#include "core/link/serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "core/link/port_platform.h"

namespace pyranex {

namespace {

constexpr size_t kWriteBufferSize = 512;
constexpr size_t kReadChunk = 256;
// Reads per wake-up before the write event gets its turn again, so a flood cannot starve writes.
constexpr int kReadsPerWake = 16;
constexpr int kClosePasses = 10;
constexpr uint32_t kClosePassMs = 500;
constexpr size_t kErrorTextLimit = 199;  // the box's 200-character buffer, terminator excluded

// Cuts at most `limit` bytes without splitting a UTF-8 sequence.
std::string TruncateUtf8(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  text.resize(cut);
  return text;
}

}  // namespace

struct CSerialPort::Impl {
  PortEvent writeEvent;
  PortEvent shutdownEvent;
};

CSerialPort::CSerialPort(LinkContext context)
    : context_(std::move(context)), impl_(std::make_unique<Impl>()) {}

CSerialPort::~CSerialPort() {
  StopWorker();
  // A box handed over by the worker uses the notifier; give it a moment to close. It is never
  // waited for without limit: at exit the interface thread may be the one that must close it.
  for (int i = 0; i < 40 && workerBoxes_->load() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::lock_guard lock(portLock_);
  if (device_) device_->Close();
}

bool CSerialPort::InitPort(unsigned portNumber, bool waitForBox) {
  return OpenDevice(portNumber, nullptr, waitForBox);
}

bool CSerialPort::ReopenPort(bool waitForBox) {
  const DeviceIdentity same = ConnectedDevice();
  if (same.portNumber == 0) {
    lastOpenError_.store(PortAbsentError());
    return false;
  }
  return OpenDevice(same.portNumber, &same, waitForBox);
}

DeviceIdentity CSerialPort::ConnectedDevice() const {
  std::lock_guard lock(identityLock_);
  return connected_;
}

std::string CSerialPort::OpenErrorText(int error) {
  return SystemErrorText(error);
}

bool CSerialPort::OpenDevice(unsigned portNumber, const DeviceIdentity* same, bool waitForBox) {
  std::lock_guard life(lifecycleLock_);
  StopWorker();
  impl_->writeEvent.Reset();
  impl_->shutdownEvent.Reset();
  {
    std::lock_guard lock(writeLock_);
    writeBuffer_.clear();
  }
  portNumber_.store(portNumber);
  lost_.store(false);

  ConfigResult config;
  {
    std::lock_guard lock(portLock_);
    if (device_) device_->Close();
    device_ = context_.deviceFactory ? context_.deviceFactory()
                                     : MakeSystemSerialDevice(context_.paths.executableDir);
    const int error = !device_ ? PortAbsentError()
                      : same   ? device_->Reopen(*same)
                               : device_->Open(portNumber);
    lastOpenError_.store(error);
    if (error != 0) {
      device_.reset();
      // A new choice that does not open forgets the old device: nothing reopens it later.
      if (same == nullptr) {
        std::lock_guard identity(identityLock_);
        connected_ = {};
      }
      return false;
    }
    if (same == nullptr) {
      DeviceIdentity identity = device_->Identity();
      identity.portNumber = portNumber;
      std::lock_guard lockIdentity(identityLock_);
      connected_ = std::move(identity);
    }
    device_->Purge(true, true);
    config = device_->Configure();
    device_->Purge(true, true);
  }
  // Reported outside the lock: the box blocks until the user answers.
  if (!config.failedStep.empty()) {
    if (waitForBox) {
      ReportError(config.failedStep.c_str(), config.error);
    } else {
      HandOverBox(config.failedStep.c_str(), config.error);
    }
  }
  return true;
}

bool CSerialPort::StartMonitoring() {
  std::lock_guard life(lifecycleLock_);
  if (threadAlive_.load()) return false;
  if (worker_.joinable()) worker_.join();
  // Set before the thread runs so a ClosePort right after this call cannot miss it.
  threadAlive_.store(true);
  try {
    worker_ = std::thread([this] { CommThread(); });
  } catch (const std::system_error&) {
    threadAlive_.store(false);
    return false;
  }
  return true;
}

void CSerialPort::ClosePort() {
  std::lock_guard life(lifecycleLock_);
  for (int pass = 0; pass < kClosePasses; ++pass) {
    impl_->shutdownEvent.Signal();
    context_.clock.SleepMs(kClosePassMs);
    if (!threadAlive_.load()) break;
  }
  if (worker_.joinable()) worker_.join();
  std::lock_guard lock(portLock_);
  if (device_) {
    device_->Close();
    device_.reset();
  }
  lost_.store(false);
}

void CSerialPort::StopWorker() {
  if (!worker_.joinable()) return;
  impl_->shutdownEvent.Signal();
  worker_.join();
}

bool CSerialPort::IsOpen() const {
  std::lock_guard lock(portLock_);
  return device_ && device_->IsOpen();
}

void CSerialPort::RequestWrite(std::span<const uint8_t> frame) {
  {
    std::lock_guard lock(writeLock_);
    const size_t n = std::min(frame.size(), kWriteBufferSize);
    writeBuffer_.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n));
  }
  impl_->writeEvent.Signal();
}

TrafficSnapshot CSerialPort::SnapshotRing() const {
  std::lock_guard lock(ringLock_);
  return ring_;
}

void CSerialPort::CommThread() {
  {
    std::lock_guard lock(portLock_);
    if (device_ && device_->IsOpen()) device_->Purge(true, true);
  }
  for (;;) {
    // device_ only changes while no worker runs, so reading it here needs no lock.
    const bool watchPort = device_ && device_->IsOpen() && !lost_.load();
    const PortWake wake = WaitForPortWork(impl_->writeEvent, impl_->shutdownEvent,
                                          watchPort ? device_.get() : nullptr);
    if (wake == PortWake::Failed) break;
    if (wake == PortWake::Spurious) continue;
    wakeups_.fetch_add(1);
    // Priority as the event set orders it: write, then shutdown, then the port.
    if (wake == PortWake::Write) {
      WritePending();
      continue;
    }
    if (wake == PortWake::Shutdown) break;
    const bool gotSomething = ReadAvailable();
    if (!gotSomething && wake == PortWake::PortHangUp) MarkLost(PortLostError());
  }
  threadAlive_.store(false);
}

void CSerialPort::WritePending() {
  impl_->writeEvent.Reset();
  std::vector<uint8_t> frame;
  {
    std::lock_guard lock(writeLock_);
    frame.swap(writeBuffer_);
  }
  if (frame.empty() || lost_.load()) return;  // nothing new, or nowhere to send it

  size_t written = 0;
  IoResult failure;
  {
    std::lock_guard lock(portLock_);
    if (!device_ || !device_->IsOpen()) return;
    device_->Purge(false, true);
    // The port's write time-out: 50 ms plus 5 ms a byte.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(50 + 5 * frame.size());
    while (written < frame.size()) {
      const IoResult r = device_->Write(std::span(frame).subspan(written));
      if (r.lost || r.error != 0) {
        failure = r;
        break;
      }
      written += r.bytes;
      if (written == frame.size()) break;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        failure.error = PortTimedOutError();
        break;
      }
      WaitPortWritable(*device_, static_cast<int>(left.count()));
    }
  }
  if (failure.lost) {
    MarkLost(failure.error);
    return;
  }
  if (failure.error != 0) HandOverBox("WriteFile()", failure.error);

  std::lock_guard lock(ringLock_);
  TrafficSlot& slot = ring_.slots[static_cast<size_t>(ring_.nextSlot)];
  slot.sent.assign(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(written));
  slot.received.clear();
  slot.receivedCut = 0;
  slot.sendTime = context_.clock.Now();
  ring_.nextSlot = (ring_.nextSlot + 1) % kRingSlots;
}

bool CSerialPort::ReadAvailable() {
  std::array<uint8_t, kReadChunk> buffer{};
  bool gotSomething = false;
  for (int round = 0; round < kReadsPerWake; ++round) {
    IoResult r;
    {
      std::lock_guard lock(portLock_);
      if (!device_ || !device_->IsOpen()) return gotSomething;
      r = device_->Read(buffer);
    }
    if (r.lost) {
      MarkLost(r.error);
      return true;
    }
    if (r.error != 0) {
      // The byte buffer holds nothing valid after a failed read, so nothing is handed on.
      HandOverBox("ReadFile()", r.error);
      return true;
    }
    if (r.bytes == 0) return gotSomething;
    gotSomething = true;
    const std::span<const uint8_t> bytes(buffer.data(), r.bytes);
    RecordReceived(bytes);
    for (const uint8_t byte : bytes) OnReceiveByte(byte);
  }
  return gotSomething;
}

void CSerialPort::RecordReceived(std::span<const uint8_t> bytes) {
  std::lock_guard lock(ringLock_);
  TrafficSlot& slot =
      ring_.slots[static_cast<size_t>((ring_.nextSlot + kRingSlots - 1) % kRingSlots)];
  if (bytes.empty()) return;
  if (slot.received.empty() && slot.receivedCut == 0) slot.receiveTime = context_.clock.Now();
  const size_t room = kReceivedKeep - std::min(slot.received.size(), kReceivedKeep);
  const size_t kept = std::min(room, bytes.size());
  slot.received.insert(slot.received.end(), bytes.begin(),
                       bytes.begin() + static_cast<std::ptrdiff_t>(kept));
  slot.receivedCut += bytes.size() - kept;
}

void CSerialPort::MarkLost(int error) {
  if (lost_.exchange(true)) return;
  HandOverBox("ReadFile()", error != 0 ? error : PortLostError());
}

std::string CSerialPort::ErrorText(const char* operation, int error, unsigned portNumber) {
  const std::string system = SystemErrorText(error);
  const int needed =
      std::snprintf(nullptr, 0, "WARNING:  %s Failed with the following error: \n%s\nPort: %d\n",
                    operation, system.c_str(), static_cast<int>(portNumber));
  std::string text(static_cast<size_t>(std::max(needed, 0)) + 1, '\0');
  std::snprintf(text.data(), text.size(),
                "WARNING:  %s Failed with the following error: \n%s\nPort: %d\n", operation,
                system.c_str(), static_cast<int>(portNumber));
  text.resize(text.size() - 1);
  return TruncateUtf8(std::move(text), kErrorTextLimit);
}

void CSerialPort::ReportError(const char* operation, int error) {
  context_.notifier.Show(ErrorText(operation, error, portNumber_.load()), "Application Error",
                         NoticeIcon::Error, NoticeButtons::Ok);
}

void CSerialPort::HandOverBox(const char* operation, int error) {
  int expected = 0;
  if (!workerBoxes_->compare_exchange_strong(expected, 1)) return;
  std::string text = ErrorText(operation, error, portNumber_.load());
  try {
    std::thread([boxes = workerBoxes_, &notifier = context_.notifier, text = std::move(text)] {
      notifier.Show(text, "Application Error", NoticeIcon::Error, NoticeButtons::Ok);
      boxes->store(0);
    }).detach();
  } catch (const std::system_error&) {
    workerBoxes_->store(0);  // no thread for the box: the failure goes unshown
  }
}

}  // namespace pyranex
