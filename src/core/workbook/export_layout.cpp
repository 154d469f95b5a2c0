#include "core/workbook/export_layout.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <span>

#include "core/samples/sample_index.h"

namespace pyranex {
namespace {

// Truncated value cut to the integer width the way a two's complement store does, instead of
// leaving an out-of-range conversion undefined (fault bit 31 shows as a negative number).
int64_t WrapToBits(double value, int bits) {
  const auto half = static_cast<double>(int64_t{1} << (bits - 1));
  if (value > -half && value < half) return static_cast<int64_t>(value);
  if (!std::isfinite(value)) return 0;
  const double modulus = 2 * half;
  double m = std::fmod(std::trunc(value), modulus);
  if (m < 0) m += modulus;
  const auto u = static_cast<uint64_t>(m);
  const uint64_t sign = uint64_t{1} << (bits - 1);
  return static_cast<int64_t>(u ^ sign) - static_cast<int64_t>(sign);
}

// round(value * scale), ties to even, from the exact binary value: m * 2^e times the scale fits
// in 64 bits for every value below 2^52 when the scale is at most 100. False for larger values,
// infinities and NaN.
bool ScaleExactly(double value, uint32_t scale, uint64_t& scaled) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);
  if (biased == 0x7FF) return false;
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  const uint64_t mantissa = biased == 0 ? fraction : fraction | uint64_t{1} << 52;
  const int exponent = (biased == 0 ? 1 : biased) - 1075;
  if (exponent >= 0) return false;
  const uint64_t product = mantissa * scale;
  const int shift = -exponent;
  if (shift >= 64) {
    scaled = 0;  // below 2^-4
    return true;
  }
  scaled = product >> shift;
  const uint64_t rest = product & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  if (rest > half || (rest == half && (scaled & 1) != 0)) ++scaled;
  return true;
}

// The text "%.*f" gives for one or two decimals, made from integers where the value allows.
char* Fixed(double value, int decimals, char* out) {
  const uint32_t scale = decimals == 1 ? 10 : 100;
  uint64_t scaled = 0;
  if (!ScaleExactly(value, scale, scaled)) {
    return std::to_chars(out, out + kNumberTextMax, value, std::chars_format::fixed, decimals).ptr;
  }
  char* p = out;
  if (std::signbit(value)) *p++ = '-';
  p = std::to_chars(p, out + kNumberTextMax, scaled / scale).ptr;
  *p++ = '.';
  uint64_t part = scaled % scale;
  if (decimals == 2) {
    *p++ = static_cast<char>('0' + part / 10);
    part %= 10;
  }
  *p++ = static_cast<char>('0' + part);
  return p;
}

// strftime's "%Y-%m-%d %H-%M-%S", without its cost on every row of a long export.
char* TimeText(const std::tm& t, char* out) {
  const int pairs[5] = {t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
  if (std::any_of(std::begin(pairs), std::end(pairs), [](int v) { return v < 0 || v > 99; })) {
    return out + std::strftime(out, kNumberTextMax, "%Y-%m-%d %H-%M-%S", &t);
  }
  static constexpr char kSeparators[] = "-- --";
  char* p = std::to_chars(out, out + 12, t.tm_year + 1900).ptr;
  for (int i = 0; i < 5; ++i) {
    *p++ = kSeparators[i];
    *p++ = static_cast<char>('0' + pairs[i] / 10);
    *p++ = static_cast<char>('0' + pairs[i] % 10);
  }
  return p;
}

}  // namespace

NumberFormat NumberFormatOf(double divisor) {
  const double whole = std::trunc(divisor + 0.5);
  if (whole == 10) return NumberFormat::OneDecimal;
  if (whole == 100) return NumberFormat::TwoDecimals;
  if (std::trunc(divisor * 10 + 0.5) == 1) return NumberFormat::Rounded16;
  if (whole == 1) return NumberFormat::Truncated32;
  return NumberFormat::None;
}

char* FormatNumber(double value, NumberFormat format, char* out) {
  // A value the record lacks (a stored record cut short) leaves its cell empty, not "nan".
  if (std::isnan(value)) return format == NumberFormat::None ? nullptr : out;
  switch (format) {
    case NumberFormat::OneDecimal:
      return Fixed(value, 1, out);
    case NumberFormat::TwoDecimals:
      return Fixed(value, 2, out);
    case NumberFormat::Rounded16:
      return std::to_chars(out, out + kNumberTextMax, WrapToBits(std::trunc(value + 0.5), 16)).ptr;
    case NumberFormat::Truncated32:
      return std::to_chars(out, out + kNumberTextMax, WrapToBits(value, 32)).ptr;
    case NumberFormat::None:
      break;
  }
  return nullptr;
}

void FormatByDivisor(double value, double divisor, std::string& text) {
  char buffer[kNumberTextMax];
  if (char* end = FormatNumber(value, NumberFormatOf(divisor), buffer)) {
    text.assign(buffer, static_cast<size_t>(end - buffer));
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

  NumberFormat formats[13];
  for (size_t col = 0; col < 13; ++col) formats[col] = NumberFormatOf(kColumnDivisors[col]);
  // One text buffer, as a column whose divisor has no format repeats the text before it.
  char text[kNumberTextMax];
  size_t length = 0;
  uint32_t row = kFirstDataRow;
  // The step counts from the sample just before the range, when there is one.
  bool haveLast = range.first > 0;
  size_t last = haveLast ? range.first - 1 : 0;
  for (size_t i = range.first; i < range.end && i < available; ++i) {
    if (haveLast && static_cast<uint32_t>(log.tickMs[i] - log.tickMs[last]) < stepMs) continue;
    const uint32_t elapsed = static_cast<uint32_t>(log.tickMs[i] - log.tickMs[0]) / 1000u;
    length = static_cast<size_t>(TimeText(clock.ToLocal(params.startTime + elapsed), text) - text);
    sink.Cell(row, 0, std::string_view(text, length));
    const auto d = [](auto v) { return static_cast<double>(v); };
    const double values[13] = {
        d(log.udc[i]),    d(log.uac[i]),    d(log.freq[i]),   d(log.pac[i]),  d(log.eToday[i]),
        d(log.eTotal[i]), d(log.tToday[i]), d(log.tTotal[i]), d(log.temp[i]), d(log.iacShift[i]),
        d(log.dci[i]),    d(log.state1[i]), d(log.state2[i])};
    for (uint32_t col = 0; col < 13; ++col) {
      if (const char* end = FormatNumber(values[col], formats[col], text)) {
        length = static_cast<size_t>(end - text);
      }
      sink.Cell(row, col + 1, std::string_view(text, length));
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
