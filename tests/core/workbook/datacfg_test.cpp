#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/workbook/config_workbook.h"
#include "core/workbook/history_store.h"
#include "sample_log.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

#ifdef PYRANEX_DATACFG_XLS
const std::filesystem::path kDatacfg = PYRANEX_DATACFG_XLS;
#else
const std::filesystem::path kDatacfg;
#endif

// The configuration workbook as the build made it, read from a copy in a fresh folder.
class Datacfg : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kDatacfg.empty()) GTEST_SKIP() << "built without the tools: no datacfg.xls";
    std::filesystem::copy_file(kDatacfg, dir_ / kConfigWorkbookName);
    book_ = std::make_unique<CConfigWorkbook>(clock_, dir_.path());
    ASSERT_EQ(book_->LastError(), "Success");
    book_->ReadParameterSheet();
    book_->ReadModelSheet();
    book_->CloseConnection();
  }

  test::FakeClock clock_;
  test::TempDir dir_;
  std::unique_ptr<CConfigWorkbook> book_;
};

// The monitor dialog's checks, in the order it takes the fields in, so that a bound naming
// another field uses that field's new value. Returns the name of the first field that fails.
std::string FirstRefusedField(const std::array<double, 22>& v) {
  const auto f = [&](int i) { return static_cast<float>(v[static_cast<size_t>(i)]); };
  // int part: truncated toward zero and compared unsigned (negative values always fail).
  const auto intPart = [](float x) {
    return static_cast<uint32_t>(static_cast<int64_t>(std::trunc(static_cast<double>(x))));
  };
  const auto whole = [&](int i) { return intPart(f(i)); };
  const auto in = [](auto x, auto lo, auto hi) { return x >= lo && x <= hi; };
  const float vacUltraLow = f(3), vacLow = f(2), vacHigh = f(6), vacUltraHigh = f(7);
  const float fUltraLow = f(11), fLow = f(10), fHigh = f(14), fUltraHigh = f(15);
  if (!in(whole(0), 150u, 300u)) return "Vpv-start";
  if (!in(whole(1), 30u, 6000u)) return "T-start";
  if (!in(intPart(vacUltraLow), 170u, 277u)) return "VacLower";
  if (!in(intPart(vacLow), intPart(vacUltraLow), 277u)) return "VacLow";
  if (!in(intPart(vacHigh), intPart(std::max(vacLow, 208.0f)), 310u)) return "VacHigh";
  if (!in(intPart(vacUltraHigh), intPart(vacHigh), 310u)) return "VacHigher";
  if (!in(fUltraLow, 45.0f, 60.0f)) return "f-Lower";
  if (!in(fLow, fUltraLow, 60.0f)) return "f-Low";
  if (!in(fHigh, std::max(fLow, 50.0f), 65.0f)) return "f-High";
  if (!in(intPart(fUltraHigh), intPart(fHigh), 65u)) return "f-Higher";
  if (!in(whole(18), 100u, 5000u)) return "DCI-Limit";
  if (!in(whole(19), 1920u, 2080u)) return "DCI-shift";
  if (!in(static_cast<int32_t>(v[21]), 0, 6)) return "contrast";
  if (!in(static_cast<int32_t>(v[20]), 0, 3)) return "language";
  for (const int i : {4, 5, 8, 9, 12, 13, 16, 17}) {
    if (!in(whole(i), 10u, 600000u)) return std::string(ParameterNames[static_cast<size_t>(i)]);
    // Times travel in 10 ms units.
    if (whole(i) % 10 != 0) return std::string(ParameterNames[static_cast<size_t>(i)]) + " step";
  }
  return "";
}

TEST(DatacfgRules, TheCheckerRefusesWhatTheDialogRefuses) {
  const std::array<double, 22> good = {150, 60,  200, 180, 2000, 1000, 260, 270, 2000, 1000, 48,
                                       47,  200, 100, 52,  53,   200,  100, 500, 2000, 0,    3};
  EXPECT_EQ(FirstRefusedField(good), "");
  struct Case {
    int index;
    double value;
    const char* field;
  };
  const Case cases[] = {
      {0, 149.9, "Vpv-start"}, {3, 201, "VacLow"},      {3, 169, "VacLower"},
      {2, 169, "VacLow"},      {6, 207.9, "VacHigh"},   {6, 199, "VacHigh"},
      {7, 259, "VacHigher"},   {11, 48.5, "f-Low"},     {14, 49.9, "f-High"},
      {15, 51.9, "f-Higher"},  {19, 2081, "DCI-shift"}, {21, 7, "contrast"},
      {20, -1, "language"},    {4, 5, "T-VacLow(ms)"},  {9, 105, "T-VacHigher(ms) step"},
  };
  for (const Case& c : cases) {
    auto v = good;
    v[static_cast<size_t>(c.index)] = c.value;
    EXPECT_EQ(FirstRefusedField(v), c.field) << c.index << " = " << c.value;
  }
}

TEST_F(Datacfg, EveryStandardHasEveryParameterInsideTheDialogsRanges) {
  for (int k = 0; k < 16; ++k) {
    std::array<double, 22> values{};
    for (int i = 0; i < 22; ++i) {
      ASSERT_EQ(book_->LookupStandardValue(k, i, values[static_cast<size_t>(i)]), 0)
          << StandardNames[static_cast<size_t>(k)] << " " << ParameterNames[static_cast<size_t>(i)];
    }
    EXPECT_EQ(FirstRefusedField(values), "") << StandardNames[static_cast<size_t>(k)];
  }
}

TEST_F(Datacfg, EveryLegacyModelNameAndCodeIsListed) {
  EXPECT_EQ(book_->LookupModelCode(KindByName, "T2K(A)"), 23);
  EXPECT_EQ(book_->LookupModelCode(KindByOldCode, "AB"), 7);
  for (const char family : {'S', 'C', 'A', 'I'}) {
    for (const char letter : {'A', 'V'}) {
      if (family != 'S' && letter == 'V') continue;
      for (char power = '1'; power <= '5'; ++power) {
        std::string s = {letter, power, 'x', family, '3', '1', '5', '0', '1', '2'};
        ASSERT_EQ(book_->ConvertLegacySerial(s), 2010);
        EXPECT_EQ(s.substr(1, 3).find("999"), std::string::npos) << letter << power << family;
      }
    }
  }
  for (const std::string old : {"A1", "A5", "V3", "C2", "AA", "AE", "L4"}) {
    EXPECT_NE(book_->LookupModelCode(KindByOldCode, old), ModelCodeNotFound) << old;
  }
}

bool HaveSsconvert() {
  return test::RunCommand("command -v ssconvert >/dev/null 2>&1") == 0;
}

void ExpectSsconvertReads(const std::filesystem::path& xls, const std::filesystem::path& csv,
                          const std::string& mustContain) {
  std::string out;
  // -S writes one file per sheet: <csv>.0, <csv>.1, ...
  const int rc =
      test::RunCommand("ssconvert -S -T Gnumeric_stf:stf_csv " + test::Quote(xls.string()) + " " +
                           test::Quote(csv.string()) + " 2>&1",
                       &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out.find("rror"), std::string::npos) << out;
  const std::string first = test::ReadFileBytes(csv.string() + ".0");
  EXPECT_NE(first.find(mustContain), std::string::npos) << first.substr(0, 300);
}

TEST_F(Datacfg, GnumericConvertsItToCsv) {
  if (!HaveSsconvert()) GTEST_SKIP() << "ssconvert not installed";
  ExpectSsconvertReads(dir_ / kConfigWorkbookName, dir_ / "datacfg.csv",
                       "Parameter,min,max,AS4777");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "datacfg.csv.1"));
}

TEST(HistoryFile, GnumericConvertsItToCsv) {
  if (!HaveSsconvert()) GTEST_SKIP() << "ssconvert not installed";
  test::FakeClock clock;
  test::RecordingNotifier notifier;
  test::TempDir dir;
  HistoryStore store(dir.path(), WorkbookEnv{clock, notifier, nullptr});
  store.SaveHistory(10, {test::MakeLog(1440, 60000), "000000000001", 50, 1322121959});
  ASSERT_EQ(notifier.Count(), 0u);
  const auto file = dir / "hisdata" / "000000000001,5000,2011-11-24 08-05.xls";
  ExpectSsconvertReads(file, dir / "history.csv", "Time,Udc(V),Uac(V),f(Hz)");
  const std::string csv = test::ReadFileBytes(dir / "history.csv.0");
  EXPECT_NE(csv.find("T(°C)"), std::string::npos);
  // Times as text, values as numbers (Gnumeric prints them at full precision).
  EXPECT_NE(csv.find("\"2011-11-24 08-05-59\",200,230,49.95"), std::string::npos)
      << csv.substr(0, 400);
}

}  // namespace
}  // namespace pyranex
