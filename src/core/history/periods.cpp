#include "core/history/periods.h"

#include <cstdio>

#include "core/history/calendar.h"

namespace pyranex::history {

PeriodTotals TotalsOfDay(const DaySummary& day) {
  PeriodTotals t;
  t.kind = PeriodKind::Day;
  t.key = day.day;
  t.yieldKwh = day.yieldKwh;
  t.gridHours = day.gridHours;
  t.peakW = day.peakW;
  t.peakTime = day.peakTime;
  t.peakOffset = day.peakOffset;
  t.days = day.records > 0 ? 1 : 0;
  return t;
}

std::vector<PeriodTotals> FoldInto(const std::vector<DaySummary>& days, PeriodKind kind) {
  std::vector<PeriodTotals> periods;
  for (const DaySummary& day : days) {
    const PeriodTotals t = TotalsOfDay(day);
    if (kind == PeriodKind::Day) {
      periods.push_back(t);
      continue;
    }
    const CivilDate date = DateOf(day.day);
    const int64_t key = kind == PeriodKind::Month ? MonthIndex(date.year, date.month) : date.year;
    if (periods.empty() || periods.back().key != key) {
      PeriodTotals& fresh = periods.emplace_back();
      fresh.kind = kind;
      fresh.key = key;
    }
    PeriodTotals& p = periods.back();
    p.yieldKwh += t.yieldKwh;
    p.gridHours += t.gridHours;
    p.days += t.days;
    if (t.HasPeak() && (!p.HasPeak() || t.peakW > p.peakW)) {
      p.peakW = t.peakW;
      p.peakTime = t.peakTime;
      p.peakOffset = t.peakOffset;
    }
  }
  return periods;
}

std::string PeriodName(const PeriodTotals& totals) {
  switch (totals.kind) {
    case PeriodKind::Day:
      return FormatDay(totals.key);
    case PeriodKind::Month:
      return FormatMonth(static_cast<int>(totals.key));
    case PeriodKind::Year:
      break;
  }
  return std::to_string(totals.key);
}

std::string TotalsCsvHeader() {
  return "date,yield_kwh,peak_w,peak_time,hours";
}

std::string TotalsCsvRow(const PeriodTotals& t) {
  std::string peakTime;
  char peak[32] = "";
  if (t.HasPeak()) {
    std::snprintf(peak, sizeof peak, "%.1f", t.peakW);
    const int64_t day = LocalDayOf(t.peakTime, t.peakOffset);
    peakTime = FormatClock(LocalSecondOfDay(t.peakTime, t.peakOffset));
    if (t.kind != PeriodKind::Day) peakTime = FormatDay(day) + " " + peakTime;
  }
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%.1f", t.yieldKwh);
  char hours[32];
  std::snprintf(hours, sizeof hours, "%.2f", t.gridHours);
  return PeriodName(t) + "," + numbers + "," + peak + "," + peakTime + "," + hours;
}

std::string RecordCsvRow(const LiveRecord& record) {
  const int64_t day = LocalDayOf(record.time, record.utcOffsetSeconds);
  const int64_t second = LocalSecondOfDay(record.time, record.utcOffsetSeconds);
  const CivilDate date = DateOf(day);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d-%02d-%02d", date.year, date.month, date.day,
                static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                static_cast<int>(second % 60));
  std::string line = text;
  for (size_t i = 0; i < kLiveFieldCount; ++i) {
    line += ',';
    const double value = record.values[i];
    if (std::isnan(value)) continue;
    const int decimals = InfoOf(static_cast<LiveField>(i)).decimals;
    if (decimals == 0) {
      std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(static_cast<int64_t>(value)));
    } else {
      std::snprintf(text, sizeof text, decimals == 1 ? "%3.1f" : "%3.2f", value);
    }
    line += text;
  }
  return line;
}

DayLog DayLogOf(const std::vector<LiveRecord>& records) {
  DayLog log;
  if (records.empty()) return log;
  const int64_t first = records.front().time;
  auto f = [](const LiveRecord& r, LiveField field) { return static_cast<float>(r.Get(field)); };
  auto u = [](const LiveRecord& r, LiveField field) {
    const double v = r.Get(field);
    return std::isnan(v) ? 0u : static_cast<uint32_t>(static_cast<int64_t>(v));
  };
  for (const LiveRecord& r : records) {
    log.tickMs.push_back(static_cast<uint32_t>((r.time - first) * 1000));
    log.udc.push_back(f(r, LiveField::Udc));
    log.uac.push_back(f(r, LiveField::Uac));
    log.freq.push_back(f(r, LiveField::Freq));
    log.pac.push_back(f(r, LiveField::Pac));
    log.eToday.push_back(f(r, LiveField::EToday));
    log.eTotal.push_back(f(r, LiveField::ETotal));
    log.tToday.push_back(u(r, LiveField::TToday));
    log.tTotal.push_back(u(r, LiveField::TTotal));
    log.temp.push_back(f(r, LiveField::Temp));
    log.iacShift.push_back(u(r, LiveField::IacShift));
    log.dci.push_back(f(r, LiveField::Dci));
    log.state1.push_back(u(r, LiveField::State1));
    log.state2.push_back(u(r, LiveField::State2));
  }
  return log;
}

}  // namespace pyranex::history
