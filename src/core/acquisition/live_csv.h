#pragma once

#include <cstdint>
#include <string>

#include "core/platform/clock.h"
#include "core/samples/day_log.h"

namespace pyranex {

// The export's column titles, quoted and comma-separated: "Time","Udc(V)",...,"State 2".
std::string LiveCsvHeader();

// One sample as a CSV line: local time "%Y-%m-%d %H-%M-%S", then the fourteen values in the
// export's number formats ("%3.1f", "%3.2f" or a whole number). A value missing from a series
// (a cut-short reply) leaves its field empty.
std::string LiveCsvRow(const Clock& clock, int64_t sampleTime, const DayLog& log, size_t index);

}  // namespace pyranex
