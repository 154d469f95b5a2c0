#pragma once

#include <cstdint>
#include <span>

namespace pyranex {

// Index of the sample nearest to a minute offset from the first sample, or -1 when there are
// fewer than two samples or the offset lies outside (0, span). The chart and the export share it.
int FindSampleIndex(std::span<const uint32_t> times, double minutes);

}  // namespace pyranex
