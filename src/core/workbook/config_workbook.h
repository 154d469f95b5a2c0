#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/clock.h"
#include "core/platform/paths.h"
#include "core/workbook/xls_reader.h"

namespace pyranex {

// Sheet names from the program's string table (strings 260 and 265).
inline constexpr std::string_view kParameterSheetName = "tester-parset";
inline constexpr std::string_view kModelSheetName = "tester-modelcode";
inline constexpr char kConfigWorkbookName[] = "datacfg.xls";

inline constexpr std::array<std::string_view, 22> ParameterNames = {
    "Vpv-start(V)",   "T-start(s)",   "VacLow(V)",      "VacLower(V)",   "T-VacLow(ms)",
    "T-VacLower(ms)", "VacHigh(V)",   "VacHigher(V)",   "T-VacHigh(ms)", "T-VacHigher(ms)",
    "f-Low(Hz)",      "f-Lower(Hz)",  "T-f-Low(ms)",    "T-f-Lower(ms)", "f-High(Hz)",
    "f-Higher(Hz)",   "T-f-High(ms)", "T-f-Higher(ms)", "DCI-Limit",     "DCI-shift",
    "language",       "contrast"};

inline constexpr std::array<std::string_view, 16> StandardNames = {
    "AS4777",  "VDE-OLD", "VDE-NEW",     "G83",     "G59",    "DK5940",  "ETL-208",   "ETL-240",
    "ETL-277", "IEC",     "Island mode", "Belgium", "French", "Germany", "Dazevavoz", "Brazil"};

enum ColumnKind { ColumnText, ColumnNumber };
struct ColumnSpec {
  std::string_view name;
  ColumnKind kind;
};

// Column 0 is "Parameter"; standard k lives in column k + 3.
inline constexpr std::array<ColumnSpec, 19> kParameterColumns = {{
    {"Parameter", ColumnText}, {"min", ColumnNumber},         {"max", ColumnNumber},
    {"AS4777", ColumnNumber},  {"VDE-OLD", ColumnNumber},     {"VDE-NEW", ColumnNumber},
    {"G83", ColumnNumber},     {"G59", ColumnNumber},         {"DK5940", ColumnNumber},
    {"ETL-208", ColumnNumber}, {"ETL-240", ColumnNumber},     {"ETL-277", ColumnNumber},
    {"IEC", ColumnNumber},     {"Island mode", ColumnNumber}, {"Belgium", ColumnNumber},
    {"French", ColumnNumber},  {"Germany", ColumnNumber},     {"Dazevavoz", ColumnNumber},
    {"Brazil", ColumnNumber},
}};

inline constexpr std::array<ColumnSpec, 6> kModelColumns = {{
    {"Model", ColumnText},
    {"Name", ColumnText},
    {"Code", ColumnNumber},
    {"Power", ColumnNumber},
    {"Standard", ColumnText},
    {"Code-Old", ColumnText},
}};
inline constexpr size_t kModelName = 1;
inline constexpr size_t kModelCode = 2;
inline constexpr size_t kModelOldCode = 5;

inline constexpr int ModelCodeNotFound = 999;
inline constexpr int KindByName = 2010;
inline constexpr int KindByOldCode = 2011;

// Longest error text kept (the field is 200 bytes with its terminator) and longest cell text.
inline constexpr size_t kLastErrorMax = 199;
inline constexpr size_t kCellTextMax = 103;

// Week number of a legacy serial's date: dayIndex counts from 1 on 1 January, janFirstWeekday
// is 1 for Sunday ... 7 for Saturday. Weeks change on Sundays; with 1 January on a Monday the
// first seven days are week 1, otherwise the days before the first Sunday are week 0.
int LegacyWeekNumber(int dayIndex, int janFirstWeekday);

// Reference data from "datacfg.xls" in the current folder: the parameter values of each grid
// standard and the model codes. Read once; failures never reach the user, they are kept in
// m_lastError.
class CConfigWorkbook {
 public:
  // Opens the workbook in the given folder.
  CConfigWorkbook(const Clock& clock, const std::filesystem::path& currentDir);
  CConfigWorkbook(const Clock& clock, const Paths& paths)
      : CConfigWorkbook(clock, paths.currentDir) {}
  ~CConfigWorkbook() = default;
  CConfigWorkbook(const CConfigWorkbook&) = delete;
  CConfigWorkbook& operator=(const CConfigWorkbook&) = delete;

  void ReadParameterSheet();
  void ReadModelSheet();
  void CloseConnection();

  // Standard k (0..15), parameter index i (0..21): 0 and out set, or -1 with out untouched.
  int LookupStandardValue(int k, int i, double& out) const;
  // The parameter names whose value for standard k the sheet does not hold: no row, a cell that
  // could not be read, or an empty cell (the reader repeats the number before it there, which
  // belongs to another column).
  std::vector<std::string_view> MissingStandardValues(int k) const;
  // Model code for a name (KindByName) or legacy two-character code (KindByOldCode).
  int LookupModelCode(int kind, std::string_view text) const;
  // Rewrites a 10-character legacy serial text into its 12-digit form and returns its format
  // year (2010 or 2011). A text of another length, or one whose day digits give no day, is left
  // unchanged and 0 is returned.
  int ConvertLegacySerial(std::string& s) const;

  const std::string& LastError() const { return m_lastError; }

  std::array<std::vector<std::string>, 19> ParameterTable;
  std::array<std::vector<std::string>, 6> ModelTable;

 private:
  template <size_t N>
  void ReadSheet(std::string_view sheet, const std::array<ColumnSpec, N>& columns,
                 std::array<std::vector<std::string>, N>& table,
                 std::array<std::vector<bool>, N>* emptyCells = nullptr);
  void SetError(const XlsReadError& error, std::string_view field = {});
  void SetSuccess() { m_lastError = "Success"; }

  const Clock& clock_;
  XlsTableReader connection_;
  std::string m_lastError = "NULL POINTER";
  // Which number cells of the parameter sheet were empty, aligned with ParameterTable.
  std::array<std::vector<bool>, 19> parameterEmpty_;
};

// The module-wide copy of the last failed open, query or cell read.
std::string ConfigLastErrorCopy();

}  // namespace pyranex
