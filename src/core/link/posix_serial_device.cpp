#include "core/link/posix_serial_device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "core/link/com_port_path.h"

namespace pyranex {

namespace {

// The name leads to another device than the one that was connected.
constexpr int kOtherDevice = ENODEV;

class PosixSerialDevice final : public SerialDevice {
 public:
  PosixSerialDevice(std::filesystem::path executableDir, std::filesystem::path deviceDir)
      : executableDir_(std::move(executableDir)), deviceDir_(std::move(deviceDir)) {}
  ~PosixSerialDevice() override { Close(); }

  int Open(unsigned portNumber) override {
    Close();
    const auto entry = FindComPort(portNumber, executableDir_, deviceDir_);
    if (!entry) return ENOENT;
    std::string label = entry->byIdName;
    if (label.empty()) {
      label = entry->isOverride ? "ports/" + entry->path.filename().string() : entry->path.string();
    }
    return Reopen({portNumber, entry->path.string(), entry->byIdName, std::move(label)});
  }

  int Reopen(const DeviceIdentity& identity) override {
    Close();
    if (identity.name.empty()) return ENOENT;
    const DeviceWhereabouts where = LocateDevice(identity.name, identity.byIdName, deviceDir_);
    if (where.state == DeviceWhereabouts::State::Absent) return ENOENT;
    if (where.state == DeviceWhereabouts::State::Other) return kOtherDevice;
    // The node itself is opened, not the name: a link re-pointed meanwhile cannot redirect it.
    fd_ = ::open(where.node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
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
    // Before a byte goes out: the name must still lead to the device now held.
    if (!StillNamedBy(identity)) {
      Close();
      return kOtherDevice;
    }
    identity_ = identity;
    return 0;
  }

  DeviceIdentity Identity() const override { return identity_; }

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
  bool StillNamedBy(const DeviceIdentity& identity) const {
    const DeviceWhereabouts where = LocateDevice(identity.name, identity.byIdName, deviceDir_);
    struct stat held {};
    struct stat named {};
    return where.state == DeviceWhereabouts::State::Here && ::fstat(fd_, &held) == 0 &&
           ::stat(where.node.c_str(), &named) == 0 && held.st_rdev == named.st_rdev &&
           held.st_ino == named.st_ino && held.st_dev == named.st_dev;
  }

  std::filesystem::path executableDir_;
  std::filesystem::path deviceDir_;
  DeviceIdentity identity_;
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<SerialDevice> MakePosixSerialDevice(std::filesystem::path executableDir,
                                                    std::filesystem::path deviceDir) {
  return std::make_unique<PosixSerialDevice>(std::move(executableDir), std::move(deviceDir));
}

}  // namespace pyranex
