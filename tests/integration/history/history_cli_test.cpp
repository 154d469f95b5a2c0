// pyranex-cli's history commands as a user runs them: a copy of the program in a temporary
// folder, its store in hisdata/ beside it, the simulated inverter on COM7.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "core/workbook/history_store.h"
#include "inverter_simulator.h"
#include "support/child_process.h"
#include "support/fake_clock.h"
#include "support/recording_notifier.h"
#include "workbook/xls_readback.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kCom = 7;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class HistoryCliTest : public ::testing::Test {
 protected:
  HistoryCliTest() { std::filesystem::copy_file(PYRANEX_CLI_PATH, dir_ / "pyranex-cli"); }
  ~HistoryCliTest() override {
    if (sim_) sim_->Stop();
    if (mounted_) ::umount2((dir_ / "hisdata").c_str(), MNT_DETACH);
  }

  struct Result {
    int status;
    std::string out, err;
  };
  Result Cli(std::vector<std::string> args) {
    args.insert(args.begin(), (dir_ / "pyranex-cli").string());
    ChildProcess cli(args);
    const int status = cli.Wait(60s);
    return {status, cli.Out(), cli.Err()};
  }
  void StartSim() {
    sim::SimulatorConfig config;
    config.portsDir = dir_ / "ports";
    config.comNumber = kCom;
    config.startSecondOfDay = 12 * 3600;
    sim_ = std::make_unique<sim::InverterSimulator>(config);
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error;
  }
  // A small file system of its own for hisdata/; false where mounting is not permitted.
  bool MountHisdata(const char* options) {
    std::filesystem::create_directories(dir_ / "hisdata");
    mounted_ = ::mount("tmpfs", (dir_ / "hisdata").c_str(), "tmpfs", 0, options) == 0;
    return mounted_;
  }

  TempDir dir_;
  std::unique_ptr<sim::InverterSimulator> sim_;
  bool mounted_ = false;
};

TEST_F(HistoryCliTest, ImportTwiceEqualsImportOnceAndDamagedWorkbooksAreNamed) {
  FakeClock clock;
  RecordingNotifier notifier;
  const auto old = dir_ / "old";
  HistoryStore writer(old, WorkbookEnv{clock, notifier, nullptr});
  // Thirty samples a minute apart; the "Today" counter from `eStart` up by 0.1 kWh a minute.
  auto makeLog = [](float eStart) {
    DayLog log;
    for (uint32_t k = 0; k < 30; ++k) {
      log.tickMs.push_back(k * 60000);
      for (auto* series : {&log.udc, &log.uac, &log.freq, &log.temp, &log.dci, &log.eTotal}) {
        series->push_back(1.0f);
      }
      log.pac.push_back(static_cast<float>(100 * k));
      log.eToday.push_back(static_cast<float>(k) * 0.1f + eStart);
      for (auto* series : {&log.tToday, &log.tTotal, &log.iacShift, &log.state1, &log.state2}) {
        series->push_back(k);
      }
    }
    return log;
  };
  const int64_t june15 = 1718445600;  // local 10:00 in any zone from -10 to +13 hours
  const int64_t day = 86400;
  // A restart at 13:00 of the same day, a day in July, the same day a year later.
  const std::pair<int64_t, float> runs[] = {{june15, 2.0f},
                                            {june15 + 3 * 3600, 6.0f},
                                            {june15 + 20 * day, 2.0f},
                                            {june15 + 365 * day, 2.0f}};
  for (const auto& [start, eStart] : runs) {
    writer.SaveHistory(0, {makeLog(eStart), "000000000001", 50, start});
    writer.StartNewDayLog();
  }
  ASSERT_EQ(notifier.Count(), 0u);
  std::ofstream(old / "hisdata" / "broken.xls") << "not a workbook";

  const Result first = Cli({"history", "import", old.string()});
  EXPECT_EQ(first.status, 3) << first.err;
  EXPECT_NE(first.err.find("skipped broken.xls:"), std::string::npos) << first.err;
  EXPECT_NE(first.out.find("Imported 4 of 5 workbooks"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("120 records added"), std::string::npos) << first.out;
  const Result days = Cli({"history", "days"});
  ASSERT_EQ(days.status, 0) << days.err;

  const Result again = Cli({"history", "import", old.string()});
  EXPECT_NE(again.out.find("0 records added, 120 already there"), std::string::npos) << again.out;
  EXPECT_EQ(Cli({"history", "days"}).out, days.out);

  const auto rows = Lines(days.out);
  ASSERT_EQ(rows.size(), 4u) << days.out;
  EXPECT_EQ(rows[0], "date,yield_kwh,peak_w,peak_time,hours");
  // Two runs of one day: the 2.0 kWh made before the first, its rise through both runs.
  EXPECT_EQ(rows[1].substr(0, 22), "2024-06-15,8.9,2900.0,");
  EXPECT_EQ(rows[2].substr(0, 22), "2024-07-05,4.9,2900.0,");
  const auto months = Lines(Cli({"history", "months", "--from", "2024-07"}).out);
  ASSERT_EQ(months.size(), 3u);
  EXPECT_EQ(months[1].substr(0, 30), "2024-07,4.9,2900.0,2024-07-05 ");
  const auto years = Lines(Cli({"history", "years", "--to", "2024"}).out);
  ASSERT_EQ(years.size(), 2u);
  EXPECT_EQ(years[1].substr(0, 20), "2024,13.8,2900.0,202");
  const auto dayRows = Lines(Cli({"history", "day", "2024-06-15"}).out);
  EXPECT_EQ(dayRows.size(), 1u + 60u);
  EXPECT_EQ(Cli({"history", "day", "2024-06"}).status, 1);
}

TEST_F(HistoryCliTest, PollPutsWhatItPrintsIntoTheStore) {
  StartSim();
  const Result poll = Cli({"poll", std::to_string(kCom), "--count", "4"});
  ASSERT_EQ(poll.status, 0) << poll.err;
  const auto printed = Lines(poll.out);
  ASSERT_EQ(printed.size(), 5u);
  const std::string today = printed[1].substr(0, 10);
  const auto stored = Lines(Cli({"history", "day", today}).out);
  EXPECT_EQ(stored, printed);
}

TEST_F(HistoryCliTest, AFullDiskAndAReadOnlyStoreAreReportedAndLoseNothing) {
  if (!MountHisdata("size=640k")) {
    GTEST_SKIP() << "mounting a small tmpfs for hisdata/ is not permitted here (needs root)";
  }
  StartSim();
  ASSERT_EQ(Cli({"poll", std::to_string(kCom), "--count", "3"}).status, 0);
  const std::string before = Cli({"history", "days"}).out;
  ASSERT_EQ(Lines(before).size(), 2u) << before;
  const std::string today = Lines(before)[1].substr(0, 10);
  const auto records = Lines(Cli({"history", "day", today}).out);
  ASSERT_EQ(records.size(), 4u);

  {
    std::ofstream filler(dir_ / "hisdata" / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  Result full = Cli({"poll", std::to_string(kCom), "--count", "3"});
  EXPECT_EQ(full.status, 0) << full.err;
  EXPECT_EQ(Lines(full.out).size(), 4u);  // the live records go on
  EXPECT_EQ(Count(full.err, "History store: cannot write"), 1u) << full.err;
  EXPECT_NE(full.err.find("full"), std::string::npos) << full.err;
  EXPECT_EQ(Lines(Cli({"history", "day", today}).out), records);

  std::filesystem::remove(dir_ / "hisdata" / "filler");
  ASSERT_EQ(::mount("tmpfs", (dir_ / "hisdata").c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr),
            0);
  Result readOnly = Cli({"poll", std::to_string(kCom), "--count", "3"});
  EXPECT_EQ(readOnly.status, 0) << readOnly.err;
  EXPECT_EQ(Lines(readOnly.out).size(), 4u);
  EXPECT_EQ(Count(readOnly.err, "History store: "), 2u) << readOnly.err;  // the trouble, the loss
  EXPECT_EQ(Lines(Cli({"history", "day", today}).out), records);
}

}  // namespace
}  // namespace pyranex::test
