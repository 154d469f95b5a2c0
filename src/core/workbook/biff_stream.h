#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/workbook/cell_text.h"

namespace pyranex {

// One non-empty cell; a sheet keeps them ordered by row, then column. Sixteen bytes, as a
// full export holds nearly a million of them.
struct XlsCell {
  enum class Kind : uint8_t { Number, String };
  uint16_t row = 0;
  uint8_t col = 0;
  Kind kind = Kind::Number;
  uint32_t sst = 0;  // index into XlsContent::strings
  double number = 0;

  uint32_t Key() const { return uint32_t{row} << 8 | col; }
};

struct XlsSheetContent {
  std::string name = "Sheet1";
  std::vector<XlsCell> cells;  // sorted by Key(), one per position
};

// One workbook: its worksheets and the shared string table their string cells index.
struct XlsContent {
  std::vector<XlsSheetContent> sheets;
  std::vector<XlsString> strings;
};

// The "Workbook" stream of an Excel 97-2003 file (BIFF8): globals, then the sheet. The stream is
// padded to at least 4096 bytes so that it never belongs in a compound file's mini stream.
std::vector<uint8_t> EncodeWorkbookStream(const XlsContent& content);

// Largest data part of one record; longer data continues in CONTINUE records.
inline constexpr size_t kBiffMaxRecordData = 8224;

// The 32-bit RK form of a number when it has one that reads back as exactly the same double:
// a 30-bit integer, a 30-bit integer hundredths, or a double whose low 34 bits are zero.
bool EncodeRk(double value, uint32_t& rk);

}  // namespace pyranex
