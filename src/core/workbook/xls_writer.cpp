#include "core/workbook/xls_writer.h"

#include <algorithm>
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
  utf8Pool_.clear();
  utf8Spans_.clear();
  slots_.clear();
  sheet_ = nullptr;
}

bool XlsWriter::PutCellText(std::string_view cellName, std::string_view text) {
  const auto ref = ParseCellName(cellName);
  if (!ref) return false;
  return PutCellText(ref->row, ref->col, text);
}

bool XlsWriter::PutCellText(uint32_t row, uint32_t col, std::string_view text) {
  if (!sheet_ || row >= kXlsMaxRows || col >= kXlsMaxCols) return false;
  XlsCell cell;
  cell.row = static_cast<uint16_t>(row);
  cell.col = static_cast<uint8_t>(col);
  if (const auto number = ParseCellNumber(text)) {
    cell.number = *number;
  } else if (!text.empty()) {
    cell.kind = XlsCell::Kind::String;
    cell.sst = Intern(text);
  }
  auto& cells = sheet_->cells;
  // Cells usually come in order: append. Otherwise replace, insert or clear in place.
  if (cells.empty() || cells.back().Key() < cell.Key()) {
    if (!text.empty()) cells.push_back(cell);
    return true;
  }
  const auto at = std::lower_bound(cells.begin(), cells.end(), cell.Key(),
                                   [](const XlsCell& c, uint32_t key) { return c.Key() < key; });
  const bool same = at != cells.end() && at->Key() == cell.Key();
  if (text.empty()) {
    if (same) cells.erase(at);
  } else if (same) {
    *at = cell;
  } else {
    cells.insert(at, cell);
  }
  return true;
}

void XlsWriter::ReserveCells(size_t cells) {
  if (sheet_) sheet_->cells.reserve(cells);
}

std::string_view XlsWriter::Utf8Of(uint32_t index) const {
  const auto [offset, length] = utf8Spans_[index];
  return std::string_view(utf8Pool_).substr(offset, length);
}

uint32_t XlsWriter::Intern(std::string_view text) {
  // A slot holds the low half of the text's hash over its index + 1 (0: free), so that a probe
  // looks at another text only when the hashes agree.
  const auto slotOf = [](size_t hash, uint32_t index) {
    return static_cast<uint64_t>(static_cast<uint32_t>(hash)) << 32 | (index + 1);
  };
  if (slots_.size() < 2 * (utf8Spans_.size() + 1)) {
    std::vector<uint64_t> bigger(std::max<size_t>(1024, slots_.size() * 2), 0);
    const size_t mask = bigger.size() - 1;
    for (const uint64_t entry : slots_) {
      if (entry == 0) continue;
      size_t slot = (entry >> 32) & mask;
      while (bigger[slot] != 0) slot = (slot + 1) & mask;
      bigger[slot] = entry;
    }
    slots_ = std::move(bigger);
  }
  const size_t mask = slots_.size() - 1;
  const size_t hash = std::hash<std::string_view>{}(text);
  const uint64_t tag = slotOf(hash, 0) & ~uint64_t{0xFFFFFFFF};
  size_t slot = hash & mask;
  for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
    const uint64_t entry = slots_[slot];
    if ((entry & ~uint64_t{0xFFFFFFFF}) != tag) continue;
    const auto index = static_cast<uint32_t>(entry - 1);
    if (Utf8Of(index) == text) return index;
  }
  const auto index = static_cast<uint32_t>(utf8Spans_.size());
  utf8Spans_.emplace_back(static_cast<uint32_t>(utf8Pool_.size()),
                          static_cast<uint32_t>(text.size()));
  utf8Pool_.append(text);
  content_.strings.push_back(EncodeXlsString(text));
  slots_[slot] = slotOf(hash, index);
  return index;
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
