#pragma once

#include <memory>
#include <string>

#include "core/link/serial_device.h"

namespace pyranex {

// COM n opened by name ("COM9", "\\.\COM10") for overlapped I/O, 9600 8N1, RTS raised.
std::unique_ptr<SerialDevice> MakeWinSerialDevice();

// The name CreateFileW is given for COM `portNumber`.
std::wstring WinComDeviceName(unsigned portNumber);

// True for the errors with which Windows (and Wine) fail I/O on a device that went away.
bool IsDeviceLostError(unsigned long error);

// The read time-outs: return 20 ms after the last byte of a burst, or with nothing after a
// second. "Return at once" time-outs would make the read loop spin, and Wine never completes a
// read with the "return on the first byte" set when fewer bytes than asked arrive.
inline constexpr unsigned long kReadIntervalMs = 20;
inline constexpr unsigned long kReadTotalMs = 1000;

}  // namespace pyranex
