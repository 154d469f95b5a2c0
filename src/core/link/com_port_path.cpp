#include "core/link/com_port_path.h"

#ifndef _WIN32  // Windows opens COM ports by name; device nodes exist only on POSIX
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <map>
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

// The by-id names keyed by the canonical node they point to.
std::map<std::filesystem::path, std::string> ByIdNames(const std::filesystem::path& deviceDir) {
  std::map<std::filesystem::path, std::string> names;
  std::error_code ec;
  const auto dir = deviceDir / "serial" / "by-id";
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkEc;
    const auto target = std::filesystem::weakly_canonical(it->path(), linkEc);
    if (!linkEc) names.emplace(target, it->path().filename().string());
  }
  return names;
}

// "COM12" -> 12; 0 for anything else.
unsigned OverrideNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 || name[3] == '0') {
    return 0;
  }
  unsigned n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + static_cast<unsigned>(name[i] - '0');
  }
  return n;
}

}  // namespace

std::vector<ComPortEntry> ListComPorts(const std::filesystem::path& executableDir,
                                       const std::filesystem::path& deviceDir, unsigned maxPort) {
  std::map<unsigned, ComPortEntry> entries;
  const auto byId = ByIdNames(deviceDir);
  const auto nameOf = [&](const std::filesystem::path& node) {
    std::error_code ec;
    const auto it = byId.find(std::filesystem::weakly_canonical(node, ec));
    return !ec && it != byId.end() ? it->second : std::string();
  };
  const auto devices = WineOrderedDevices(deviceDir, maxPort);
  for (unsigned i = 0; i < devices.size(); ++i) {
    entries[i + 1] = {i + 1, devices[i], devices[i], false, nameOf(devices[i])};
  }
  std::error_code ec;
  const auto ports = executableDir / "ports";
  for (std::filesystem::directory_iterator it(ports, ec), end; !ec && it != end; it.increment(ec)) {
    const unsigned n = OverrideNumber(it->path().filename().string());
    if (n == 0 || n > maxPort) continue;
    ComPortEntry entry{n, it->path(), it->path(), true, {}};
    std::error_code linkEc;
    auto target = std::filesystem::read_symlink(it->path(), linkEc);
    if (!linkEc) {
      entry.device = target.is_absolute() ? target : ports / target;
      entry.device = entry.device.lexically_normal();
    }
    entry.byIdName = nameOf(entry.device);
    entries[n] = std::move(entry);
  }
  std::vector<ComPortEntry> list;
  for (auto& [number, entry] : entries) list.push_back(std::move(entry));
  return list;
}

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
