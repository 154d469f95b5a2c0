#include "core/history/history_workbook.h"

#include <charconv>
#include <cstdio>
#include <limits>

#include "core/history/calendar.h"
#include "core/history/local_time_resolver.h"
#include "core/workbook/export_layout.h"
#include "core/workbook/xls_reader.h"

namespace pyranex::history {
namespace {

using Cell = XlsTableReader::Cell;
using CellKind = XlsTableReader::CellKind;

double NumberOf(const Cell& cell) {
  if (cell.kind == CellKind::Number) return cell.number;
  if (cell.kind == CellKind::Text) {
    double value = 0;
    const char* end = cell.text.data() + cell.text.size();
    const auto r = std::from_chars(cell.text.data(), end, value);
    if (r.ec == std::errc() && r.ptr == end) return value;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

// "SN: 000000000001,Model: 5000"
bool ParseTitle(const std::string& title, std::string& serial, int& ratedW) {
  constexpr std::string_view kSerial = "SN: ";
  constexpr std::string_view kModel = ",Model: ";
  if (title.rfind(kSerial, 0) != 0) return false;
  const size_t model = title.find(kModel);
  if (model == std::string::npos) return false;
  serial = title.substr(kSerial.size(), model - kSerial.size());
  const char* first = title.data() + model + kModel.size();
  const char* last = title.data() + title.size();
  const auto r = std::from_chars(first, last, ratedW);
  return !serial.empty() && r.ec == std::errc() && r.ptr == last;
}

}  // namespace

bool ReadHistoryWorkbook(const std::filesystem::path& path, const Clock& clock,
                         HistoryWorkbook& workbook, std::string& why) {
  workbook = {};
  XlsTableReader reader;
  XlsReadError error;
  if (!reader.Open(path, error) || !reader.SelectSheetAt(0, 1, error)) {
    why = error.description;
    return false;
  }
  Cell cell;
  int ratedW = 0;
  if (!reader.ReadCellAt(0, 0, cell, error) || cell.kind != CellKind::Text ||
      !ParseTitle(cell.text, workbook.serial, ratedW)) {
    why = "not a history workbook (its first cell is not \"SN: ...,Model: ...\")";
    return false;
  }
  workbook.ratedPower = ratedW / 100;
  for (uint16_t c = 0; c < kColumnTitles.size(); ++c) {
    if (!reader.ReadCellAt(1, c, cell, error) || cell.kind != CellKind::Text ||
        cell.text != kColumnTitles[c]) {
      why = "not a history workbook (column " + std::string(1, static_cast<char>('A' + c)) +
            " of row 2 is not \"" + std::string(kColumnTitles[c]) + "\")";
      return false;
    }
  }

  LocalTimeResolver resolver(clock);
  int64_t previous = std::numeric_limits<int64_t>::min();
  const uint32_t rows = reader.RowCount();
  workbook.records.reserve(rows > 2 ? rows - 2 : 0);
  for (uint32_t row = 2; row < rows; ++row) {
    CivilDate date;
    int hour = 0, minute = 0, second = 0;
    char tail = 0;
    if (!reader.ReadCellAt(row, 0, cell, error)) {
      why = error.description;
      return false;
    }
    if (cell.kind != CellKind::Text ||
        std::sscanf(cell.text.c_str(), "%4d-%2d-%2d %2d-%2d-%2d%c", &date.year, &date.month,
                    &date.day, &hour, &minute, &second, &tail) != 6 ||
        date.month < 1 || date.month > 12 || date.day < 1 ||
        date.day > DaysInMonth(date.year, date.month) || hour > 23 || minute > 59 || second > 59 ||
        hour < 0 || minute < 0 || second < 0) {
      ++workbook.unreadableRows;
      continue;
    }
    LiveRecord& record = workbook.records.emplace_back();
    const LocalTimeResolver::Moment moment = resolver.Resolve(date, hour, minute, second, previous);
    previous = moment.utc;
    record.time = moment.utc;
    record.utcOffsetSeconds = moment.offset;
    record.serialNumber = workbook.serial;
    record.ratedPower = workbook.ratedPower;
    for (uint16_t c = 0; c < kLiveFieldCount; ++c) {
      if (!reader.ReadCellAt(row, static_cast<uint16_t>(c + 1), cell, error)) {
        why = error.description;
        return false;
      }
      record.values[c] = NumberOf(cell);
    }
  }
  return true;
}

}  // namespace pyranex::history
