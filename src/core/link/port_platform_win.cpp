#include <windows.h>

#include <array>

#include "core/link/port_platform.h"
#include "core/link/win_serial_device.h"

namespace pyranex {

PortEvent::PortEvent() : handle_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

PortEvent::~PortEvent() {
  if (handle_) ::CloseHandle(handle_);
}

void PortEvent::Signal() {
  ::SetEvent(handle_);
}

void PortEvent::Reset() {
  ::ResetEvent(handle_);
}

PortWake WaitForPortWork(PortEvent& write, PortEvent& shutdown, SerialDevice* port) {
  // WaitForMultipleObjects reports the lowest index of those signalled: the order is the priority.
  std::array<HANDLE, 3> handles{write.Native(), shutdown.Native(), nullptr};
  DWORD count = 2;
  if (port) {
    handles[2] = port->ReadyEvent();
    if (handles[2]) count = 3;
  }
  const DWORD result = ::WaitForMultipleObjects(count, handles.data(), FALSE, INFINITE);
  switch (result) {
    case WAIT_OBJECT_0:
      return PortWake::Write;
    case WAIT_OBJECT_0 + 1:
      return PortWake::Shutdown;
    case WAIT_OBJECT_0 + 2:
      return PortWake::Port;
    default:
      return PortWake::Failed;
  }
}

void WaitPortWritable(SerialDevice&, int ms) {
  // A write already waits for its own completion; this only paces a retry of the rest.
  ::Sleep(static_cast<DWORD>(ms < 10 ? (ms < 0 ? 0 : ms) : 10));
}

std::string SystemErrorText(int error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8;
  if (length > 0 && text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size > 0 ? size : 0));
    if (size > 0) {
      ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(), size, nullptr,
                            nullptr);
    }
  }
  if (text) ::LocalFree(text);
  // The system's texts end in CR LF; the box's own line breaks follow them.
  while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ')) {
    utf8.pop_back();
  }
  if (utf8.empty()) utf8 = "Error " + std::to_string(error);
  return utf8;
}

int PortTimedOutError() {
  return ERROR_SEM_TIMEOUT;
}

int PortLostError() {
  return ERROR_DEVICE_REMOVED;
}

int PortAbsentError() {
  return ERROR_FILE_NOT_FOUND;
}

std::unique_ptr<SerialDevice> MakeSystemSerialDevice(const std::filesystem::path&) {
  return MakeWinSerialDevice();
}

}  // namespace pyranex
