#include "core/acquisition/save_schedule.h"

#include <gtest/gtest.h>

#include "core/acquisition/live_csv.h"
#include "support/fake_clock.h"

namespace pyranex {
namespace {

// 2011-11-24 00:00:00 UTC; the fake clock's local time is UTC.
constexpr int64_t kMidnight = 1322092800;
constexpr int64_t At(int hour, int minute, int second) {
  return kMidnight + hour * 3600 + minute * 60 + second;
}

struct LocateCase {
  const char* name;
  int64_t start;
  uint32_t firstTick;
  uint32_t sampleTick;
  int64_t sampleTime;
  bool dayChanged;
  int minute;
};

class LocateSampleTest : public ::testing::TestWithParam<LocateCase> {};

TEST_P(LocateSampleTest, PositionFromTickDifference) {
  const LocateCase c = GetParam();
  const test::FakeClock clock;
  const CyclePosition p = LocateSample(clock, c.start, c.firstTick, c.sampleTick);
  EXPECT_EQ(p.sampleTime, c.sampleTime);
  EXPECT_EQ(p.dayChanged, c.dayChanged);
  EXPECT_EQ(p.minute, c.minute);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocateSampleTest,
    ::testing::Values(
        LocateCase{"first", At(8, 5, 0), 1000, 1000, At(8, 5, 0), false, 0},
        // Started 08:05:59: 08:15:00 is minute 10 though only 9 minutes 1 second passed.
        LocateCase{"clockMinutes", At(8, 5, 59), 0, 541'000, At(8, 15, 0), false, 10},
        LocateCase{"wholeSeconds", At(8, 0, 0), 0, 59'999, At(8, 0, 59), false, 0},
        // The tick count wrapped between the first sample and this one.
        LocateCase{"wrap", At(8, 0, 0), 0xFFFFF000u, 540'000u - 0x1000u, At(8, 9, 0), false, 9},
        LocateCase{"midnight", At(23, 58, 0), 0, 180'000, At(24, 1, 0), true, -1437},
        LocateCase{"lateEvening", At(23, 58, 0), 0, 119'000, At(23, 59, 59), false, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct DueCase {
  bool dayChanged;
  int minute;
  int lastSave;
  bool exportBusy;
  bool due;
};

class SaveDueTest : public ::testing::TestWithParam<DueCase> {};

TEST_P(SaveDueTest, TenMinutesOrDayChange) {
  const DueCase c = GetParam();
  CyclePosition p;
  p.dayChanged = c.dayChanged;
  p.minute = c.minute;
  EXPECT_EQ(IsSaveDue(p, c.lastSave, c.exportBusy), c.due);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveDueTest,
    ::testing::Values(DueCase{false, 9, 0, false, false}, DueCase{false, 10, 0, false, true},
                      DueCase{false, 10, 0, true, false}, DueCase{false, 25, 10, false, true},
                      DueCase{true, -1437, 0, false, true}, DueCase{true, -1437, 0, true, true}));

TEST(LiveCsvTest, HeaderIsTheExportColumnTitles) {
  EXPECT_EQ(LiveCsvHeader(),
            "\"Time\",\"Udc(V)\",\"Uac(V)\",\"f(Hz)\",\"Pac(W)\",\"Etoday(kWh)\",\"Etotal(kWh)\","
            "\"Ttoday(min)\",\"Ttotal(h)\",\"T(°C)\",\"Iac-Shift\",\"DCI(mA)\",\"State 1\","
            "\"State 2\"");
}

TEST(LiveCsvTest, RowUsesTheExportNumberFormats) {
  DayLog log;
  log.tickMs = {0, 1};
  log.udc = {0, 360.5f};
  log.uac = {0, 230.1f};
  log.freq = {0, 50.02f};
  log.pac = {0, 1500.0f};
  log.eToday = {0, 12.3f};
  log.eTotal = {0, 4567.8f};
  log.tToday = {0, 300};
  log.tTotal = {0, 7000};
  log.temp = {0, 45.6f};
  log.iacShift = {0, 7};
  log.dci = {0, -2.0f};
  log.state1 = {0, 0x10002};
  log.state2 = {0, 1};
  const test::FakeClock clock;
  EXPECT_EQ(LiveCsvRow(clock, At(8, 5, 9), log, 1),
            "2011-11-24 08-05-09,360.5,230.1,50.02,1500.0,12.3,4567.8,300,7000,45.6,7,-2,65538,1");
}

TEST(LiveCsvTest, MissingValuesLeaveEmptyFields) {
  DayLog log;
  log.udc = {1.0f};
  const test::FakeClock clock;
  EXPECT_EQ(LiveCsvRow(clock, At(0, 0, 0), log, 0), "2011-11-24 00-00-00,1.0,,,,,,,,,,,,");
}

}  // namespace
}  // namespace pyranex
