#include "core/link/posix_serial_device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "core/link/com_port_path.h"

namespace pyranex {

namespace {

class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(std::filesystem::path executableDir)
      : executableDir_(std::move(executableDir)) {}
  ~PosixSerialDevice() override { Close(); }

  int Open(unsigned portNumber) override {
    Close();
    const auto path = ResolveComPort(portNumber, executableDir_);
    if (!path) return ENOENT;
    fd_ = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return errno;
    // Only a terminal is ever written: a COM link pointing at a regular file or /dev/null
    // would otherwise be overwritten by the probe.
    if (!::isatty(fd_)) {
      Close();
      return ENOTTY;
    }
    // No sharing, as the port is opened on Windows. TIOCEXCL does not bind root and a pty
    // ignores it, so a second program on the same port is also kept out by an advisory lock.
    ::ioctl(fd_, TIOCEXCL);
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno == EWOULDBLOCK ? EBUSY : errno;
      Close();
      return error;
    }
    return 0;
  }

  ConfigResult Configure() override {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return {"GetCommState()", errno};
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // VMIN 1 makes read() of 0 mean hang-up; O_NONBLOCK gives EAGAIN when nothing waits.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0) {
      return {"BuildCommDCB()", errno};
    }
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return {"SetCommState()", errno};
    int rts = TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIS, &rts);  // not every tty has modem lines (a pty has none)
    return {};
  }

  void Close() override {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  bool IsOpen() const override { return fd_ >= 0; }
  int PollFd() const override { return fd_; }

  IoResult Read(std::span<uint8_t> buffer) override {
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n > 0) return {static_cast<size_t>(n), false, 0};
    if (n == 0) return {0, true, 0};
    if (errno == EAGAIN || errno == EINTR) return {};
    if (errno == EIO || errno == ENXIO || errno == ENODEV) return {0, true, errno};
    return {0, false, errno};
  }

  IoResult Write(std::span<const uint8_t> bytes) override {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n >= 0) return {static_cast<size_t>(n), false, 0};
    if (errno == EAGAIN || errno == EINTR) return {};
    if (errno == EIO || errno == ENXIO || errno == ENODEV) return {0, true, errno};
    return {0, false, errno};
  }

  void Purge(bool receive, bool transmit) override {
    if (fd_ < 0 || (!receive && !transmit)) return;
    ::tcflush(fd_, receive && transmit ? TCIOFLUSH : receive ? TCIFLUSH : TCOFLUSH);
  }

 private:
  std::filesystem::path executableDir_;
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<SerialDevice> MakePosixSerialDevice(std::filesystem::path executableDir) {
  return std::make_unique<PosixSerialDevice>(std::move(executableDir));
}

}  // namespace pyranex
