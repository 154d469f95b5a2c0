// The history store fed by the acquisition engine with a real link to the simulated inverter,
// whose time runs ten times faster so its "Today" counter moves within seconds.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "core/acquisition/message_queue.h"
#include "core/acquisition/power_view_engine.h"
#include "core/history/calendar.h"
#include "core/history/history_database.h"
#include "core/history/history_recorder.h"
#include "inverter_simulator.h"
#include "support/recording_notifier.h"
#include "support/shifted_clock.h"
#include "support/time_scale.h"
#include "workbook/xls_readback.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;
using history::HistoryDatabase;

constexpr unsigned kCom = 6;
constexpr int64_t kNoon = 1718445600;  // 2024-06-15 12:00 at UTC+2 (10:00 UTC)

// Keeps every record it is handed, as the engine handed it.
class CollectingSink final : public RecordSink {
 public:
  void Accept(const LiveRecord& record) override { records.push_back(record); }
  std::vector<LiveRecord> records;
};

class HistorySimTest : public ::testing::Test {
 protected:
  HistorySimTest() : clock_(kNoon, 7200) {
    sim::SimulatorConfig config;
    config.portsDir = dir_ / "ports";
    config.comNumber = kCom;
    config.startSecondOfDay = 12 * 3600;
    config.timeScale = 10;
    sim_ = std::make_unique<sim::InverterSimulator>(config);
    std::string error;
    started_ = sim_->Start(&error);
    EXPECT_TRUE(started_) << error;
  }
  ~HistorySimTest() override {
    engine_.reset();
    recorder_.reset();
    sim_->Stop();
  }

  // The program starts: a recorder on the store and the engine feeding it.
  void Start() {
    history::HistoryRecorder::Options options;
    options.file = history::StorePath(dir_.path());
    options.clock = &clock_;
    options.onProblem = [](const std::string& text) { ADD_FAILURE() << text; };
    recorder_ = std::make_unique<history::HistoryRecorder>(std::move(options));
    PowerViewServices services(
        LinkContext{queue_, clock_, notifier_, Paths{dir_.path(), dir_.path()}, {}});
    services.recordSinks = {recorder_.get(), &live_};
    engine_ = std::make_unique<PowerViewEngine>(std::move(services));
    ASSERT_TRUE(engine_->OnComSetting(kCom));
  }
  void Stop() {
    engine_.reset();
    recorder_.reset();  // writes what it holds
  }
  bool PumpRecords(size_t count) {
    const auto end = std::chrono::steady_clock::now() + Scaled(30s);
    while (live_.records.size() < count && std::chrono::steady_clock::now() < end) {
      if (auto m = queue_.WaitTake(20ms)) engine_->HandleMessage(*m);
    }
    return live_.records.size() >= count;
  }

  TempDir dir_;
  ShiftedClock clock_;
  BlockingMessageQueue queue_;
  RecordingNotifier notifier_;
  CollectingSink live_;
  std::unique_ptr<sim::InverterSimulator> sim_;
  std::unique_ptr<history::HistoryRecorder> recorder_;
  std::unique_ptr<PowerViewEngine> engine_;
  bool started_ = false;
};

TEST_F(HistorySimTest, StoresTheLiveRecordsAndTheInvertersDayAcrossARestart) {
  ASSERT_TRUE(started_);
  Start();
  ASSERT_TRUE(PumpRecords(8));
  Stop();
  const size_t firstRun = live_.records.size();
  std::this_thread::sleep_for(1s);  // the inverter works on while nobody watches
  Start();
  ASSERT_TRUE(PumpRecords(firstRun + 8));
  Stop();
  const double simToday = *sim_->InputRegister(24) / 10.0;

  history::SqlError error;
  auto db =
      HistoryDatabase::Open(history::StorePath(dir_.path()), HistoryDatabase::Access::Read, error);
  ASSERT_TRUE(db) << error.text;
  const int64_t day = history::DayNumber({2024, 6, 15});
  const auto stored = db->DayRecords(1, day, error);
  ASSERT_EQ(stored.size(), live_.records.size());
  for (size_t i = 0; i < stored.size(); ++i) {
    const LiveRecord& want = live_.records[i];
    ASSERT_EQ(stored[i].time, want.time) << i;
    EXPECT_EQ(stored[i].utcOffsetSeconds, 7200);
    EXPECT_EQ(stored[i].serialNumber, want.serialNumber);
    for (size_t f = 0; f < kLiveFieldCount; ++f) {
      // Kept at the resolution of its register: tenths, hundredths or whole numbers.
      const int decimals = InfoOf(static_cast<LiveField>(f)).decimals;
      EXPECT_NEAR(stored[i].values[f], want.values[f], 0.5 / std::pow(10, decimals) + 1e-9)
          << "record " << i << " field " << InfoOf(static_cast<LiveField>(f)).key;
    }
  }

  const auto days = db->DaySummaries(1, day, day, error);
  ASSERT_EQ(days.size(), 1u);
  const double lastToday = live_.records.back().Get(LiveField::EToday);
  // The day's yield is the inverter's own: the morning before the program started and the
  // seconds of the restart included, which integrating the power could not give.
  EXPECT_NEAR(days[0].yieldKwh, lastToday, 1e-6);
  EXPECT_NEAR(days[0].yieldKwh, simToday, 0.25);
  EXPECT_GT(days[0].yieldKwh, 10.0);
  EXPECT_LT(days[0].integratedKwh, 1.0);
  EXPECT_EQ(days[0].records, static_cast<int64_t>(stored.size()));
}

}  // namespace
}  // namespace pyranex::test
