#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/workbook/cell_text.h"

namespace pyranex {

struct XlsCell {
  enum class Kind : uint8_t { Empty, Number, String };
  Kind kind = Kind::Empty;
  uint32_t sst = 0;  // index into XlsContent::strings
  double number = 0;
};

struct XlsSheetContent {
  std::string name = "Sheet1";
  std::vector<std::vector<XlsCell>> rows;  // rows[row][col]; short rows are fine
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

}  // namespace pyranex
