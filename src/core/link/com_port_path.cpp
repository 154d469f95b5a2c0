#include "core/link/com_port_path.h"

#ifndef _WIN32  // Windows opens COM ports by name; device nodes exist only on POSIX
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <tuple>
#include <vector>
#endif

namespace pyranex {

#ifndef _WIN32
namespace {

namespace fs = std::filesystem;

constexpr unsigned kHighestComNumber = 255;

// Most PCs create /dev/ttyS0..31 whether or not a UART sits behind them; like Wine, only count
// the ones the driver reports a UART type for. A node we may not open is counted, since it
// usually is a real port owned by the dialout group.
bool IsPresentUart(const fs::path& node) {
  const int fd = ::open(node.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EACCES || errno == EBUSY;
  serial_struct info{};
  const bool uart = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  ::close(fd);
  return uart;
}

struct Family {
  const char* prefix;
  bool uartCheck;
};
constexpr std::array<Family, 3> kFamilies{{{"ttyS", true}, {"ttyUSB", false}, {"ttyACM", false}}};

// The family and index of a node name such as "ttyUSB3"; nothing for other names.
std::optional<std::pair<size_t, unsigned>> FamilyIndex(const std::string& name) {
  for (size_t f = 0; f < kFamilies.size(); ++f) {
    const std::string prefix = kFamilies[f].prefix;
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 4 ||
        name.compare(0, prefix.size(), prefix) != 0) {
      continue;
    }
    unsigned index = 0;
    bool digits = true;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
      digits = digits && name[i] >= '0' && name[i] <= '9';
      index = index * 10 + static_cast<unsigned>(name[i] - '0');
    }
    if (digits) return std::make_pair(f, index);
  }
  return std::nullopt;
}

// The serial devices present now: families in order, each by index. Gaps do not matter: an
// unplugged adapter leaves one.
std::vector<fs::path> PresentNodes(const fs::path& deviceDir) {
  std::vector<std::tuple<size_t, unsigned, fs::path>> found;
  std::error_code ec;
  for (fs::directory_iterator it(deviceDir, ec), end; !ec && it != end; it.increment(ec)) {
    const auto place = FamilyIndex(it->path().filename().string());
    if (!place) continue;
    std::error_code existsEc;
    if (!fs::exists(it->path(), existsEc)) continue;  // a link whose device has gone
    if (kFamilies[place->first].uartCheck && !IsPresentUart(it->path())) continue;
    found.emplace_back(place->first, place->second, it->path());
  }
  std::sort(found.begin(), found.end());
  std::vector<fs::path> nodes;
  for (auto& [family, index, node] : found) nodes.push_back(std::move(node));
  return nodes;
}

fs::path ByIdDir(const fs::path& deviceDir) {
  return deviceDir / "serial" / "by-id";
}

// The by-id names keyed by the canonical node they point to; the first name in order when a
// node has several.
std::map<fs::path, std::string> ByIdNames(const fs::path& deviceDir) {
  std::map<fs::path, std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(ByIdDir(deviceDir), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkEc;
    const auto target = fs::canonical(it->path(), linkEc);
    if (linkEc) continue;
    const std::string name = it->path().filename().string();
    auto [place, added] = names.emplace(target, name);
    if (!added && name < place->second) place->second = name;
  }
  return names;
}

// "COM12" -> 12; 0 for anything else.
unsigned ComNumber(const std::string& name) {
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

// The remembered numbers: COM number -> device key (by-id name or node name).
using ComTable = std::map<unsigned, std::string>;

ComTable ReadTable(const fs::path& file) {
  ComTable table;
  std::set<std::string> keys;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string com;
    std::string key;
    fields >> com >> key;
    const unsigned n = ComNumber(com);
    // A number or a device named twice: the first line holds, as a reader of the file expects.
    if (n == 0 || n > kHighestComNumber || key.empty() || table.count(n) != 0 ||
        !keys.insert(key).second) {
      continue;
    }
    table[n] = key;
  }
  return table;
}

// Replaces the file in one step, so a reader never sees half of it. A folder we may not write
// leaves the numbers unremembered: the next run gives new devices the same numbers again as long
// as the same devices are there.
void WriteTable(const fs::path& executableDir, const ComTable& table) {
  std::error_code ec;
  if (executableDir.empty() || !fs::is_directory(executableDir, ec)) return;
  static std::atomic<unsigned> writes{0};
  const fs::path file = executableDir / kComPortTableName;
  const fs::path temporary =
      executableDir / ("." + std::string(kComPortTableName) + "." + std::to_string(::getpid()) +
                       "." + std::to_string(writes.fetch_add(1)));
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << "# COM numbers of the serial devices seen on this computer. A number stays with its\n"
           "# device while it is unplugged: an adapter is known by its /dev/serial/by-id name,\n"
           "# other devices by their node. Edit a number to move a device, delete a line to\n"
           "# forget one. Links ports/COM<n> beside the program come first.\n";
    for (const auto& [number, key] : table) out << "COM" << number << ' ' << key << '\n';
    out.flush();
    if (!out) {
      out.close();
      fs::remove(temporary, ec);
      return;
    }
  }
  fs::rename(temporary, file, ec);
  if (ec) fs::remove(temporary, ec);
}

// Every COM number that names something, with new devices given their numbers.
std::map<unsigned, ComPortEntry> ComPortMap(const fs::path& executableDir,
                                            const fs::path& deviceDir) {
  std::map<unsigned, ComPortEntry> entries;
  const auto byId = ByIdNames(deviceDir);
  const auto byIdOf = [&](const fs::path& node) {
    std::error_code ec;
    const auto it = byId.find(fs::canonical(node, ec));
    return !ec && it != byId.end() ? it->second : std::string();
  };

  std::error_code ec;
  const auto ports = executableDir / "ports";
  std::map<unsigned, fs::path> overrides;
  if (!executableDir.empty()) {
    for (fs::directory_iterator it(ports, ec), end; !ec && it != end; it.increment(ec)) {
      const unsigned n = ComNumber(it->path().filename().string());
      if (n != 0 && n <= kHighestComNumber) overrides[n] = it->path();
    }
  }

  // Without a folder of its own (tests of windows) nothing is remembered.
  ComTable table =
      executableDir.empty() ? ComTable{} : ReadTable(executableDir / kComPortTableName);
  std::map<std::string, unsigned> numberOfKey;
  for (const auto& [number, key] : table) numberOfKey[key] = number;
  bool remembered = false;
  std::map<std::string, std::pair<fs::path, std::string>> presentByKey;  // key -> node, by-id
  for (const fs::path& node : PresentNodes(deviceDir)) {
    const std::string byIdName = byIdOf(node);
    const std::string key = byIdName.empty() ? node.filename().string() : byIdName;
    if (!presentByKey.emplace(key, std::make_pair(node, byIdName)).second) continue;
    if (numberOfKey.count(key) != 0) continue;
    unsigned n = 1;
    while (n <= kHighestComNumber && (table.count(n) != 0 || overrides.count(n) != 0)) ++n;
    if (n > kHighestComNumber) continue;  // every number taken: this one gets none
    table[n] = key;
    numberOfKey[key] = n;
    remembered = true;
  }
  if (remembered) WriteTable(executableDir, table);

  for (const auto& [number, key] : table) {
    ComPortEntry entry;
    entry.number = number;
    if (const auto it = presentByKey.find(key); it != presentByKey.end()) {
      const auto& [node, byIdName] = it->second;
      entry.path = byIdName.empty() ? node : ByIdDir(deviceDir) / byIdName;
      entry.device = node;
      entry.byIdName = byIdName;
    } else {
      const bool isNodeName = FamilyIndex(key).has_value();
      entry.path = isNodeName ? deviceDir / key : ByIdDir(deviceDir) / key;
      entry.byIdName = isNodeName ? std::string() : key;
      entry.present = false;
    }
    entries[number] = std::move(entry);
  }
  for (const auto& [number, link] : overrides) {
    ComPortEntry entry{number, link, link, true, {}, false};
    std::error_code linkEc;
    const auto target = fs::read_symlink(link, linkEc);
    if (!linkEc) entry.device = (target.is_absolute() ? target : ports / target).lexically_normal();
    std::error_code existsEc;
    entry.present = fs::exists(link, existsEc);
    if (entry.present) entry.byIdName = byIdOf(link);
    entries[number] = std::move(entry);
  }
  return entries;
}

}  // namespace

std::vector<ComPortEntry> ListComPorts(const std::filesystem::path& executableDir,
                                       const std::filesystem::path& deviceDir, unsigned maxPort) {
  std::vector<ComPortEntry> list;
  for (auto& [number, entry] : ComPortMap(executableDir, deviceDir)) {
    if (number <= maxPort) list.push_back(std::move(entry));
  }
  return list;
}

std::optional<ComPortEntry> FindComPort(unsigned portNumber,
                                        const std::filesystem::path& executableDir,
                                        const std::filesystem::path& deviceDir) {
  if (portNumber == 0) return std::nullopt;
  auto entries = ComPortMap(executableDir, deviceDir);
  const auto it = entries.find(portNumber);
  // An override names its port even while it dangles: opening it is what fails. An absent
  // device names nothing to open.
  if (it == entries.end() || !(it->second.present || it->second.isOverride)) return std::nullopt;
  return std::move(it->second);
}

std::optional<std::filesystem::path> ResolveComPort(unsigned portNumber,
                                                    const std::filesystem::path& executableDir,
                                                    const std::filesystem::path& deviceDir) {
  const auto entry = FindComPort(portNumber, executableDir, deviceDir);
  if (!entry) return std::nullopt;
  return entry->path;
}

DeviceWhereabouts LocateDevice(const std::filesystem::path& name, const std::string& byIdName,
                               const std::filesystem::path& deviceDir) {
  std::error_code ec;
  const fs::path node = fs::canonical(name, ec);
  if (ec) return {DeviceWhereabouts::State::Absent, {}};
  if (!byIdName.empty()) {
    // The adapter's own name must lead to the same node: a link re-pointed at another adapter,
    // or another adapter that took the node, is not the device that was connected.
    const fs::path named = fs::canonical(ByIdDir(deviceDir) / byIdName, ec);
    if (ec || named != node) return {DeviceWhereabouts::State::Other, {}};
  }
  return {DeviceWhereabouts::State::Here, node};
}
#endif

std::string DescribeComPort(const ComPortEntry& entry) {
  std::string text = "COM" + std::to_string(entry.number);
  // A remembered device keeps its number while it is unplugged; connecting waits for it.
  if (!entry.present) text += "  not connected";
  if (!entry.device.empty()) {
    text += "  " + entry.device.string();
  } else if (entry.byIdName.empty()) {
    text += "  " + entry.path.string();
  }
  if (!entry.byIdName.empty()) text += "  (" + entry.byIdName + ")";
  if (entry.isOverride) text += "  [ports/COM" + std::to_string(entry.number) + "]";
  return text;
}

std::string WindowsComPortName(unsigned portNumber) {
  const std::string base = "COM" + std::to_string(portNumber);
  return portNumber <= 9 ? base : "\\\\.\\" + base;
}

}  // namespace pyranex
