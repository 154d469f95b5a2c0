#include "core/link/com_port_path.h"

#ifndef _WIN32  // Windows opens COM ports by name; device nodes exist only on POSIX
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <vector>
#endif

namespace pyranex {

#ifndef _WIN32
namespace {

// Most PCs create /dev/ttyS0..31 whether or not a UART sits behind them; like Wine, only count
// the ones the driver reports a UART type for. A node we may not open is counted, since it
// usually is a real port owned by the dialout group.
bool IsPresentUart(const std::filesystem::path& node) {
  const int fd = ::open(node.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EBUSY;
  serial_struct info{};
  const bool uart = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return uart;
}

std::vector<std::filesystem::path> WineOrderedDevices(const std::filesystem::path& deviceDir,
                                                      unsigned wanted) {
  struct Family {
    const char* prefix;
    bool uartCheck;
  };
  constexpr std::array<Family, 3> kFamilies{{{"ttyS", true}, {"ttyUSB", false}, {"ttyACM", false}}};
  std::vector<std::filesystem::path> devices;
  for (const Family& family : kFamilies) {
    for (unsigned index = 0;; ++index) {
      const auto node = deviceDir / (family.prefix + std::to_string(index));
      std::error_code ec;
      if (!std::filesystem::exists(node, ec)) break;
      if (family.uartCheck && !IsPresentUart(node)) continue;
      devices.push_back(node);
      if (devices.size() >= wanted) return devices;
    }
  }
  return devices;
}

}  // namespace

std::optional<std::filesystem::path> ResolveComPort(unsigned portNumber,
                                                    const std::filesystem::path& executableDir,
                                                    const std::filesystem::path& deviceDir) {
  if (portNumber == 0) return std::nullopt;
  std::error_code ec;
  const auto override = executableDir / "ports" / ("COM" + std::to_string(portNumber));
  if (std::filesystem::symlink_status(override, ec).type() !=
          std::filesystem::file_type::not_found &&
      !ec) {
    return override;
  }
  const auto devices = WineOrderedDevices(deviceDir, portNumber);
  if (devices.size() < portNumber) return std::nullopt;
  return devices[portNumber - 1];
}
#endif

std::string WindowsComPortName(unsigned portNumber) {
  const std::string base = "COM" + std::to_string(portNumber);
  return portNumber <= 9 ? base : "\\\\.\\" + base;
}

}  // namespace pyranex
