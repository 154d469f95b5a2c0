#include "core/workbook/xls_writer.h"

#include <new>

#include "core/workbook/atomic_file.h"
#include "core/workbook/compound_file.h"

namespace pyranex {

std::unique_ptr<XlsWriter> XlsWriter::Start() noexcept {
  try {
    return std::make_unique<XlsWriter>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void XlsWriter::NewWorkbook() {
  Quit();
  content_.sheets.emplace_back();
}

void XlsWriter::FirstSheet() {
  sheet_ = content_.sheets.empty() ? nullptr : &content_.sheets[0];
}

void XlsWriter::AddSheet(std::string_view name) {
  content_.sheets.push_back(XlsSheetContent{std::string(name), {}});
  sheet_ = &content_.sheets.back();
}

void XlsWriter::NameSheet(std::string_view name) {
  if (sheet_) sheet_->name = std::string(name);
}

void XlsWriter::Quit() {
  content_ = XlsContent{};
  stringIndex_.clear();
  sheet_ = nullptr;
}

bool XlsWriter::PutCellText(std::string_view cellName, std::string_view text) {
  const auto ref = ParseCellName(cellName);
  if (!ref) return false;
  return PutCellText(ref->row, ref->col, text);
}

bool XlsWriter::PutCellText(uint32_t row, uint32_t col, std::string_view text) {
  if (!sheet_ || row >= kXlsMaxRows || col >= kXlsMaxCols) return false;
  if (sheet_->rows.size() <= row) sheet_->rows.resize(row + 1);
  auto& cells = sheet_->rows[row];
  if (cells.size() <= col) cells.resize(col + 1);
  XlsCell& cell = cells[col];
  if (text.empty()) {
    cell = XlsCell{};
  } else if (const auto number = ParseCellNumber(text)) {
    cell = XlsCell{XlsCell::Kind::Number, 0, *number};
  } else {
    cell = XlsCell{XlsCell::Kind::String, Intern(text), 0};
  }
  return true;
}

uint32_t XlsWriter::Intern(std::string_view text) {
  const auto [it, added] =
      stringIndex_.try_emplace(std::string(text), static_cast<uint32_t>(content_.strings.size()));
  if (added) content_.strings.push_back(EncodeXlsString(text));
  return it->second;
}

std::string XlsWriter::SaveAs(const std::filesystem::path& path, int fileFormat) {
  if (fileFormat != kXlWorkbookNormal) {
    return "file format " + std::to_string(fileFormat) + " is not supported";
  }
  if (content_.sheets.empty()) return "there is no workbook to save";
  try {
    const std::vector<uint8_t> stream = EncodeWorkbookStream(content_);
    const CompoundFrame frame = FrameWorkbookStream(stream.size());
    const std::vector<uint8_t> padding(frame.padding, 0);
    return WriteFileAtomically(path, {frame.header, stream, padding, frame.trailer});
  } catch (const std::bad_alloc&) {
    return "not enough memory to build the workbook";
  }
}

}  // namespace pyranex
