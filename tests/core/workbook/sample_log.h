#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/platform/clock.h"
#include "core/samples/day_log.h"
#include "xls_readback.h"

namespace pyranex::test {

// A day log of n samples, spaced stepMs apart from firstTick (the tick count may wrap), with
// values that differ from sample to sample in every series.
inline DayLog MakeLog(size_t n, uint32_t stepMs = 1000, uint32_t firstTick = 5000) {
  DayLog log;
  for (size_t i = 0; i < n; ++i) {
    const auto k = static_cast<uint32_t>(i);
    log.tickMs.push_back(firstTick + k * stepMs);
    log.udc.push_back(200.0f + static_cast<float>(k % 1000) * 0.1f);
    log.uac.push_back(230.0f + static_cast<float>(k % 7) * 0.3f);
    log.freq.push_back(49.95f + static_cast<float>(k % 11) * 0.01f);
    log.pac.push_back(static_cast<float>(k % 5000) * 0.5f);
    log.eToday.push_back(static_cast<float>(k) * 0.01f);
    log.eTotal.push_back(12345.6f + static_cast<float>(k % 100) * 0.1f);
    log.tToday.push_back(k / 60);
    log.tTotal.push_back(1000 + k / 3600);
    log.temp.push_back(-5.0f + static_cast<float>(k % 600) * 0.1f);
    log.iacShift.push_back(2000 + k % 5);
    log.dci.push_back(static_cast<float>(k % 300));
    log.state1.push_back(k % 3 == 0 ? 0x80000001u : 0u);
    log.state2.push_back(k % 4);
  }
  return log;
}

// The row a sample should produce, built with printf formats and the clock, independently of
// the layout code.
inline std::vector<ReadCell> ExpectedRow(const DayLog& log, size_t i, int64_t startTime,
                                         const Clock& clock) {
  std::vector<ReadCell> row;
  const uint32_t elapsed = (log.tickMs[i] - log.tickMs[0]) / 1000u;
  row.push_back({false, 0, FormatLocal(clock, startTime + elapsed, "%Y-%m-%d %H-%M-%S")});
  const auto fixed = [&](const char* format, float v) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<double>(v));
    row.push_back({true, std::strtod(text, nullptr), {}});
  };
  const auto integer = [&](int32_t v) { row.push_back({true, static_cast<double>(v), {}}); };
  fixed("%3.1f", log.udc[i]);
  fixed("%3.1f", log.uac[i]);
  fixed("%3.2f", log.freq[i]);
  fixed("%3.1f", log.pac[i]);
  fixed("%3.1f", log.eToday[i]);
  fixed("%3.1f", log.eTotal[i]);
  integer(static_cast<int32_t>(log.tToday[i]));
  integer(static_cast<int32_t>(log.tTotal[i]));
  fixed("%3.1f", log.temp[i]);
  integer(static_cast<int32_t>(log.iacShift[i]));
  integer(static_cast<int32_t>(log.dci[i]));
  integer(static_cast<int32_t>(log.state1[i]));
  integer(static_cast<int32_t>(log.state2[i]));
  return row;
}

}  // namespace pyranex::test
