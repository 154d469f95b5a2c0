#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace pyranex::history {

struct FillOptions {
  std::filesystem::path store;
  std::string serial = "123456789012";
  int ratedPower = 50;   // units of 100 W
  int64_t firstDay = 0;  // local day numbers, both included
  int64_t lastDay = 0;
  int stepSeconds = 60;  // one record a minute, as the history workbooks keep
  int32_t utcOffset = 3600;
  uint32_t weatherSeed = 1;
};

// Writes the simulated inverter's days into the store through the core's own interface: its
// clear day (day_curve) scaled by the season and each day's weather, with the "Today" and
// "Ttoday" counters it keeps, and each day's totals. Returns the records written, -1 with the
// reason on failure.
int64_t FillSimulatedDays(const FillOptions& options, std::string& why);

}  // namespace pyranex::history
