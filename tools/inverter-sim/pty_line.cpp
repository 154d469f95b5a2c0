#include "pty_line.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

namespace pyranex::sim {

namespace {

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

PtyLine::~PtyLine() {
  Close();
}

PtyLine::PtyLine(PtyLine&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slaveKeeper_(std::exchange(other.slaveKeeper_, -1)),
      slavePath_(std::move(other.slavePath_)) {}

PtyLine& PtyLine::operator=(PtyLine&& other) noexcept {
  if (this != &other) {
    Close();
    master_ = std::exchange(other.master_, -1);
    slaveKeeper_ = std::exchange(other.slaveKeeper_, -1);
    slavePath_ = std::move(other.slavePath_);
  }
  return *this;
}

bool PtyLine::Open(std::string* error) {
  Close();
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    if (error) *error = SystemError("posix_openpt");
    return false;
  }
  char name[128] = {};
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    if (error) *error = SystemError("grantpt/unlockpt/ptsname");
    ::close(master);
    return false;
  }
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave < 0) {
    if (error) *error = SystemError("open slave");
    ::close(master);
    return false;
  }
  termios tio{};
  if (tcgetattr(slave, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    tcsetattr(slave, TCSANOW, &tio);
  }
  const int flags = fcntl(master, F_GETFL);
  fcntl(master, F_SETFL, flags | O_NONBLOCK);
  master_ = master;
  slaveKeeper_ = slave;
  slavePath_ = name;
  return true;
}

void PtyLine::Close() {
  if (slaveKeeper_ >= 0) ::close(std::exchange(slaveKeeper_, -1));
  if (master_ >= 0) ::close(std::exchange(master_, -1));
}

std::filesystem::path ComLinkPath(const std::filesystem::path& portsDir, unsigned comNumber) {
  return portsDir / ("COM" + std::to_string(comNumber));
}

bool PointComLink(const std::filesystem::path& portsDir, unsigned comNumber,
                  const std::filesystem::path& target, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(portsDir, ec);
  const auto link = ComLinkPath(portsDir, comNumber);
  const auto temporary =
      portsDir / (".COM" + std::to_string(comNumber) + ".new." + std::to_string(::getpid()));
  std::filesystem::remove(temporary, ec);
  std::filesystem::create_symlink(target, temporary, ec);
  if (!ec) std::filesystem::rename(temporary, link, ec);
  if (ec) {
    if (error)
      *error = "cannot point " + link.string() + " at " + target.string() + ": " + ec.message();
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

}  // namespace pyranex::sim
