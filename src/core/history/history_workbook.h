#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/acquisition/live_record.h"
#include "core/platform/clock.h"

namespace pyranex::history {

// What a history workbook holds: the inverter of its title cell and one record per row.
struct HistoryWorkbook {
  std::string serial;
  int ratedPower = 0;  // units of 100 W
  std::vector<LiveRecord> records;
  size_t unreadableRows = 0;  // rows without a readable time, left out
};

// Reads a workbook of the history layout (title "SN: <serial>,Model: <W>", the fourteen column
// titles, then one row per sample with its local time), whatever program wrote it. False with
// the reason for a damaged workbook or one of another layout.
bool ReadHistoryWorkbook(const std::filesystem::path& path, const Clock& clock,
                         HistoryWorkbook& workbook, std::string& why);

}  // namespace pyranex::history
