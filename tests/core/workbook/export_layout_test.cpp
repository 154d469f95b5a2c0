#include "core/workbook/export_layout.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sample_log.h"
#include "support/fake_clock.h"

namespace pyranex {
namespace {

struct RecordingLayout final : LayoutSink {
  std::map<std::pair<uint32_t, uint32_t>, std::string> cells;
  std::vector<std::pair<size_t, size_t>> progress;
  void Cell(uint32_t row, uint32_t col, std::string_view text) override {
    cells[{row, col}] = std::string(text);
  }
  void Progress(size_t examined, size_t total) override { progress.emplace_back(examined, total); }
  // Sample times (column A) of the data rows, in row order.
  std::vector<std::string> Times() const {
    std::vector<std::string> times;
    for (uint32_t row = kFirstDataRow;; ++row) {
      const auto it = cells.find({row, 0});
      if (it == cells.end()) return times;
      times.push_back(it->second);
    }
  }
  uint32_t LastRow() const { return cells.empty() ? 0 : cells.rbegin()->first.first; }
};

constexpr int64_t kStart = 1322121959;  // 2011-11-24 08:05:59 UTC

ExportParams Params(int from, int to, int step) {
  ExportParams p;
  p.serialText = "000000000001";
  p.ratedPower = 50;
  p.startTime = kStart;
  p.fromMin = from;
  p.toMin = to;
  p.stepMin = step;
  return p;
}

std::string TimeAt(int64_t seconds) {
  test::FakeClock clock;
  return FormatLocal(clock, seconds, "%Y-%m-%d %H-%M-%S");
}

TEST(ExportLayout, FormatByDivisorMatchesPrintf) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> values(-70000, 70000);
  std::string text;
  for (int n = 0; n < 20000; ++n) {
    const double v = n < 10 ? n * 0.05 - 0.25 : values(random);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%3.1f", v);
    FormatByDivisor(v, 10, text);
    ASSERT_EQ(text, expected) << v;
    std::snprintf(expected, sizeof expected, "%3.2f", v);
    FormatByDivisor(v, 100, text);
    ASSERT_EQ(text, expected) << v;
  }
}

// Exact ties, the smallest and the largest doubles, and doubles of every magnitude.
TEST(ExportLayout, FormatByDivisorMatchesPrintfEverywhere) {
  std::vector<double> values = {0.25,     -0.25,  0.125,      0.375, 2.675,   1e-30,   -1e-30, -0.0,
                                4.9e-324, 0x1p52, 0x1p53 + 2, 1e300, 0x1p-60, 0x1p-63, 0x1p-64};
  for (int k = -2000; k <= 2000; ++k) values.push_back(k / 8.0);  // ties at 1 and 2 decimals
  std::mt19937_64 random(3);
  while (values.size() < 24000) {
    const double v = std::bit_cast<double>(random());
    if (std::isfinite(v)) values.push_back(v);
  }
  char expected[400];
  std::string text;
  for (const double v : values) {
    std::snprintf(expected, sizeof expected, "%3.1f", v);
    FormatByDivisor(v, 10, text);
    ASSERT_EQ(text, expected) << v;
    std::snprintf(expected, sizeof expected, "%3.2f", v);
    FormatByDivisor(v, 100, text);
    ASSERT_EQ(text, expected) << v;
  }
}

TEST(ExportLayout, FormatByDivisorRules) {
  struct Case {
    double value;
    double divisor;
    const char* expected;
  };
  const Case cases[] = {
      {230.25, 10, "230.2"},   {0.0, 10, "0.0"},
      {49.996, 100, "50.00"},  {5.0, 100, "5.00"},
      {230.0, 9.6, "230.0"},   {42.9, 1, "42"},
      {-5.9, 1, "-5"},         {3e9, 1, "-1294967296"},
      {4294967295.0, 1, "-1"}, {2147483647.0, 1, "2147483647"},
      {12.5, 0.1, "13"},       {-1.7, 0.1, "-1"},
      {40000, 0.1, "-25536"},  {32767.4, 0.1, "32767"},
      {7, 0.5, "7"},           {7, 2, "previous"},
      {7, 1000, "previous"},   {7, 0.01, "previous"},
  };
  for (const Case& c : cases) {
    std::string text = "previous";
    FormatByDivisor(c.value, c.divisor, text);
    EXPECT_EQ(text, c.expected) << c.value << " / " << c.divisor;
  }
}

TEST(ExportLayout, SavePathExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"/d/day.xls", "/d/day.xls"},
      {"/d/day.XLS", "/d/day.XLS"},
      {"/d/day.Xls", "/d/day.Xls.xls"},
      {"/d/day.xlS", "/d/day.xlS.xls"},
      {"/d/day", "/d/day.xls"},
      {"/d/day.xlsx", "/d/day.xlsx.xls"},
      {"xls", "xls.xls"},
      {".xls", ".xls"},
      {"", ".xls"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(WorkbookSavePath(in), out) << in;
}

TEST(ExportLayout, HeaderRows) {
  test::FakeClock clock;
  RecordingLayout sink;
  LayoutWorkbook(test::MakeLog(3), Params(0, 1440, 0), WorkbookMode::Interactive, clock, sink);
  EXPECT_EQ(sink.cells.at({0, 0}), "SN: 000000000001,Model: 5000");
  for (uint32_t col = 0; col < 14; ++col) {
    EXPECT_EQ(sink.cells.at({1, col}), kColumnTitles[col]);
  }
  EXPECT_EQ(sink.cells.at({1, 9}), "T(°C)");
}

TEST(ExportLayout, RangesAndSteps) {
  // One sample every 20 s for 2 hours: 360 samples.
  const DayLog log = test::MakeLog(360, 20000);
  struct Case {
    int from, to, step;
    size_t firstSample;  // sample of the first data row
    size_t rows;
    uint32_t spacing;  // samples between written rows
  };
  const Case cases[] = {
      {0, 1440, 0, 0, 360, 1},     // whole log, every sample
      {-30, 200, 0, 0, 360, 1},    // bounds outside the log count as its ends
      {0, 1440, 1, 0, 120, 3},     // at least 60 s apart
      {0, 1440, 10, 0, 12, 30},    // "10Min" from the start
      {30, 60, 0, 90, 90, 1},      // 30..60 minutes; the sample at To is not written
      {30, 1440, 5, 104, 18, 15},  // first row 5 min after the sample just before the range
      {60, 30, 0, 0, 0, 0},        // From after To: headers only
      {45, 45, 0, 0, 0, 0},
  };
  test::FakeClock clock;
  for (const Case& c : cases) {
    RecordingLayout sink;
    LayoutWorkbook(log, Params(c.from, c.to, c.step), WorkbookMode::History, clock, sink);
    const auto times = sink.Times();
    ASSERT_EQ(times.size(), c.rows) << c.from << ".." << c.to << " step " << c.step;
    for (size_t r = 0; r < times.size(); ++r) {
      const size_t sample = c.firstSample + r * c.spacing;
      ASSERT_EQ(times[r], TimeAt(kStart + static_cast<int64_t>(sample) * 20))
          << c.from << ".." << c.to << " step " << c.step << " row " << r;
    }
    EXPECT_TRUE(sink.progress.empty());
    if (c.rows == 0) {
      EXPECT_EQ(sink.LastRow(), 1u);
    }
  }
}

TEST(ExportLayout, TimesFollowTheTickCountAcrossItsWrap) {
  const DayLog log = test::MakeLog(5, 1500, 0xFFFFF000u);
  test::FakeClock clock;
  RecordingLayout sink;
  LayoutWorkbook(log, Params(0, 1440, 0), WorkbookMode::History, clock, sink);
  EXPECT_EQ(sink.Times(),
            (std::vector<std::string>{TimeAt(kStart), TimeAt(kStart + 1), TimeAt(kStart + 3),
                                      TimeAt(kStart + 4), TimeAt(kStart + 6)}));
}

TEST(ExportLayout, ProgressAboutTenTimesAndOnlyInteractive) {
  struct Case {
    size_t samples;
    size_t messages;
  };
  const Case cases[] = {{1, 0}, {10, 0}, {11, 11}, {1440, 10}, {1449, 11}, {65530, 10}};
  test::FakeClock clock;
  for (const Case& c : cases) {
    const DayLog log = test::MakeLog(c.samples);
    RecordingLayout sink;
    LayoutWorkbook(log, Params(0, 1440 * 3, 0), WorkbookMode::Interactive, clock, sink);
    EXPECT_EQ(sink.progress.size(), c.messages) << c.samples;
    for (size_t k = 0; k < sink.progress.size(); ++k) {
      EXPECT_EQ(sink.progress[k].second, c.samples);
      EXPECT_EQ(sink.progress[k].first, k * (c.samples / 10));
    }
    RecordingLayout history;
    LayoutWorkbook(log, Params(0, 1440 * 3, 0), WorkbookMode::History, clock, history);
    EXPECT_TRUE(history.progress.empty());
  }
}

TEST(ExportLayout, StopsAtTheLastRow) {
  const DayLog log = test::MakeLog(70000);
  test::FakeClock clock;
  RecordingLayout sink;
  LayoutWorkbook(log, Params(0, 1440 * 3, 0), WorkbookMode::History, clock, sink);
  EXPECT_EQ(sink.LastRow(), kLastDataRow);
  EXPECT_EQ(sink.Times().size(), 65530u);
  EXPECT_EQ(sink.cells.at({kLastDataRow, 0}), TimeAt(kStart + 65529));
}

TEST(ExportLayout, SeriesOfUnequalLengthAreReadOnlyAsFarAsAllHaveValues) {
  DayLog log = test::MakeLog(5);
  log.tickMs.push_back(99000);  // a cycle in progress: only the tick is there yet
  log.pac.push_back(1.0f);
  log.state2.push_back(0);
  test::FakeClock clock;
  RecordingLayout sink;
  LayoutWorkbook(log, Params(0, 1440, 0), WorkbookMode::History, clock, sink);
  EXPECT_EQ(sink.Times().size(), 5u);
}

}  // namespace
}  // namespace pyranex
