#include "core/acquisition/live_csv.h"

#include <array>
#include <cstdio>
#include <vector>

namespace pyranex {

namespace {

constexpr std::array<const char*, 14> kColumnTitles = {
    "Time",        "Udc(V)",    "Uac(V)", "f(Hz)",     "Pac(W)",  "Etoday(kWh)", "Etotal(kWh)",
    "Ttoday(min)", "Ttotal(h)", "T(°C)",  "Iac-Shift", "DCI(mA)", "State 1",     "State 2"};

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Whole numbers as the spreadsheet writer shows them: truncated to a signed 32-bit value.
std::string Whole(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%d", static_cast<int32_t>(static_cast<int64_t>(value)));
  return text;
}

template <typename T>
std::string Field(const std::vector<T>& series, size_t index, int decimals) {
  if (index >= series.size()) return "";
  const double value = static_cast<double>(series[index]);
  if (decimals == 1) return Format("%3.1f", value);
  if (decimals == 2) return Format("%3.2f", value);
  return Whole(value);
}

}  // namespace

std::string LiveCsvHeader() {
  std::string line;
  for (const char* title : kColumnTitles) {
    if (!line.empty()) line += ',';
    line += '"';
    line += title;
    line += '"';
  }
  return line;
}

std::string LiveCsvRow(const Clock& clock, int64_t sampleTime, const DayLog& log, size_t index) {
  const std::array<std::string, 14> fields = {FormatLocal(clock, sampleTime, "%Y-%m-%d %H-%M-%S"),
                                              Field(log.udc, index, 1),
                                              Field(log.uac, index, 1),
                                              Field(log.freq, index, 2),
                                              Field(log.pac, index, 1),
                                              Field(log.eToday, index, 1),
                                              Field(log.eTotal, index, 1),
                                              Field(log.tToday, index, 0),
                                              Field(log.tTotal, index, 0),
                                              Field(log.temp, index, 1),
                                              Field(log.iacShift, index, 0),
                                              Field(log.dci, index, 0),
                                              Field(log.state1, index, 0),
                                              Field(log.state2, index, 0)};
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += ',';
    line += fields[i];
  }
  return line;
}

}  // namespace pyranex
