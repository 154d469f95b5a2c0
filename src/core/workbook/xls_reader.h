#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/workbook/file_platform.h"

namespace pyranex {

// A failure of the workbook reader: a 32-bit result code, who reported it and what happened.
struct XlsReadError {
  uint32_t code = 0;
  std::string source;
  std::string description;
};

// Result codes of the reader's own failures (those a database route reports in the same cases).
inline constexpr uint32_t kXlsErrorNoTable = 0x80040E37;   // no sheet of that name
inline constexpr uint32_t kXlsErrorNoColumn = 0x800A0CC1;  // no column of that name
inline constexpr uint32_t kXlsErrorTypeMismatch = 0x80020005;
inline constexpr uint32_t kXlsErrorNotOpen = 0x800A0E78;  // no open workbook / result set
inline constexpr uint32_t kXlsErrorDamaged = 0x80030109;  // damaged container or records

// Larger files are refused before they are read.
inline constexpr int64_t kXlsMaxFileSize = int64_t{256} << 20;

// The meaning of a result code, for error texts.
std::string XlsErrorMeaning(uint32_t code);

// Reads an Excel 97-2003 workbook as tables: a sheet is picked by name, its first row names the
// columns, rows are delivered in order and cells are asked for by column name.
class XlsTableReader {
 public:
  XlsTableReader() = default;
  ~XlsTableReader() { Close(); }
  XlsTableReader(const XlsTableReader&) = delete;
  XlsTableReader& operator=(const XlsTableReader&) = delete;

  // Both refuse a workbook whose structure is damaged; `name` names the workbook in errors.
  bool Open(const std::filesystem::path& path, XlsReadError& error);
  bool OpenBytes(std::span<const uint8_t> bytes, std::string_view name, XlsReadError& error);
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }

  // Selects the sheet and places the cursor on its first data row (the row below the names).
  bool SelectSheet(std::string_view name, XlsReadError& error);
  // Selects the sheet at `index` with its column names in row `headerRow` (0-based); the cursor
  // goes to the row below.
  bool SelectSheetAt(unsigned index, uint32_t headerRow, XlsReadError& error);
  uint32_t RowCount() const { return sheetSelected_ ? rows_ : 0; }
  uint16_t ColumnCount() const { return sheetSelected_ ? cols_ : 0; }
  uint32_t CurrentRow() const { return row_; }
  bool HasSheet() const { return sheetSelected_; }
  bool AtEnd() const { return !sheetSelected_ || row_ >= rows_; }
  void MoveNext() { ++row_; }

  enum class CellKind { Empty, Number, Text };
  struct Cell {
    CellKind kind = CellKind::Empty;
    double number = 0;
    std::string text;
  };
  // The cell of the current row in the named column.
  bool ReadCell(std::string_view column, Cell& cell, XlsReadError& error);
  // Any cell of the selected sheet by 0-based row and column.
  bool ReadCellAt(uint32_t row, uint16_t col, Cell& cell, XlsReadError& error) {
    return ReadRaw(row, col, cell, error);
  }

 private:
  bool ReadRaw(uint32_t row, uint16_t col, Cell& cell, XlsReadError& error);
  bool ActivateSheet(unsigned index, uint32_t headerRow, std::string_view name,
                     XlsReadError& error);

  const void* handle_ = nullptr;
  std::unique_ptr<PrivateFileCopy> copy_;  // what FreeXL has open
  bool sheetSelected_ = false;
  uint32_t rows_ = 0;
  uint16_t cols_ = 0;
  uint32_t row_ = 0;
  std::unordered_map<std::string, uint16_t> columns_;
};

}  // namespace pyranex
