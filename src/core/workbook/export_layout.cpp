#include "core/workbook/export_layout.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <span>

#include "core/samples/sample_index.h"

namespace pyranex {
namespace {

// Truncated value cut to the integer width the way a two's complement store does, instead of
// leaving an out-of-range conversion undefined (fault bit 31 shows as a negative number).
int64_t WrapToBits(double value, int bits) {
  if (!std::isfinite(value)) return 0;
  const double modulus = std::ldexp(1.0, bits);
  double m = std::fmod(std::trunc(value), modulus);
  if (m < 0) m += modulus;
  const auto u = static_cast<uint64_t>(m);
  const uint64_t sign = uint64_t{1} << (bits - 1);
  return static_cast<int64_t>(u ^ sign) - static_cast<int64_t>(sign);
}

void Fixed(double value, int decimals, std::string& text) {
  char buffer[400];
  const auto r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  text.assign(buffer, r.ptr);
}

void Integer(int64_t value, std::string& text) {
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  text.assign(buffer, r.ptr);
}

}  // namespace

void FormatByDivisor(double value, double divisor, std::string& text) {
  // A value the record lacks (a stored record cut short) leaves its cell empty, not "nan".
  if (std::isnan(value)) {
    text.clear();
    return;
  }
  const double whole = std::trunc(divisor + 0.5);
  if (whole == 10) {
    Fixed(value, 1, text);
  } else if (whole == 100) {
    Fixed(value, 2, text);
  } else if (std::trunc(divisor * 10 + 0.5) == 1) {
    Integer(WrapToBits(std::trunc(value + 0.5), 16), text);
  } else if (whole == 1) {
    Integer(WrapToBits(value, 32), text);
  }
}

ExportRange FindExportRange(const DayLog& log, int fromMin, int toMin) {
  const std::span<const uint32_t> ticks(log.tickMs);
  const int first = FindSampleIndex(ticks, fromMin);
  const int end = FindSampleIndex(ticks, toMin);
  ExportRange range;
  range.first = first < 0 ? 0 : static_cast<size_t>(first);
  range.end = end < 0 ? log.state2.size() : static_cast<size_t>(end);
  return range;
}

std::string WorkbookSavePath(std::string path) {
  const bool hasExtension = path.size() >= 4 && (path.ends_with(".xls") || path.ends_with(".XLS"));
  if (!hasExtension) path += ".xls";
  return path;
}

void LayoutWorkbook(const DayLog& log, const ExportParams& params, WorkbookMode mode,
                    const Clock& clock, LayoutSink& sink) {
  char title[128];
  std::snprintf(title, sizeof title, "SN: %s,Model: %d", params.serialText.c_str(),
                params.ratedPower * 100);
  sink.Cell(0, 0, title);
  for (uint32_t col = 0; col < kColumnTitles.size(); ++col) sink.Cell(1, col, kColumnTitles[col]);

  const ExportRange range = FindExportRange(log, params.fromMin, params.toMin);
  if (range.first >= range.end) return;
  // Every series is read only up to the samples whose values are all present.
  const size_t available = log.CompleteCount();
  const size_t total = range.end - range.first;
  const size_t progressEvery = total / 10;
  const uint32_t stepMs = static_cast<uint32_t>(std::max(params.stepMin, 0)) * 60000u;

  std::string text;
  uint32_t row = kFirstDataRow;
  // The step counts from the sample just before the range, when there is one.
  bool haveLast = range.first > 0;
  size_t last = haveLast ? range.first - 1 : 0;
  for (size_t i = range.first; i < range.end && i < available; ++i) {
    if (haveLast && static_cast<uint32_t>(log.tickMs[i] - log.tickMs[last]) < stepMs) continue;
    const uint32_t elapsed = static_cast<uint32_t>(log.tickMs[i] - log.tickMs[0]) / 1000u;
    sink.Cell(row, 0, FormatLocal(clock, params.startTime + elapsed, "%Y-%m-%d %H-%M-%S"));
    const auto d = [](auto v) { return static_cast<double>(v); };
    const double values[13] = {
        d(log.udc[i]),    d(log.uac[i]),    d(log.freq[i]),   d(log.pac[i]),  d(log.eToday[i]),
        d(log.eTotal[i]), d(log.tToday[i]), d(log.tTotal[i]), d(log.temp[i]), d(log.iacShift[i]),
        d(log.dci[i]),    d(log.state1[i]), d(log.state2[i])};
    for (uint32_t col = 0; col < 13; ++col) {
      FormatByDivisor(values[col], kColumnDivisors[col], text);
      sink.Cell(row, col + 1, text);
    }
    last = i;
    haveLast = true;
    if (mode == WorkbookMode::Interactive && total > 10 && (i - range.first) % progressEvery == 0) {
      sink.Progress(i - range.first, total);
    }
    ++row;
    if (row > kLastDataRow) break;
  }
}

}  // namespace pyranex
