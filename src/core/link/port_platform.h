#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "core/link/serial_device.h"

namespace pyranex {

// What the port worker needs from the operating system, one implementation per platform.

// A manual-reset event the worker waits on: an eventfd on POSIX, an event object on Windows.
class PortEvent {
 public:
  PortEvent();
  ~PortEvent();
  PortEvent(const PortEvent&) = delete;
  PortEvent& operator=(const PortEvent&) = delete;

  void Signal();
  void Reset();
#ifdef _WIN32
  void* Native() const {
    return handle_;
  }

 private:
  void* handle_;
#else
  int Native() const {
    return fd_;
  }

 private:
  int fd_;
#endif
};

enum class PortWake {
  Write,       // the write event
  Shutdown,    // the shutdown event
  Port,        // the port has something to report
  PortHangUp,  // the port reports hang-up (read what is left; nothing left means lost)
  Spurious,    // nothing of ours (an interrupted wait): wait again
  Failed,      // the wait itself failed: the worker cannot go on
};

// Waits without a time limit for the write event, the shutdown event or, when `port` is given,
// the port. A lower one in that order wins when several are ready.
PortWake WaitForPortWork(PortEvent& write, PortEvent& shutdown, SerialDevice* port);

// Waits at most `ms` for room to write to `port`.
void WaitPortWritable(SerialDevice& port, int ms);

// The system's own text for an error number of this platform (errno or GetLastError()).
std::string SystemErrorText(int error);

// The error reported when a write did not finish within the port's write time-out.
int PortTimedOutError();
// The error reported for a device that went away without saying why.
int PortLostError();
// The error reported for a port that names no device.
int PortAbsentError();

// The platform's serial devices, COM numbers named as this platform names them.
std::unique_ptr<SerialDevice> MakeSystemSerialDevice(const std::filesystem::path& executableDir);

}  // namespace pyranex
