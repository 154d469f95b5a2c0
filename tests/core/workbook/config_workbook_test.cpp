#include "core/workbook/config_workbook.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/workbook/xls_writer.h"
#include "support/fake_clock.h"
#include "xls_readback.h"

namespace pyranex {
namespace {

std::string StandardsHeader(bool withBrazil = true) {
  std::string line = "Parameter\tmin\tmax";
  for (const auto name : StandardNames) {
    if (name == "Brazil" && !withBrazil) continue;
    line += "\t" + std::string(name);
  }
  return line + "\n";
}

// A parameter row: name, min, max and the given standard values ("" leaves a cell empty).
std::string Row(const std::string& name, const std::vector<std::string>& values) {
  std::string line = name + "\t0\t1000";
  for (const auto& v : values) line += "\t" + v;
  return line + "\n";
}

std::vector<std::string> Same(const std::string& v, size_t n = 16) {
  return std::vector<std::string>(n, v);
}

const char kModelSheet[] =
    "=== tester-modelcode\n"
    "Model\tName\tCode\tPower\tStandard\tCode-Old\n"
    "QT2000-A\tT2K(A)\t23\t2000\tAS4777\tA2\n"
    "QW2330\tW2330\t7\t2330\tETL-240\tAB\n"
    "QX\t\t12\t1500\tIEC\tZZ\n"
    "QL2000\tLumora 2K\t53\t2000\tG83\tL2\n";

enum class Writer { Xlwt, Ours };

// Writes the description (format of xlwt_book.py) as dir/datacfg.xls with either writer.
bool MakeWorkbook(Writer writer, const std::string& description, const std::filesystem::path& dir) {
  const auto target = dir / kConfigWorkbookName;
  if (writer == Writer::Xlwt) return test::WriteWithXlwt(description, target);
  auto xls = XlsWriter::Start();
  xls->NewWorkbook();
  bool first = true;
  uint32_t row = 0;
  std::istringstream lines(description);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("=== ", 0) == 0) {
      if (first) {
        xls->FirstSheet();
        xls->NameSheet(line.substr(4));
      } else {
        xls->AddSheet(line.substr(4));
      }
      first = false;
      row = 0;
      continue;
    }
    if (line.empty()) continue;
    std::stringstream fields(line);
    std::string field;
    for (uint32_t col = 0; std::getline(fields, field, '\t'); ++col) {
      if (field.rfind("s:", 0) == 0) field = field.substr(2);
      xls->PutCellText(row, col, field);
    }
    ++row;
  }
  return xls->SaveAs(target).empty();
}

class ConfigWorkbookTest : public ::testing::TestWithParam<Writer> {
 protected:
  // Writes the workbook and reads it as the program does at start-up.
  std::unique_ptr<CConfigWorkbook> Load(const std::string& description) {
    EXPECT_TRUE(MakeWorkbook(GetParam(), description, dir_.path()));
    auto book = std::make_unique<CConfigWorkbook>(clock_, dir_.path());
    EXPECT_EQ(book->LastError(), "Success");
    book->ReadParameterSheet();
    book->ReadModelSheet();
    book->CloseConnection();
    return book;
  }

  test::FakeClock clock_;
  test::TempDir dir_;
};

constexpr int kVpvStart = 0, kTStart = 1, kVacLow = 2, kDciShift = 19, kLanguage = 20,
              kContrast = 21;

TEST_P(ConfigWorkbookTest, StandardValues) {
  std::vector<std::string> vpv;
  for (int k = 0; k < 16; ++k) vpv.push_back(std::to_string(150 + k));
  std::vector<std::string> vac = Same("230");
  vac[0] = "230.456";
  vac[1] = "230.454";
  vac[2] = "-0.005";
  std::vector<std::string> language = Same("");
  language[0] = "2";
  language[3] = "3";
  const auto book = Load("=== tester-parset\n" + StandardsHeader() + Row("Vpv-start(V)", vpv) +
                         Row("T-start(s)", Same("60")) + Row("T-start(s)", Same("99")) +
                         Row("VacLow(V)", vac) + Row("DCI-Shift", Same("2000")) +
                         Row("language", language) + Row("contrast", Same("s:4")) + kModelSheet);
  struct Case {
    int k, i, result;
    double value;
  };
  const Case cases[] = {
      {0, kVpvStart, 0, 150},  {15, kVpvStart, 0, 165},
      {7, kVpvStart, 0, 157},  {0, kVacLow, 0, 230.46},
      {1, kVacLow, 0, 230.45}, {2, kVacLow, 0, -0.01},
      {0, kTStart, 0, 60},     {9, kTStart, 0, 60},   // the upper of two rows wins
      {0, kDciShift, -1, -7},                         // "DCI-Shift" is not "DCI-shift"
      {0, kLanguage, 0, 2},    {1, kLanguage, 0, 2},  // empty: the number to its left
      {3, kLanguage, 0, 3},    {15, kLanguage, 0, 3},
      {5, kContrast, 0, 4},  // a text that reads as a number in a number column
      {0, 3, -1, -7},        // a parameter with no row
      {16, kVpvStart, -1, -7}, {-1, kVpvStart, -1, -7},
      {0, 22, -1, -7},
  };
  for (const Case& c : cases) {
    double out = -7;
    EXPECT_EQ(book->LookupStandardValue(c.k, c.i, out), c.result) << c.k << "," << c.i;
    EXPECT_DOUBLE_EQ(out, c.value) << c.k << "," << c.i;
  }
  EXPECT_EQ(book->ParameterTable[0].size(), 7u);
  EXPECT_EQ(book->ParameterTable[3][3], "230.46");
  EXPECT_EQ(book->ParameterTable[4][3], "230.45");
}

TEST_P(ConfigWorkbookTest, MissingStandardColumnCutsEveryRowThere) {
  std::vector<std::string> values;
  for (int k = 0; k < 15; ++k) values.push_back(std::to_string(200 + k));
  const auto book = Load("=== tester-parset\n" + StandardsHeader(false) + Row("VacLow(V)", values) +
                         Row("VacLower(V)", values) + kModelSheet);
  for (int k = 0; k < 15; ++k) {
    double out = 0;
    EXPECT_EQ(book->LookupStandardValue(k, kVacLow, out), 0) << k;
    EXPECT_EQ(out, 200 + k);
    EXPECT_EQ(book->LookupStandardValue(k, 3, out), 0) << k;  // later rows are still read
  }
  double out = -1;
  EXPECT_EQ(book->LookupStandardValue(15, kVacLow, out), -1);
  EXPECT_EQ(out, -1);
  EXPECT_EQ(book->ParameterTable[18], (std::vector<std::string>{"", ""}));  // cut: empty
  EXPECT_EQ(book->ParameterTable[17].size(), 2u);
  const std::string copy = ConfigLastErrorCopy();
  EXPECT_EQ(copy.rfind("Error:\nCode = 800a0cc1\n", 0), 0u) << copy;
  EXPECT_NE(copy.find("\n**For Field Name:Brazil"), std::string::npos) << copy;
}

TEST_P(ConfigWorkbookTest, EmptyNumberCellBeforeAnyNumberIsNotAValue) {
  std::vector<std::string> values = Same("5");
  values[0] = "";
  const auto book =
      Load("=== tester-parset\n" + StandardsHeader() +
           "Vpv-start(V)\t\t\t\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\t5\n" + kModelSheet);
  double out = -1;
  EXPECT_EQ(book->LookupStandardValue(0, kVpvStart, out), -1);
  EXPECT_EQ(book->LookupStandardValue(1, kVpvStart, out), 0);
  EXPECT_EQ(out, 5);
}

TEST_P(ConfigWorkbookTest, ModelCodes) {
  const auto book = Load("=== tester-parset\n" + StandardsHeader() + kModelSheet);
  struct Case {
    int kind;
    const char* text;
    int code;
  };
  const Case cases[] = {
      {KindByName, "T2K(A)", 23},     {KindByOldCode, "AB", 7},      {KindByOldCode, "ZZ", 12},
      {KindByName, "", 12},           {KindByName, "Lumora 2K", 53}, {KindByName, "t2k(a)", 999},
      {KindByOldCode, "T2K(A)", 999}, {KindByName, "AB", 999},       {KindByOldCode, "", 999},
      {1234, "T2K(A)", 999},
  };
  for (const Case& c : cases) EXPECT_EQ(book->LookupModelCode(c.kind, c.text), c.code) << c.text;
  EXPECT_EQ(book->ModelTable[2][0], "23.00");
}

TEST_P(ConfigWorkbookTest, LegacySerials) {
  const auto book = Load("=== tester-parset\n" + StandardsHeader() + kModelSheet);
  struct Case {
    const char* in;
    int year;
    const char* out;
  };
  const Case cases[] = {
      {"AB1x315012", 2011, "100711112012"},  // 15 March 2011, a Tuesday, week 11
      {"A2xSA05123", 2010, "102310402123"},  // 5 October 2010, T2K(A)
      {"AB1x231007", 2011, "100711052007"},  // 31 February -> 1 February
      {"AB3x315012", 2011, "300711112012"},  // site 3
      {"AB1xC25012", 2011, "100711527012"},  // 25 December, a Sunday
      {"AB1xZ10012", 2011, "100711021012"},  // unknown month letter: January
      {"QQ1x315012", 2011, "199911112012"},  // no such model
      {"A2xZA05123", 2010, "101210402123"},  // unknown family: the row with an empty name
      {"L9xIA05123", 2010, "199910402123"},  // "Lumora " with no power class: no such model
      {"x2xIA05123", 2010, "105310402123"},  // Lumora 2K
      {"AB1x3151x3", 2011, "100711112001"},  // sequence: leading digits only
      {"AB1x300012", 0, "AB1x300012"},       // day 0: no date, left as typed
      {"AB1x3xx012", 0, "AB1x3xx012"},      {"AB1x31501", 0, "AB1x31501"},  // not ten characters
      {"AB1x3150123", 0, "AB1x3150123"},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    EXPECT_EQ(book->ConvertLegacySerial(s), c.year) << c.in;
    EXPECT_EQ(s, c.out) << c.in;
  }
}

TEST_P(ConfigWorkbookTest, LongCellTextIsCut) {
  const std::string longName(150, 'p');
  const auto book =
      Load("=== tester-parset\n" + StandardsHeader() + Row(longName, Same("1")) + kModelSheet);
  ASSERT_EQ(book->ParameterTable[0].size(), 1u);
  EXPECT_EQ(book->ParameterTable[0][0], longName.substr(0, kCellTextMax));
}

TEST_P(ConfigWorkbookTest, MissingTextColumnEndsTheSheet) {
  const auto book = Load("=== tester-parset\n" + StandardsHeader() +
                         "=== tester-modelcode\n"
                         "Model\tCode\tPower\tStandard\tCode-Old\n"
                         "QT2000-A\t23\t2000\tAS4777\tA2\n"
                         "QW2330\t7\t2330\tETL-240\tAB\n");
  EXPECT_EQ(book->ModelTable[0].size(), 1u);
  EXPECT_EQ(book->ModelTable[1], (std::vector<std::string>{""}));  // the cut row stays aligned
  EXPECT_EQ(book->LookupModelCode(KindByOldCode, "AB"), 999);
  EXPECT_NE(book->LastError().find("**For Field Name:Name"), std::string::npos);
}

TEST_P(ConfigWorkbookTest, UnreadableNumberEndsOnlyItsRow) {
  const auto book = Load("=== tester-parset\n" + StandardsHeader() +
                         "=== tester-modelcode\n"
                         "Model\tName\tCode\tPower\tStandard\tCode-Old\n"
                         "A\tW1750\t5\t1750\tETL-240\tAA\n"
                         "B\tW2330\ts:abc\t2330\tETL-240\tAB\n"
                         "C\tW3180\t9\t3180\tETL-240\tAC\n");
  EXPECT_EQ(book->ModelTable[0].size(), 3u);
  EXPECT_EQ(book->ModelTable[2], (std::vector<std::string>{"5.00", "", "9.00"}));
  EXPECT_EQ(book->ModelTable[5], (std::vector<std::string>{"AA", "", "AC"}));
  EXPECT_EQ(book->LookupModelCode(KindByName, "W1750"), 5);
  EXPECT_EQ(book->LookupModelCode(KindByName, "W2330"), 999);  // its code could not be read
  EXPECT_EQ(book->LookupModelCode(KindByName, "W3180"), 9);    // not the next row's
  EXPECT_EQ(book->LookupModelCode(KindByOldCode, "AC"), 9);
  EXPECT_EQ(book->LastError(), "Success");  // after the next successful row
}

TEST_P(ConfigWorkbookTest, UnreadableStandardValueShiftsNoLaterRow) {
  std::vector<std::string> low = Same("200");
  low[0] = "s:n/a";
  std::vector<std::string> lower;
  for (int k = 0; k < 16; ++k) lower.push_back(std::to_string(170 + k));
  const auto book = Load("=== tester-parset\n" + StandardsHeader() + Row("VacLow(V)", low) +
                         Row("VacLower(V)", lower) + Row("T-start(s)", Same("60")) + kModelSheet);
  for (int k = 0; k < 16; ++k) {
    double out = -1;
    EXPECT_EQ(book->LookupStandardValue(k, kVacLow, out), -1) << k;  // the cut row: not found
    EXPECT_EQ(book->LookupStandardValue(k, 3, out), 0) << k;
    EXPECT_EQ(out, 170 + k) << k;
    EXPECT_EQ(book->LookupStandardValue(k, kTStart, out), 0) << k;
    EXPECT_EQ(out, 60) << k;
  }
  for (const auto& column : book->ParameterTable) EXPECT_EQ(column.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Writers, ConfigWorkbookTest, ::testing::Values(Writer::Xlwt, Writer::Ours),
                         [](const auto& info) {
                           return info.param == Writer::Xlwt ? "Xlwt" : "Ours";
                         });

TEST(ConfigWorkbook, MissingWorkbookLeavesEverythingNotFound) {
  test::FakeClock clock;
  test::TempDir dir;
  CConfigWorkbook book(clock, dir.path());
  EXPECT_EQ(book.LastError().rfind("Error:\nCode = ffffffff\nCode meaning = ", 0), 0u)
      << book.LastError();
  EXPECT_EQ(ConfigLastErrorCopy(), book.LastError());
  book.ReadParameterSheet();
  book.ReadModelSheet();
  book.CloseConnection();
  EXPECT_EQ(book.LastError(), "Invalid Record");
  for (int k = 0; k < 16; ++k) {
    for (int i = 0; i < 22; ++i) {
      double out = 1.5;
      EXPECT_EQ(book.LookupStandardValue(k, i, out), -1);
      EXPECT_EQ(out, 1.5);
    }
  }
  EXPECT_EQ(book.LookupModelCode(KindByName, "T2K(A)"), 999);
  EXPECT_EQ(book.LookupModelCode(KindByName, ""), 999);
  std::string s = "AB1x315012";
  EXPECT_EQ(book.ConvertLegacySerial(s), 2011);
  EXPECT_EQ(s, "199911112012");
}

TEST(ConfigWorkbook, ErrorTextIsBounded) {
  test::FakeClock clock;
  test::TempDir dir;
  const auto deep = dir.path() / std::string(120, 'd') / std::string(120, 'e');
  CConfigWorkbook book(clock, deep);
  EXPECT_LE(book.LastError().size(), kLastErrorMax);
  EXPECT_EQ(book.LastError().rfind("Error:\n", 0), 0u);
}

TEST(ConfigWorkbook, NotAWorkbook) {
  test::FakeClock clock;
  test::TempDir dir;
  { std::ofstream(dir / kConfigWorkbookName) << "Parameter,min,max\nthis is not a workbook\n"; }
  CConfigWorkbook book(clock, dir.path());
  EXPECT_NE(book.LastError().find("is damaged: not a compound file"), std::string::npos)
      << book.LastError();
  book.ReadParameterSheet();
  EXPECT_TRUE(book.ParameterTable[0].empty());
}

TEST(ConfigWorkbook, SheetMissing) {
  test::FakeClock clock;
  test::TempDir dir;
  ASSERT_TRUE(MakeWorkbook(Writer::Ours, "=== other\nx\n", dir.path()));
  CConfigWorkbook book(clock, dir.path());
  book.ReadParameterSheet();
  EXPECT_EQ(book.LastError(), "Invalid Record");
  EXPECT_NE(ConfigLastErrorCopy().find("tester-parset"), std::string::npos);
}

TEST(LegacyWeek, WeekNumberRules) {
  // (day of year, weekday of 1 January with Sunday = 1) -> week
  struct Case {
    int dayIndex, janFirst, week;
  };
  const Case cases[] = {
      // 1 January on a Monday: the first seven days are week 1.
      {1, 2, 1},
      {7, 2, 1},
      {8, 2, 2},
      {14, 2, 2},
      {15, 2, 3},
      // On a Sunday: 1 January is week 0, each following Sunday starts the next week.
      {1, 1, 0},
      {7, 1, 0},
      {8, 1, 1},
      {14, 1, 1},
      {15, 1, 2},
      // On a Tuesday: up to the first Saturday (5 January) week 0, Sundays start weeks.
      {1, 3, 0},
      {5, 3, 0},
      {6, 3, 1},
      {12, 3, 1},
      {13, 3, 2},
      // On a Saturday (2011): 1 January alone is week 0.
      {1, 7, 0},
      {2, 7, 1},
      {8, 7, 1},
      {9, 7, 2},
      {74, 7, 11},
      {365, 7, 52},
      // On a Friday (2010).
      {2, 6, 0},
      {3, 6, 1},
      {278, 6, 40},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LegacyWeekNumber(c.dayIndex, c.janFirst), c.week) << c.dayIndex << "/" << c.janFirst;
  }
}

// Local time one hour ahead of UTC in winter and two in summer (27 March to 30 October 2011).
class SummerTimeClock final : public Clock {
 public:
  uint32_t TickCount() const override { return 0; }
  int64_t Now() const override { return 0; }
  void SleepMs(uint32_t) override {}
  std::tm ToLocal(int64_t seconds) const override {
    const int64_t local = seconds + Offset(seconds);
    std::tm tm{};
    const std::time_t t = static_cast<std::time_t>(local);
    gmtime_r(&t, &tm);
    return tm;
  }
  int64_t FromLocal(std::tm local) const override {
    const int64_t wall = static_cast<int64_t>(timegm(&local));
    return wall - Offset(wall - 3600);
  }

 private:
  static int64_t Offset(int64_t utc) { return utc >= 1301187600 && utc < 1319936400 ? 7200 : 3600; }
};

TEST(LegacyWeek, SummerTimeDayStillCountsAsAWholeDay) {
  SummerTimeClock clock;
  test::TempDir dir;
  ASSERT_TRUE(MakeWorkbook(Writer::Ours, std::string(kModelSheet), dir.path()));
  CConfigWorkbook book(clock, dir.path());
  book.ReadModelSheet();
  // Sunday 17 April 2011, in summer time: day 107, week 16, weekday 7.
  std::string s = "AB1x417012";
  EXPECT_EQ(book.ConvertLegacySerial(s), 2011);
  EXPECT_EQ(s, "100711167012");
}

}  // namespace
}  // namespace pyranex
