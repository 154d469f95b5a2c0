#include "core/workbook/config_workbook.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "core/workbook/cell_text.h"

namespace pyranex {
namespace {

std::mutex& CopyMutex() {
  static std::mutex m;
  return m;
}
std::string& LastErrorCopy() {
  static std::string copy;
  return copy;
}
void CopyLastError(const std::string& text) {
  std::lock_guard lock(CopyMutex());
  LastErrorCopy() = text;
}

// Cuts a UTF-8 text to at most max bytes without splitting a character.
std::string CutUtf8(std::string text, size_t max) {
  if (text.size() <= max) return text;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  text.resize(n);
  return text;
}

std::string ShortestText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

// Leading integer of a text, as atoi reads it, limited to int.
long LeadingInteger(const std::string& text) {
  const long v = std::strtol(text.c_str(), nullptr, 10);
  return v;
}

// Value of the leading decimal digits of s[from, from + count): none gives 0.
int LeadingDigits(std::string_view s, size_t from, size_t count) {
  int value = 0;
  for (size_t i = from; i < from + count && i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') break;
    value = value * 10 + (s[i] - '0');
  }
  return value;
}

std::string PadLeft(long value, size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

std::string_view PowerText(char c) {
  switch (c) {
    case '1':
      return "1.5K";
    case '2':
      return "2K";
    case '3':
      return "2.8K";
    case '4':
      return "4K";
    case '5':
      return "5K";
    default:
      return "";
  }
}

std::string LegacyModelName(char family0, char power, char family3) {
  switch (family3) {
    case 'S': {
      std::string name = "T" + std::string(PowerText(power));
      if (family0 == 'A') name += "(A)";
      if (family0 == 'V') name += "(V)";
      return name;
    }
    case 'C':
      return "VXR " + std::string(PowerText(power));
    case 'A': {
      static constexpr std::string_view kWatts[] = {"1750", "2330", "3180", "4600", "5200"};
      std::string name = "W";
      if (power >= '1' && power <= '5') name += kWatts[power - '1'];
      return name;
    }
    case 'I':
      return "Lumora " + std::string(PowerText(power));
    default:
      return "";
  }
}

}  // namespace

std::string ConfigLastErrorCopy() {
  std::lock_guard lock(CopyMutex());
  return LastErrorCopy();
}

int LegacyWeekNumber(int dayIndex, int janFirstWeekday) {
  const int n = janFirstWeekday == 2 ? dayIndex : dayIndex + janFirstWeekday - 8;
  return (n + 6) / 7;
}

CConfigWorkbook::CConfigWorkbook(const Clock& clock, const std::filesystem::path& currentDir)
    : clock_(clock) {
  XlsReadError error;
  if (connection_.Open(currentDir / kConfigWorkbookName, error)) {
    SetSuccess();
  } else {
    SetError(error);
    CopyLastError(m_lastError);
  }
}

void CConfigWorkbook::SetError(const XlsReadError& error, std::string_view field) {
  char code[16];
  std::snprintf(code, sizeof code, "%08lx", static_cast<unsigned long>(error.code));
  std::string text = "Error:\n";
  text += "Code = " + std::string(code) + "\n";
  text += "Code meaning = " + XlsErrorMeaning(error.code) + "\n";
  text += "Source = " + error.source + "\n";
  text += "Description = " + error.description;
  if (!field.empty()) text += "\n**For Field Name:" + std::string(field);
  m_lastError = CutUtf8(std::move(text), kLastErrorMax);
}

void CConfigWorkbook::ReadParameterSheet() {
  ReadSheet(kParameterSheetName, kParameterColumns, ParameterTable, &parameterEmpty_);
}

void CConfigWorkbook::ReadModelSheet() {
  ReadSheet(kModelSheetName, kModelColumns, ModelTable);
}

void CConfigWorkbook::CloseConnection() {
  connection_.Close();
}

template <size_t N>
void CConfigWorkbook::ReadSheet(std::string_view sheet, const std::array<ColumnSpec, N>& columns,
                                std::array<std::vector<std::string>, N>& table,
                                std::array<std::vector<bool>, N>* emptyCells) {
  XlsReadError error;
  if (connection_.SelectSheet(sheet, error)) {
    SetSuccess();
  } else {
    SetError(error);
    CopyLastError(m_lastError);
  }
  if (!connection_.HasSheet()) {
    m_lastError = "Invalid Record";
    return;
  }
  // The number an empty number cell repeats; none yet at the start of the pass.
  std::optional<double> running;
  // A row cut short by a failed cell still gets an (empty) entry in every later column, so
  // every list keeps one entry per row and a lookup never lands on another row's value.
  const auto padRow = [&table, emptyCells](size_t from) {
    for (size_t i = from; i < N; ++i) {
      table[i].emplace_back();
      if (emptyCells) (*emptyCells)[i].push_back(false);
    }
  };
  for (; !connection_.AtEnd(); connection_.MoveNext(), SetSuccess()) {
    for (const ColumnSpec& column : columns) {
      XlsTableReader::Cell cell;
      const size_t index = static_cast<size_t>(&column - columns.data());
      if (!connection_.ReadCell(column.name, cell, error)) {
        SetError(error, column.name);
        CopyLastError(m_lastError);
        padRow(index);
        if (column.kind == ColumnText) return;  // the rest of the sheet is not read
        break;                                  // the rest of this row is not read
      }
      std::string text;
      if (column.kind == ColumnText) {
        text =
            cell.kind == XlsTableReader::CellKind::Number ? ShortestText(cell.number) : cell.text;
        text = CutUtf8(std::move(text), kCellTextMax);
      } else {
        if (cell.kind == XlsTableReader::CellKind::Number) {
          running = cell.number;
        } else if (cell.kind == XlsTableReader::CellKind::Text) {
          const auto number = ParseCellNumber(cell.text);
          if (!number) {
            SetError({kXlsErrorTypeMismatch, "Workbook reader", "The cell does not hold a number."},
                     column.name);
            CopyLastError(m_lastError);
            padRow(index);
            break;
          }
          running = *number;
        }
        if (running) {
          char buffer[400];
          const int n = std::snprintf(buffer, sizeof buffer, "%.2f", *running);
          if (n < 0 || static_cast<size_t>(n) > kCellTextMax) {
            SetError({kXlsErrorTypeMismatch, "Workbook reader", "The number is too long."},
                     column.name);
            CopyLastError(m_lastError);
            padRow(index);
            break;
          }
          text.assign(buffer, static_cast<size_t>(n));
        }
      }
      SetSuccess();
      table[index].push_back(std::move(text));
      if (emptyCells) (*emptyCells)[index].push_back(cell.kind == XlsTableReader::CellKind::Empty);
    }
  }
}

int CConfigWorkbook::LookupStandardValue(int k, int i, double& out) const {
  if (k < 0 || k >= static_cast<int>(StandardNames.size()) || i < 0 ||
      i >= static_cast<int>(ParameterNames.size())) {
    return -1;
  }
  const auto& names = ParameterTable[0];
  const auto& values = ParameterTable[static_cast<size_t>(k) + 3];
  for (size_t row = 0; row < names.size(); ++row) {
    if (names[row] != ParameterNames[static_cast<size_t>(i)]) continue;
    // A column cut short by a failed read, or a value never set, is not found.
    if (row >= values.size() || values[row].empty()) return -1;
    out = std::strtod(values[row].c_str(), nullptr);
    return 0;
  }
  return -1;
}

std::vector<std::string_view> CConfigWorkbook::MissingStandardValues(int k) const {
  std::vector<std::string_view> missing;
  if (k < 0 || k >= static_cast<int>(StandardNames.size())) return missing;
  const auto& names = ParameterTable[0];
  const auto& empty = parameterEmpty_[static_cast<size_t>(k) + 3];
  for (size_t i = 0; i < ParameterNames.size(); ++i) {
    double value = 0;
    bool found = LookupStandardValue(k, static_cast<int>(i), value) == 0;
    for (size_t row = 0; found && row < names.size(); ++row) {
      if (names[row] != ParameterNames[i]) continue;
      found = row >= empty.size() || !empty[row];
      break;
    }
    if (!found) missing.push_back(ParameterNames[i]);
  }
  return missing;
}

int CConfigWorkbook::LookupModelCode(int kind, std::string_view text) const {
  const auto& codes = ModelTable[kModelCode];
  const auto& keys = ModelTable[kind == KindByOldCode ? kModelOldCode : kModelName];
  if (kind != KindByOldCode && kind != KindByName) return ModelCodeNotFound;
  for (size_t r = 0; r < codes.size() && r < keys.size(); ++r) {
    if (keys[r] != text) continue;
    // An empty code (its cell unreadable) is no code.
    return codes[r].empty() ? ModelCodeNotFound : static_cast<int>(LeadingInteger(codes[r]));
  }
  return ModelCodeNotFound;
}

int CConfigWorkbook::ConvertLegacySerial(std::string& s) const {
  if (s.size() != 10) return 0;
  int year = 0;
  int site = 0;
  int code = ModelCodeNotFound;
  if (s[2] >= '1' && s[2] <= '9') {
    year = 2011;
    site = s[2] - '0';
    code = LookupModelCode(KindByOldCode, std::string_view(s).substr(0, 2));
  } else {
    year = 2010;
    site = 1;
    code = LookupModelCode(KindByName, LegacyModelName(s[0], s[1], s[3]));
  }

  int month = 1;
  if (s[4] >= '1' && s[4] <= '9') month = s[4] - '0';
  if (s[4] >= 'A' && s[4] <= 'C') month = 10 + (s[4] - 'A');
  static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int day = LeadingDigits(s, 5, 2);
  if (day == 0) return 0;  // no date: the entry stays as typed
  if (day > kMonthDays[month - 1]) day = 1;
  const int sequence = LeadingDigits(s, 7, 3);

  std::tm jan1{};
  jan1.tm_year = year - 1900;
  jan1.tm_mon = 0;
  jan1.tm_mday = 1;
  jan1.tm_isdst = -1;
  std::tm date = jan1;
  date.tm_mon = month - 1;
  date.tm_mday = day;
  const int64_t t0 = clock_.FromLocal(jan1);
  const int64_t t1 = clock_.FromLocal(date);
  // Rounded, not truncated: a day that lost an hour to daylight saving is still a whole day.
  const int dayIndex = static_cast<int>(std::llround(static_cast<double>(t1 - t0) / 86400.0)) + 1;
  const int janFirstWeekday = clock_.ToLocal(t0).tm_wday + 1;
  const int week = LegacyWeekNumber(dayIndex, janFirstWeekday);
  const int wday = clock_.ToLocal(t1).tm_wday;
  const int weekday = wday == 0 ? 7 : wday;

  s = std::to_string(site) + PadLeft(code, 3) + std::to_string(year - 2000) + PadLeft(week, 2) +
      std::to_string(weekday) + PadLeft(sequence, 3);
  return year;
}

}  // namespace pyranex
