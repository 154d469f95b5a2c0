#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace pyranex {

// The device behind COM n: first the override `ports/COM<n>` beside the executable (a symbolic
// link to any device), then the devices in the order Wine numbers them: /dev/ttyS0, ttyS1, ...,
// then /dev/ttyUSB0, ..., then /dev/ttyACM0, ... (each family up to its first gap).
std::optional<std::filesystem::path> ResolveComPort(
    unsigned portNumber, const std::filesystem::path& executableDir,
    const std::filesystem::path& deviceDir = "/dev");

// The Windows name of COM n: "COM9" up to 9, "\\.\COM10" from 10 on.
std::string WindowsComPortName(unsigned portNumber);

}  // namespace pyranex
