#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/platform/clock.h"
#include "core/samples/day_log.h"

namespace pyranex {

// Mode 0 is the interactive export (with progress), mode 2 the history save.
enum class WorkbookMode { Interactive = 0, History = 2 };

// What one workbook write needs besides the samples.
struct ExportParams {
  std::string serialText;  // twelve characters
  int ratedPower = 0;      // units of 100 W
  int64_t startTime = 0;   // calendar seconds of the first sample
  int fromMin = 0;         // range in minutes from the start time
  int toMin = 0;
  int stepMin = 0;   // least spacing of written samples; 0 writes all
  std::string path;  // UTF-8
};

inline constexpr std::array<std::string_view, 14> kColumnTitles = {
    "Time",        "Udc(V)",    "Uac(V)", "f(Hz)",     "Pac(W)",  "Etoday(kWh)", "Etotal(kWh)",
    "Ttoday(min)", "Ttotal(h)", "T(°C)",  "Iac-Shift", "DCI(mA)", "State 1",     "State 2"};

// The divisor each data column B..N was scaled with; it picks the number format.
inline constexpr std::array<double, 13> kColumnDivisors = {10, 10, 100, 10, 10, 10, 1,
                                                           1,  10, 1,   1,  1,  1};

// Last data row (0-based index 65531, the sheet's row 65532): at most 65530 samples.
inline constexpr uint32_t kLastDataRow = 65531;
inline constexpr uint32_t kFirstDataRow = 2;

// How a divisor formats its values: 10 -> "%3.1f", 100 -> "%3.2f", 0.1 -> rounded 16-bit
// integer, 1 -> truncated 32-bit integer; any other divisor has no format of its own.
enum class NumberFormat { OneDecimal, TwoDecimals, Rounded16, Truncated32, None };
NumberFormat NumberFormatOf(double divisor);

// Room for any number's text ("%3.1f" of the largest double has 311 characters).
inline constexpr size_t kNumberTextMax = 400;

// Writes the value's text to out (kNumberTextMax characters) and returns its end; nullptr for
// NumberFormat::None, which writes nothing.
char* FormatNumber(double value, NumberFormat format, char* out);

// Formats a value by its divisor. A divisor without a format leaves text as it was (the
// previous cell's).
void FormatByDivisor(double value, double divisor, std::string& text);

// Samples [first, end) of the range; first >= end means none.
struct ExportRange {
  size_t first = 0;
  size_t end = 0;
};
ExportRange FindExportRange(const DayLog& log, int fromMin, int toMin);

// The path a workbook is saved under: ".xls" is appended unless the path ends in ".xls" or
// ".XLS" exactly.
std::string WorkbookSavePath(std::string path);

// Receives the cells (0-based row and column) and, in the interactive mode, the progress.
class LayoutSink {
 public:
  virtual ~LayoutSink() = default;
  virtual void Cell(uint32_t row, uint32_t col, std::string_view text) = 0;
  virtual void Progress(size_t examined, size_t total) = 0;
};

// Lays out the title cell, the column titles and one row per selected sample.
void LayoutWorkbook(const DayLog& log, const ExportParams& params, WorkbookMode mode,
                    const Clock& clock, LayoutSink& sink);

}  // namespace pyranex
