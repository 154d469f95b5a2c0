#pragma once

#include <filesystem>
#include <memory>

#include "core/link/serial_device.h"

namespace pyranex {

// A tty opened non-blocking, raw 9600 8N1, RTS raised, no flow control. COM numbers name the
// devices found in `deviceDir` (tests give a folder of their own).
std::unique_ptr<SerialDevice> MakePosixSerialDevice(std::filesystem::path executableDir,
                                                    std::filesystem::path deviceDir = "/dev");

}  // namespace pyranex
