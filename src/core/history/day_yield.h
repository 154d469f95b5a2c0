#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace pyranex::history {

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// What a day's totals are made of, taken from one record.
struct YieldSample {
  int64_t time = 0;  // UTC seconds
  int32_t utcOffset = 0;
  double pacW = kNoValue;
  double eTodayKwh = kNoValue;  // the inverter's "Today" energy counter
  double tTodayMin = kNoValue;  // its running time today
  int ratedPower = 0;           // units of 100 W; 0 while unknown
};

// One local day of one inverter.
struct DaySummary {
  int64_t day = 0;           // local day number
  double yieldKwh = 0;       // counterKwh + integratedFallbackKwh
  double counterKwh = 0;     // from sound steps of the "Today" counter
  double fallbackKwh = 0;    // integrated power where the counter was not sound
  double integratedKwh = 0;  // the power integrated over the whole day, for comparison
  double gridHours = 0;      // running time: counter where sound, else time with power > 0
  double peakW = kNoValue;   // highest power of the day
  int64_t peakTime = 0;      // UTC seconds of the peak
  int32_t peakOffset = 0;    // and the offset it was taken with
  int64_t firstTime = 0;
  int64_t lastTime = 0;
  int64_t records = 0;
  int ratedPower = 0;
  bool HasPeak() const { return !std::isnan(peakW); }
};

// Records further apart than this leave a gap that the power is not integrated over (nobody was
// watching); the counter still covers it.
inline constexpr int64_t kMaxIntegrationGapSeconds = 600;

// Folds the records of one local day, in the order they were taken, into its totals.
//
// The inverter's own counters are the best witness of the day: they count while the program
// is not watching (before it started, across a restart) and at a finer step than one sample a
// second. So a step between two records is taken from the "Today" counter when it is sound,
// that is when it rose by no more than the rated power could make in the time between them
// (plus one count of slack), or when it fell back to a value that could have been made since a
// reset (the inverter's own midnight or wake-up, a cleared counter). A step that breaks these
// rules (a misread value, a missing value) is replaced by the integrated power of that
// interval. The first record of the day counts the counter's value as made earlier that day
// when the time since local midnight could have made it. Running time works the same way with
// the "Ttoday" counter and the time with power above zero.
class DayAccumulator {
 public:
  explicit DayAccumulator(int64_t day) { summary_.day = day; }

  void Add(const YieldSample& sample);
  const DaySummary& Summary() const { return summary_; }
  bool Empty() const { return summary_.records == 0; }

 private:
  DaySummary summary_;
  std::optional<YieldSample> last_;
  double counterMinutes_ = 0;
  double fallbackSeconds_ = 0;
  double peakRatedW_ = 0;
};

// Energy (kWh) a counter step may show over `seconds` at `ratedW`: the rated power with a
// quarter more, plus one count of the 0.1 kWh counter and its rounding.
double MaxEnergyKwh(double ratedW, int64_t seconds);
// Minutes a running-time step may show over `seconds`.
double MaxRunMinutes(int64_t seconds);

}  // namespace pyranex::history
