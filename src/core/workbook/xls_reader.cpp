#include "core/workbook/xls_reader.h"

#include <freexl.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <vector>

#include "core/workbook/cell_text.h"
#include "core/workbook/file_platform.h"
#include "core/workbook/utf8_path.h"
#include "core/workbook/xls_structure.h"

namespace pyranex {
namespace {

XlsReadError FreeXlError(int rc, std::string description) {
  return {static_cast<uint32_t>(rc), "FreeXL", std::move(description)};
}

std::string ShortestText(double value) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, r.ptr);
}

}  // namespace

std::string XlsErrorMeaning(uint32_t code) {
  switch (static_cast<int32_t>(code)) {
    case FREEXL_FILE_NOT_FOUND:
      return "The file does not exist or cannot be read.";
    case FREEXL_INSUFFICIENT_MEMORY:
      return "Not enough memory.";
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_CFBF_INVALID_SECTOR_SIZE:
    case FREEXL_CFBF_EMPTY_FAT_CHAIN:
    case FREEXL_CFBF_ILLEGAL_FAT_ENTRY:
    case FREEXL_CFBF_READ_ERROR:
    case FREEXL_CFBF_SEEK_ERROR:
    case FREEXL_INVALID_MINI_STREAM:
    case FREEXL_CFBF_ILLEGAL_MINI_FAT_ENTRY:
    case FREEXL_CRAFTED_FILE:
      return "The file is not a valid compound document.";
    case FREEXL_BIFF_INVALID_BOF:
    case FREEXL_BIFF_INVALID_SST:
    case FREEXL_BIFF_ILLEGAL_SST_INDEX:
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
      return "The file is not a readable Excel 97-2003 workbook.";
    case FREEXL_BIFF_ILLEGAL_SHEET_INDEX:
    case FREEXL_ILLEGAL_CELL_ROW_COL:
    case FREEXL_ILLEGAL_RK_VALUE:
      return "The workbook's sheet data is damaged.";
    default:
      break;
  }
  switch (code) {
    case kXlsErrorNoTable:
      return "The table could not be found.";
    case kXlsErrorNoColumn:
      return "Item cannot be found in the collection.";
    case kXlsErrorTypeMismatch:
      return "Type mismatch.";
    case kXlsErrorNotOpen:
      return "Operation is not allowed when the object is closed.";
    case kXlsErrorDamaged:
      return "The workbook file is damaged.";
    default:
      return "Unknown error " + std::to_string(static_cast<int32_t>(code)) + ".";
  }
}

bool XlsTableReader::Open(const std::filesystem::path& path, XlsReadError& error) {
  Close();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = FreeXlError(FREEXL_FILE_NOT_FOUND,
                        "Cannot open the workbook '" + Utf8FromPath(path) + "'.");
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kXlsMaxFileSize) {
    error = {kXlsErrorDamaged, "Workbook reader", "The workbook is too large."};
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), size);
  if (!in) {
    error = FreeXlError(FREEXL_CFBF_READ_ERROR,
                        "Cannot read the workbook '" + Utf8FromPath(path) + "'.");
    return false;
  }
  return OpenBytes(bytes, Utf8FromPath(path.filename()), error);
}

bool XlsTableReader::OpenBytes(std::span<const uint8_t> bytes, std::string_view name,
                               XlsReadError& error) {
  Close();
  // FreeXL reads past its buffers on some damaged files, so it only sees checked bytes.
  std::string why;
  if (bytes.size() > static_cast<size_t>(kXlsMaxFileSize)) {
    error = {kXlsErrorDamaged, "Workbook reader", "The workbook is too large."};
    return false;
  }
  if (!CheckXlsStructure(bytes, why)) {
    error = {kXlsErrorDamaged, "Workbook reader",
             "The workbook '" + std::string(name) + "' is damaged: " + why + "."};
    return false;
  }
  // FreeXL opens by file name only. It gets a private copy of exactly the checked bytes, so a
  // file replaced after the check can never reach it.
  auto copy = std::make_unique<PrivateFileCopy>();
  if (!copy->Create(bytes, why)) {
    error = FreeXlError(FREEXL_FILE_NOT_FOUND, "Cannot prepare the workbook '" + std::string(name) +
                                                   "' for reading: " + why);
    return false;
  }
  const void* handle = nullptr;
  const int rc = freexl_open(copy->Name().c_str(), &handle);
  if (rc != FREEXL_OK) {
    if (handle) freexl_close(handle);
    error = FreeXlError(rc, "Cannot open the workbook '" + std::string(name) + "'.");
    return false;
  }
  copy_ = std::move(copy);
  handle_ = handle;
  return true;
}

void XlsTableReader::Close() {
  if (handle_) freexl_close(handle_);
  handle_ = nullptr;
  copy_.reset();  // after FreeXL let go of it
  sheetSelected_ = false;
  columns_.clear();
}

bool XlsTableReader::SelectSheet(std::string_view name, XlsReadError& error) {
  sheetSelected_ = false;
  columns_.clear();
  if (!handle_) {
    error = {kXlsErrorNotOpen, "Workbook reader", "No workbook is open."};
    return false;
  }
  unsigned int count = 0;
  int rc = freexl_get_info(handle_, FREEXL_BIFF_SHEET_COUNT, &count);
  if (rc != FREEXL_OK) {
    error = FreeXlError(rc, "Cannot count the sheets.");
    return false;
  }
  for (unsigned int i = 0; i < count && i < 0xFFFF; ++i) {
    const char* sheetName = nullptr;
    rc = freexl_get_worksheet_name(handle_, static_cast<unsigned short>(i), &sheetName);
    if (rc != FREEXL_OK || !sheetName || name != sheetName) continue;
    return ActivateSheet(i, 0, name, error);
  }
  error = {kXlsErrorNoTable, "Workbook reader",
           "The workbook has no sheet named '" + std::string(name) + "'."};
  return false;
}

bool XlsTableReader::SelectSheetAt(unsigned index, uint32_t headerRow, XlsReadError& error) {
  sheetSelected_ = false;
  columns_.clear();
  if (!handle_) {
    error = {kXlsErrorNotOpen, "Workbook reader", "No workbook is open."};
    return false;
  }
  unsigned int count = 0;
  const int rc = freexl_get_info(handle_, FREEXL_BIFF_SHEET_COUNT, &count);
  if (rc != FREEXL_OK || index >= count || index >= 0xFFFF) {
    error = {kXlsErrorNoTable, "Workbook reader",
             "The workbook has no sheet " + std::to_string(index + 1) + "."};
    return false;
  }
  return ActivateSheet(index, headerRow, "sheet " + std::to_string(index + 1), error);
}

bool XlsTableReader::ActivateSheet(unsigned index, uint32_t headerRow, std::string_view name,
                                   XlsReadError& error) {
  int rc = freexl_select_active_worksheet(handle_, static_cast<unsigned short>(index));
  if (rc == FREEXL_OK) rc = freexl_worksheet_dimensions(handle_, &rows_, &cols_);
  if (rc != FREEXL_OK) {
    error = FreeXlError(rc, "Cannot select the sheet '" + std::string(name) + "'.");
    return false;
  }
  sheetSelected_ = true;
  for (uint16_t c = 0; rows_ > headerRow && c < cols_; ++c) {
    Cell header;
    XlsReadError ignored;
    if (!ReadRaw(headerRow, c, header, ignored)) continue;
    if (header.kind == CellKind::Number) header.text = ShortestText(header.number);
    if (!header.text.empty()) columns_.try_emplace(header.text, c);
  }
  row_ = headerRow + 1;
  return true;
}

bool XlsTableReader::ReadRaw(uint32_t row, uint16_t col, Cell& cell, XlsReadError& error) {
  FreeXL_CellValue value{};
  const int rc = freexl_get_cell_value(handle_, row, col, &value);
  if (rc != FREEXL_OK) {
    error = FreeXlError(rc, "Cannot read a cell.");
    return false;
  }
  cell = Cell{};
  switch (value.type) {
    case FREEXL_CELL_INT:
      cell.kind = CellKind::Number;
      cell.number = value.value.int_value;
      break;
    case FREEXL_CELL_DOUBLE:
      cell.kind = CellKind::Number;
      cell.number = value.value.double_value;
      break;
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
      cell.kind = CellKind::Text;
      cell.text = value.value.text_value ? value.value.text_value : "";
      if (cell.text.empty()) cell.kind = CellKind::Empty;
      break;
    default:
      break;
  }
  return true;
}

bool XlsTableReader::ReadCell(std::string_view column, Cell& cell, XlsReadError& error) {
  if (AtEnd()) {
    error = {kXlsErrorNotOpen, "Workbook reader", "No current row."};
    return false;
  }
  const auto it = columns_.find(std::string(column));
  if (it == columns_.end()) {
    error = {kXlsErrorNoColumn, "Workbook reader",
             "The sheet has no column named '" + std::string(column) + "'."};
    return false;
  }
  return ReadRaw(row_, it->second, cell, error);
}

}  // namespace pyranex
