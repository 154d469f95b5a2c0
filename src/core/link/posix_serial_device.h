#pragma once

#include <filesystem>
#include <memory>

#include "core/link/serial_device.h"

namespace pyranex {

// A tty opened non-blocking, raw 9600 8N1, RTS raised, no flow control.
std::unique_ptr<SerialDevice> MakePosixSerialDevice(std::filesystem::path executableDir);

}  // namespace pyranex
