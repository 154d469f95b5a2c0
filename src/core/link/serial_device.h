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
  int error = 0;  // errno of a failure that is not a loss; 0 when fine or merely nothing waiting
};

// Outcome of configuring an opened device: the failed step's operation name and its errno.
struct ConfigResult {
  std::string failedStep;  // empty on success, else e.g. "SetCommState()"
  int error = 0;
};

// The platform's serial device: one per port. The worker thread waits on PollFd() together with
// its own events, so a device must give a descriptor that becomes readable when bytes arrive and
// reports hang-up when the device is lost.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  // Opens the device that COM `portNumber` names; returns 0 or an errno value.
  virtual int Open(unsigned portNumber) = 0;
  // 9600 baud, 8N1, raw, RTS raised, no flow control.
  virtual ConfigResult Configure() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual int PollFd() const = 0;
  // Never blocks: bytes == 0 with no error and not lost means nothing is waiting.
  virtual IoResult Read(std::span<uint8_t> buffer) = 0;
  virtual IoResult Write(std::span<const uint8_t> bytes) = 0;
  virtual void Purge(bool receive, bool transmit) = 0;
};

using SerialDeviceFactory = std::function<std::unique_ptr<SerialDevice>()>;

}  // namespace pyranex
