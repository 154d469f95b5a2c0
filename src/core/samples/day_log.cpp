#include "core/samples/day_log.h"

#include <algorithm>

namespace pyranex {

void DayLog::Clear() {
  tickMs.clear();
  udc.clear();
  uac.clear();
  freq.clear();
  pac.clear();
  eToday.clear();
  eTotal.clear();
  tToday.clear();
  tTotal.clear();
  temp.clear();
  iacShift.clear();
  dci.clear();
  state1.clear();
  state2.clear();
}

size_t DayLog::CompleteCount() const {
  return std::min({tickMs.size(), udc.size(), uac.size(), freq.size(), pac.size(), eToday.size(),
                   eTotal.size(), tToday.size(), tTotal.size(), temp.size(), iacShift.size(),
                   dci.size(), state1.size(), state2.size()});
}

}  // namespace pyranex
