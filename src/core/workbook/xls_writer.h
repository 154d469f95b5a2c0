#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/workbook/biff_stream.h"

namespace pyranex {

// The spreadsheet file format code of an Excel 97-2003 workbook, the only one written here.
inline constexpr int kXlWorkbookNormal = -4143;

// Writes Excel 97-2003 workbooks cell by cell, with the operations a spreadsheet program's
// automation offers, in the same order: start, new workbook, first sheet, put cell texts,
// save as, quit.
class XlsWriter {
 public:
  // Empty when the writer cannot start (no memory for it).
  static std::unique_ptr<XlsWriter> Start() noexcept;

  XlsWriter() = default;
  XlsWriter(const XlsWriter&) = delete;
  XlsWriter& operator=(const XlsWriter&) = delete;

  // Begins a new workbook with one empty sheet, dropping any unsaved one.
  void NewWorkbook();
  // Selects the workbook's first sheet for the cell operations.
  void FirstSheet();
  // Adds a sheet after the others and selects it.
  void AddSheet(std::string_view name);
  // Renames the selected sheet (names are cut to 31 characters when saved).
  void NameSheet(std::string_view name);

  // A text that reads fully as a number becomes a number cell, an empty text clears the cell,
  // anything else is a string cell. False for a bad cell name or when no sheet is selected.
  bool PutCellText(std::string_view cellName, std::string_view text);
  bool PutCellText(uint32_t row, uint32_t col, std::string_view text);
  // Sets room aside for about this many cells in the selected sheet, so that a long export
  // does not move its cells again and again while they grow.
  void ReserveCells(size_t cells);

  // Saves the workbook in the given file format. Returns an empty text on success, otherwise
  // the reason; a file already at the path stays as it was when the save fails.
  std::string SaveAs(const std::filesystem::path& path, int fileFormat = kXlWorkbookNormal);

  // Drops the workbook. Also done by the destructor.
  void Quit();

  const XlsContent& Content() const { return content_; }

 private:
  uint32_t Intern(std::string_view text);
  std::string_view Utf8Of(uint32_t index) const;

  XlsContent content_;
  // Shared strings by their UTF-8 text: an open-addressing table over the texts kept end to
  // end in one buffer (one allocation per table, not per string).
  std::string utf8Pool_;
  std::vector<std::pair<uint32_t, uint32_t>> utf8Spans_;  // offset, length per string
  std::vector<uint64_t> slots_;
  XlsSheetContent* sheet_ = nullptr;
};

}  // namespace pyranex
