#include "core/history/day_yield.h"

#include <algorithm>

#include "core/history/calendar.h"

namespace pyranex::history {
namespace {

constexpr double kDefaultRatedW = 10000;  // while the rated power is unknown

bool Has(double v) {
  return !std::isnan(v);
}

// How a counter step from `before` to `after` over `seconds` is to be read: the amount it adds,
// or nothing when it is not sound.
std::optional<double> CounterStep(double before, double after, double bound) {
  if (!Has(before) || !Has(after)) return std::nullopt;
  const double step = after - before;
  if (step >= 0 && step <= bound) return step;
  if (step < 0 && after >= 0 && after <= bound) return after;  // reset since the last record
  return std::nullopt;
}

}  // namespace

double MaxEnergyKwh(double ratedW, int64_t seconds) {
  return ratedW * 1.25 * static_cast<double>(std::max<int64_t>(seconds, 0)) / 3.6e6 + 0.15;
}

double MaxRunMinutes(int64_t seconds) {
  return static_cast<double>(std::max<int64_t>(seconds, 0)) / 60.0 * 1.05 + 1.5;
}

void DayAccumulator::Add(const YieldSample& s) {
  DaySummary& d = summary_;
  if (s.ratedPower > 0) d.ratedPower = s.ratedPower;
  if (Has(s.pacW) && s.pacW * 1.25 > peakRatedW_) peakRatedW_ = s.pacW * 1.25;
  const double ratedW =
      d.ratedPower > 0 ? d.ratedPower * 100.0 : std::max(kDefaultRatedW, peakRatedW_);

  if (d.records == 0) {
    d.firstTime = d.lastTime = s.time;
    const int64_t sinceMidnight = LocalSecondOfDay(s.time, s.utcOffset);
    if (Has(s.eTodayKwh) && s.eTodayKwh >= 0 &&
        s.eTodayKwh <= MaxEnergyKwh(ratedW, sinceMidnight)) {
      d.counterKwh += s.eTodayKwh;
    }
    if (Has(s.tTodayMin) && s.tTodayMin >= 0 && s.tTodayMin <= MaxRunMinutes(sinceMidnight)) {
      counterMinutes_ += s.tTodayMin;
    }
  } else {
    const YieldSample& p = *last_;
    const int64_t dt = s.time - p.time;
    const bool watched = dt > 0 && dt <= kMaxIntegrationGapSeconds;
    const double integrated = watched && Has(p.pacW) && Has(s.pacW)
                                  ? (p.pacW + s.pacW) / 2 * static_cast<double>(dt) / 3.6e6
                                  : 0.0;
    d.integratedKwh += integrated;
    if (auto step = CounterStep(p.eTodayKwh, s.eTodayKwh, MaxEnergyKwh(ratedW, dt))) {
      d.counterKwh += *step;
    } else {
      d.fallbackKwh += integrated;
    }
    if (auto step = CounterStep(p.tTodayMin, s.tTodayMin, MaxRunMinutes(dt))) {
      counterMinutes_ += *step;
    } else if (watched && Has(p.pacW) && p.pacW > 0) {
      fallbackSeconds_ += static_cast<double>(dt);
    }
    d.firstTime = std::min(d.firstTime, s.time);
    d.lastTime = std::max(d.lastTime, s.time);
  }
  if (Has(s.pacW) && (!d.HasPeak() || s.pacW > d.peakW)) {
    d.peakW = s.pacW;
    d.peakTime = s.time;
    d.peakOffset = s.utcOffset;
  }
  ++d.records;
  d.yieldKwh = d.counterKwh + d.fallbackKwh;
  d.gridHours = counterMinutes_ / 60.0 + fallbackSeconds_ / 3600.0;
  last_ = s;
}

}  // namespace pyranex::history
