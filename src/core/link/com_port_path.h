#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pyranex {

// The device behind COM n: first the override `ports/COM<n>` beside the executable (a symbolic
// link to any device), then the devices in the order Wine numbers them: /dev/ttyS0, ttyS1, ...,
// then /dev/ttyUSB0, ..., then /dev/ttyACM0, ... (each family up to its first gap).
std::optional<std::filesystem::path> ResolveComPort(
    unsigned portNumber, const std::filesystem::path& executableDir,
    const std::filesystem::path& deviceDir = "/dev");

// One COM number as ResolveComPort sees it, for showing the user what is where.
struct ComPortEntry {
  unsigned number = 0;
  std::filesystem::path path;    // what ResolveComPort gives: the override link or the device
  std::filesystem::path device;  // the node behind it (an override's target), else `path`
  bool isOverride = false;
  std::string byIdName;  // its name under <deviceDir>/serial/by-id, empty when there is none
};

// Every COM number from 1 to maxPort that names something, in COM order.
std::vector<ComPortEntry> ListComPorts(const std::filesystem::path& executableDir,
                                       const std::filesystem::path& deviceDir = "/dev",
                                       unsigned maxPort = 99);

// The Windows name of COM n: "COM9" up to 9, "\\.\COM10" from 10 on.
std::string WindowsComPortName(unsigned portNumber);

}  // namespace pyranex
