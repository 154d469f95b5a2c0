#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace pyranex {

// Outcome of one read or write on a device.
struct IoResult {
  size_t bytes = 0;   // bytes moved
  bool lost = false;  // the device went away (hang-up, EIO, read of 0 on a tty)
  int error = 0;      // the failure's error number (also of a loss, when known); 0 when fine
};

// Outcome of configuring an opened device: the failed step's operation name and its errno.
struct ConfigResult {
  std::string failedStep;  // empty on success, else e.g. "SetCommState()"
  int error = 0;
};

// What a COM number stood for when its device was opened, so that a reopen takes that same
// device or none. On POSIX: the override link, the adapter's by-id link or the node, with the
// by-id name the device had; on Windows the COM name is the device and `name` stays empty.
struct DeviceIdentity {
  unsigned portNumber = 0;
  std::string name;
  std::string byIdName;
  std::string label;  // how the user knows it: the by-id name, "ports/COM3" or the node
};

// The platform's serial device: one per port. The worker thread waits on PollFd() (ReadyEvent()
// on Windows) together with its own events, so a device must give something that becomes ready
// when bytes arrive and reports hang-up when the device is lost. Error numbers are errno values,
// or GetLastError() values on Windows.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  // Opens the device that COM `portNumber` names; returns 0 or an error number.
  virtual int Open(unsigned portNumber) = 0;
  // Opens the device `identity` describes and nothing else: an error number while it is absent,
  // or while its name leads to another device.
  virtual int Reopen(const DeviceIdentity& identity) { return Open(identity.portNumber); }
  // What the open device is, for a later Reopen.
  virtual DeviceIdentity Identity() const { return {}; }
  // 9600 baud, 8N1, raw, RTS raised, no flow control.
  virtual ConfigResult Configure() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
#ifdef _WIN32
  // An event object that is signalled when Read has something to report (bytes, a failure);
  // starts the device's overlapped read when none is outstanding.
  virtual void* ReadyEvent() = 0;
#else
  virtual int PollFd() const = 0;
#endif
  // Never blocks: bytes == 0 with no error and not lost means nothing is waiting.
  virtual IoResult Read(std::span<uint8_t> buffer) = 0;
  virtual IoResult Write(std::span<const uint8_t> bytes) = 0;
  virtual void Purge(bool receive, bool transmit) = 0;
};

using SerialDeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

}  // namespace pyranex
