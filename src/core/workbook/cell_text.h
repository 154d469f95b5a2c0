#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pyranex {

// Row and column of a cell, both from 0 ("A1" is 0,0).
struct CellRef {
  uint32_t row = 0;
  uint32_t col = 0;
  friend bool operator==(const CellRef&, const CellRef&) = default;
};

inline constexpr uint32_t kXlsMaxRows = 65536;
inline constexpr uint32_t kXlsMaxCols = 256;

// "B7" -> row 6, col 1. Letters A..IV (either case), row 1..65536; nothing else is accepted.
std::optional<CellRef> ParseCellName(std::string_view name);

// The number a typed-in text stands for, as a spreadsheet program takes it: optional blanks
// around an optional sign and a decimal number (with optional exponent) that fills the rest.
// Infinite or NaN results and hexadecimal forms are texts, not numbers.
std::optional<double> ParseCellNumber(std::string_view text);

// A cell text in the form BIFF8 stores it: UTF-16 units, or one byte per unit when every unit
// fits in Latin-1. Invalid UTF-8 sequences become U+FFFD; the text is cut at 32767 units.
struct XlsString {
  uint16_t units = 0;
  bool wide = false;
  std::string bytes;  // units bytes (narrow) or 2 * units bytes little-endian (wide)
};
XlsString EncodeXlsString(std::string_view utf8);

}  // namespace pyranex
