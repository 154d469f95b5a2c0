#include "history_fill.h"

#include <cmath>

#include "core/history/calendar.h"
#include "core/history/history_database.h"
#include "day_curve.h"

namespace pyranex::history {

int64_t FillSimulatedDays(const FillOptions& o, std::string& why) {
  SqlError error;
  std::error_code ec;
  std::filesystem::create_directories(o.store.parent_path(), ec);
  auto db = HistoryDatabase::Open(o.store, HistoryDatabase::Access::Bulk, error);
  if (!db) {
    why = error.text;
    return -1;
  }
  const auto inverter = db->InverterId(o.serial, o.ratedPower, "V4.10", error);
  if (!inverter) {
    why = error.text;
    return -1;
  }
  const double ratedW = o.ratedPower * 100.0;
  uint32_t seed = o.weatherSeed;
  double totalKwh = 12000;
  double totalHours = 4000;
  int64_t written = 0;
  for (int64_t day = o.firstDay; day <= o.lastDay; ++day) {
    SqlTransaction transaction(db->Connection(), error);
    if (!transaction.Began()) break;
    // Summer days give three times the winter's; clouds take up to two thirds of a day.
    const CivilDate date = DateOf(day);
    const double season =
        0.65 -
        0.35 * std::cos(2 * M_PI * (DayNumber(date) - DayNumber({date.year, 1, 1}) + 10) / 365.0);
    seed = seed * 1103515245u + 12345u;
    const double weather = 0.35 + 0.65 * static_cast<double>((seed >> 8) % 1000) / 999.0;
    double todayWh = 0;
    double runSeconds = 0;
    bool added = false;
    for (int s = 5 * 3600; s <= 19 * 3600; s += o.stepSeconds) {
      const sim::CurvePoint p = sim::CurveAt(s, ratedW);
      const double ripple = 0.85 + 0.15 * std::sin(s / 1800.0 + day);
      const double pac = std::round(p.acPowerW * season * weather * ripple * 10) / 10;
      todayWh += pac * o.stepSeconds / 3600.0;
      totalKwh += pac * o.stepSeconds / 3.6e6;
      const bool producing =
          p.state == sim::OperatingState::Inverting || p.state == sim::OperatingState::Warning;
      if (producing) runSeconds += o.stepSeconds;
      if (producing) totalHours += o.stepSeconds / 3600.0;
      LiveRecord r;
      r.time = day * 86400 + s - o.utcOffset;
      r.utcOffsetSeconds = o.utcOffset;
      r.values = {std::round(p.dcVoltageV * 10) / 10,
                  std::round(p.acVoltageV * 10) / 10,
                  std::round(p.frequencyHz * 100) / 100,
                  pac,
                  std::round(todayWh / 100) / 10,
                  std::round(totalKwh * 10) / 10,
                  std::floor(runSeconds / 60),
                  std::floor(totalHours),
                  std::round(p.temperatureC * 10) / 10,
                  2000,
                  static_cast<double>(p.dcInjectionMa),
                  static_cast<double>(p.faultBits),
                  static_cast<double>(static_cast<int>(p.state))};
      if (!db->InsertRecord(*inverter, r, HistoryDatabase::Keep::Unique, added, error)) break;
      written += added ? 1 : 0;
    }
    DayAccumulator folded = db->FoldDay(*inverter, day, error);
    if (error.code != 0 || !db->PutDaySummary(*inverter, folded.Summary(), error) ||
        !transaction.Commit(error)) {
      break;
    }
  }
  if (error.code != 0) {
    why = error.text;
    return -1;
  }
  return written;
}

}  // namespace pyranex::history
