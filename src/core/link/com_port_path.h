#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pyranex {

// COM numbers on POSIX. An override comes first: a symbolic link `ports/COM<n>` beside the
// executable points COM n at any device. The serial devices themselves (/dev/ttyS* that are real
// UARTs, /dev/ttyUSB*, /dev/ttyACM*) get a number the first time they are seen, the lowest free
// one, in that order of families and nodes, and keep it in kComPortTableName beside the
// executable: an adapter by its /dev/serial/by-id name (so it keeps its number when it is
// unplugged, and when it comes back at another node or socket), anything else by its node name.
// A remembered device that is absent keeps its number: nothing else is ever found behind it.
inline constexpr const char* kComPortTableName = "comports.txt";

// One COM number as ResolveComPort sees it, for showing the user what is where.
struct ComPortEntry {
  unsigned number = 0;
  std::filesystem::path path;    // what is opened: the override link, the by-id link or the node
  std::filesystem::path device;  // the node behind it now (an override's target); empty: absent
  bool isOverride = false;
  std::string byIdName;  // the adapter's name under <deviceDir>/serial/by-id, empty when none
  bool present = true;   // false: a remembered device that is not connected now
};

// Every COM number from 1 to maxPort that names something, in COM order, including the
// remembered devices that are absent. Remembers devices seen for the first time.
std::vector<ComPortEntry> ListComPorts(const std::filesystem::path& executableDir,
                                       const std::filesystem::path& deviceDir = "/dev",
                                       unsigned maxPort = 99);

// One line for the user: "COM3  /dev/ttyUSB0  (usb-FTDI_FT232R_A1B2-if00-port0)", with
// "not connected" for a remembered device that is absent and "[ports/COM3]" for an override.
std::string DescribeComPort(const ComPortEntry& entry);

// What COM n names now (the override link, or the present device), as ListComPorts shows it.
std::optional<ComPortEntry> FindComPort(unsigned portNumber,
                                        const std::filesystem::path& executableDir,
                                        const std::filesystem::path& deviceDir = "/dev");

// The path to open for COM n: the override link or the device's by-id link or node.
std::optional<std::filesystem::path> ResolveComPort(
    unsigned portNumber, const std::filesystem::path& executableDir,
    const std::filesystem::path& deviceDir = "/dev");

// Where the device that `name` (an entry's path) stood for is now: `byIdName` is the by-id name
// it had then, when it had one, and must still be the device's name.
struct DeviceWhereabouts {
  enum class State { Here, Absent, Other } state = State::Absent;
  std::filesystem::path node;  // the device node to open, when Here
};
DeviceWhereabouts LocateDevice(const std::filesystem::path& name, const std::string& byIdName,
                               const std::filesystem::path& deviceDir = "/dev");

// The Windows name of COM n: "COM9" up to 9, "\\.\COM10" from 10 on.
std::string WindowsComPortName(unsigned portNumber);

}  // namespace pyranex
