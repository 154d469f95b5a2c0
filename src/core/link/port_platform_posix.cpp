#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>

#include "core/link/port_platform.h"
#include "core/link/posix_serial_device.h"

namespace pyranex {

PortEvent::PortEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PortEvent::~PortEvent() {
  if (fd_ >= 0) ::close(fd_);
}

void PortEvent::Signal() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(fd_, &one, sizeof one);
}

void PortEvent::Reset() {
  uint64_t value = 0;
  [[maybe_unused]] const ssize_t n = ::read(fd_, &value, sizeof value);
}

PortWake WaitForPortWork(PortEvent& write, PortEvent& shutdown, SerialDevice* port) {
  std::array<pollfd, 3> fds{{{write.Native(), POLLIN, 0},
                             {shutdown.Native(), POLLIN, 0},
                             {port ? port->PollFd() : -1, POLLIN, 0}}};
  if (::poll(fds.data(), fds.size(), -1) < 0) {
    return errno == EINTR ? PortWake::Spurious : PortWake::Failed;
  }
  if (fds[0].revents & POLLIN) return PortWake::Write;
  if (fds[1].revents & POLLIN) return PortWake::Shutdown;
  const short portEvents = fds[2].revents;
  if (portEvents & (POLLHUP | POLLERR | POLLNVAL)) return PortWake::PortHangUp;
  return portEvents != 0 ? PortWake::Port : PortWake::Spurious;
}

void WaitPortWritable(SerialDevice& port, int ms) {
  pollfd out{port.PollFd(), POLLOUT, 0};
  ::poll(&out, 1, ms);
}

std::string SystemErrorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

int PortTimedOutError() {
  return ETIMEDOUT;
}

int PortLostError() {
  return EIO;
}

int PortAbsentError() {
  return ENOENT;
}

std::unique_ptr<SerialDevice> MakeSystemSerialDevice(const std::filesystem::path& executableDir) {
  return MakePosixSerialDevice(executableDir);
}

}  // namespace pyranex
