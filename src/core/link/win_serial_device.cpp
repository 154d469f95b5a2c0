#include "core/link/win_serial_device.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "core/link/com_port_path.h"

namespace pyranex {

namespace {

constexpr DWORD kInputQueue = 4096;
constexpr DWORD kOutputQueue = 512;
constexpr size_t kReadChunk = 256;
constexpr int kCloseTries = 10;
// Failed reads in a row after which the device counts as lost, so a port that fails every read
// cannot keep the worker reporting for ever.
constexpr int kFailuresBeforeLost = 3;
// A read that ends empty long before its total time-out means the line is gone (Wine reports a
// hung-up pseudo-terminal that way); a few in a row count as a lost device, instead of a spin.
constexpr ULONGLONG kEarlyEmptyMs = kReadTotalMs / 2;
constexpr int kEarlyEmptyReadsBeforeLost = 3;

// A read time-out is no failure: it ends a read with what has arrived, possibly nothing. Windows
// completes such a read successfully; Wine fails it with a time-out error.
bool IsReadTimeout(DWORD error) {
  return error == WAIT_TIMEOUT || error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT;
}

class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

IoResult Failure(DWORD error) {
  return {0, IsDeviceLostError(error), static_cast<int>(error)};
}

class WinSerialDevice final : public SerialDevice {
 public:
  WinSerialDevice()
      : readEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        writeEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~WinSerialDevice() override { Close(); }

  int Open(unsigned portNumber) override {
    Close();
    if (!readEvent_.Get() || !writeEvent_.Get()) return ERROR_NOT_ENOUGH_MEMORY;
    const std::wstring name = WinComDeviceName(portNumber);
    const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      return error != 0 ? static_cast<int>(error) : ERROR_FILE_NOT_FOUND;
    }
    // Something that answers no serial call is no COM port. Wine opens a link whose pseudo-terminal
    // went away (a hang-up) as a plain file for a moment, until the line is back.
    DCB probe{};
    probe.DCBlength = sizeof probe;
    if (!::GetCommState(h, &probe) && ::GetLastError() == ERROR_INVALID_FUNCTION) {
      ::CloseHandle(h);
      return ERROR_INVALID_FUNCTION;
    }
    port_ = h;
    ::SetupComm(port_, kInputQueue, kOutputQueue);
    failures_ = 0;
    earlyEmptyReads_ = 0;
    return 0;
  }

  ConfigResult Configure() override {
    COMMTIMEOUTS timeouts{};
    ::GetCommTimeouts(port_, &timeouts);
    timeouts.ReadIntervalTimeout = kReadIntervalMs;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = kReadTotalMs;
    timeouts.WriteTotalTimeoutMultiplier = 5;
    timeouts.WriteTotalTimeoutConstant = 50;
    if (!::SetCommTimeouts(port_, &timeouts)) return Failed("SetCommTimeouts()");
    if (!::SetCommMask(port_, EV_RXCHAR | EV_CTS)) return Failed("SetCommMask()");
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port_, &dcb)) return Failed("GetCommState()");
    dcb.DCBlength = sizeof dcb;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    std::array<wchar_t, 64> settings{};
    ::swprintf(settings.data(), settings.size(), L"baud=%d parity=%c data=%d stop=%d", 9600, L'N',
               8, 1);
    if (!::BuildCommDCBW(settings.data(), &dcb)) return Failed("BuildCommDCB()");
    if (!::SetCommState(port_, &dcb)) return Failed("SetCommState()");
    return {};
  }

  void Close() override {
    if (port_ == INVALID_HANDLE_VALUE) return;
    ::CancelIoEx(port_, nullptr);
    ReapRead();
    for (int attempt = 0; attempt < kCloseTries; ++attempt) {
      if (::CloseHandle(port_)) break;
    }
    port_ = INVALID_HANDLE_VALUE;
    spill_.clear();
    readError_ = 0;
  }

  bool IsOpen() const override { return port_ != INVALID_HANDLE_VALUE; }

  void* ReadyEvent() override {
    if (IsOpen() && !readPending_ && readError_ == 0 && spill_.empty()) StartRead();
    return readEvent_.Get();
  }

  IoResult Read(std::span<uint8_t> buffer) override {
    if (!IsOpen()) return Failure(ERROR_INVALID_HANDLE);
    if (!spill_.empty()) return TakeSpill(buffer);
    if (readError_ != 0) {
      const DWORD error = readError_;
      readError_ = 0;
      ::ResetEvent(readEvent_.Get());
      return CountFailure(error);
    }
    if (!readPending_) {
      StartRead();
      if (readError_ != 0) return Read(buffer);
    }
    DWORD n = 0;
    if (!::GetOverlappedResult(port_, &readOverlapped_, &n, FALSE)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_INCOMPLETE) return {};
      if (!IsReadTimeout(error)) {
        readPending_ = false;
        ::ResetEvent(readEvent_.Get());
        return CountFailure(error);
      }
      n = 0;
    }
    readPending_ = false;
    failures_ = 0;
    spill_.assign(readBuffer_.begin(), readBuffer_.begin() + n);
    if (!spill_.empty()) {
      earlyEmptyReads_ = 0;
      return TakeSpill(buffer);
    }
    if (::GetTickCount64() - readStarted_ < kEarlyEmptyMs) {
      if (++earlyEmptyReads_ >= kEarlyEmptyReadsBeforeLost) {
        ::ResetEvent(readEvent_.Get());
        return {0, true, ERROR_DEVICE_NOT_CONNECTED};
      }
    } else {
      earlyEmptyReads_ = 0;
    }
    // Nothing arrived within the read's time-out: wait again.
    StartRead();
    return {};
  }

  IoResult Write(std::span<const uint8_t> bytes) override {
    if (!IsOpen()) return Failure(ERROR_INVALID_HANDLE);
    writeOverlapped_ = OVERLAPPED{};
    writeOverlapped_.hEvent = writeEvent_.Get();
    const DWORD size = static_cast<DWORD>(std::min<size_t>(bytes.size(), MAXDWORD));
    if (!::WriteFile(port_, bytes.data(), size, nullptr, &writeOverlapped_)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) return Failure(error);
    }
    // Bounded by the write time-outs: 50 ms plus 5 ms a byte.
    DWORD n = 0;
    if (!::GetOverlappedResult(port_, &writeOverlapped_, &n, TRUE)) {
      return Failure(::GetLastError());
    }
    return {n, false, 0};
  }

  void Purge(bool receive, bool transmit) override {
    if (!IsOpen() || (!receive && !transmit)) return;
    DWORD flags = 0;
    if (receive) {
      // Our own read is cancelled and reaped first, so its abort is never taken for a loss.
      if (readPending_) ::CancelIoEx(port_, &readOverlapped_);
      ReapRead();
      spill_.clear();
      flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    }
    if (transmit) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    ::PurgeComm(port_, flags);
  }

 private:
  ConfigResult Failed(const char* step) const { return {step, static_cast<int>(::GetLastError())}; }

  void StartRead() {
    readOverlapped_ = OVERLAPPED{};
    readOverlapped_.hEvent = readEvent_.Get();
    readStarted_ = ::GetTickCount64();
    // Completed at once or pending, the result comes from GetOverlappedResult either way.
    if (::ReadFile(port_, readBuffer_.data(), static_cast<DWORD>(readBuffer_.size()), nullptr,
                   &readOverlapped_) ||
        ::GetLastError() == ERROR_IO_PENDING) {
      readPending_ = true;
      return;
    }
    readError_ = ::GetLastError();
    if (readError_ == 0) readError_ = ERROR_GEN_FAILURE;
    ::SetEvent(readEvent_.Get());
  }

  void ReapRead() {
    if (!readPending_) return;
    DWORD n = 0;
    ::GetOverlappedResult(port_, &readOverlapped_, &n, TRUE);
    readPending_ = false;
    ::ResetEvent(readEvent_.Get());
  }

  IoResult TakeSpill(std::span<uint8_t> buffer) {
    const size_t n = std::min(buffer.size(), spill_.size());
    std::copy_n(spill_.begin(), n, buffer.begin());
    spill_.erase(spill_.begin(), spill_.begin() + static_cast<std::ptrdiff_t>(n));
    if (spill_.empty()) StartRead();
    return {n, false, 0};
  }

  IoResult CountFailure(DWORD error) {
    IoResult r = Failure(error);
    if (!r.lost && ++failures_ >= kFailuresBeforeLost) r.lost = true;
    return r;
  }

  Handle readEvent_;
  Handle writeEvent_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
  OVERLAPPED readOverlapped_{};
  OVERLAPPED writeOverlapped_{};
  std::array<uint8_t, kReadChunk> readBuffer_{};
  std::vector<uint8_t> spill_;  // received bytes the caller's buffer had no room for yet
  bool readPending_ = false;
  DWORD readError_ = 0;  // a read that failed to start, reported by the next Read
  int failures_ = 0;
  ULONGLONG readStarted_ = 0;
  int earlyEmptyReads_ = 0;
};

}  // namespace

std::unique_ptr<SerialDevice> MakeWinSerialDevice() {
  return std::make_unique<WinSerialDevice>();
}

std::wstring WinComDeviceName(unsigned portNumber) {
  const std::string name = WindowsComPortName(portNumber);
  return std::wstring(name.begin(), name.end());
}

bool IsDeviceLostError(unsigned long error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
    case ERROR_HANDLE_EOF:
    case ERROR_BROKEN_PIPE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
      return true;
    default:
      return false;
  }
}

}  // namespace pyranex
