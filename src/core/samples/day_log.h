#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pyranex {

// The day's samples: fourteen parallel series, one element per completed live-data cycle.
// After every completed cycle all series have the same length.
struct DayLog {
  std::vector<uint32_t> tickMs;  // tick count when the pac element was appended
  std::vector<float> udc;        // V
  std::vector<float> uac;        // V
  std::vector<float> freq;       // Hz
  std::vector<float> pac;        // W
  std::vector<float> eToday;     // kWh
  std::vector<float> eTotal;     // kWh
  std::vector<uint32_t> tToday;  // min
  std::vector<uint32_t> tTotal;  // h
  std::vector<float> temp;       // °C
  std::vector<uint32_t> iacShift;
  std::vector<float> dci;        // mA
  std::vector<uint32_t> state1;  // fault bits
  std::vector<uint32_t> state2;  // operating state

  void Clear();
  // Length of the shortest series: the samples whose every value is present.
  size_t CompleteCount() const;
};

}  // namespace pyranex
