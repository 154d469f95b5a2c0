#pragma once

#include <filesystem>
#include <string>

#include "core/link/serial_port.h"
#include "core/platform/clock.h"

namespace pyranex {

// The traffic log's text: for each slot from the oldest, "\r\n<time> Send:<bytes>\r\n<time> Recv:
// <bytes>", bytes as "%x ", times only for slots holding bytes; no final line break.
std::u16string FormatCommLog(const TrafficSnapshot& ring, const Clock& clock);
// "<%Y-%m-%d %H-%M-%S>-e<code>.txt" of the given calendar time.
std::string CommLogFileName(const Clock& clock, int64_t now, int eventCode);
// Writes UTF-16LE without byte-order mark into `folder` (created when missing). Never throws;
// false when the file could not be written.
bool WriteCommLogFile(const std::filesystem::path& folder, const std::string& fileName,
                      const std::u16string& text);

}  // namespace pyranex
