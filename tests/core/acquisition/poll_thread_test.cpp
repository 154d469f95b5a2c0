// The real poll thread: its pace, the monitor hand-over and its cooperative stop.

#include <gtest/gtest.h>

#include <atomic>

#include "core/acquisition/engine_harness.h"
#include "support/eventually.h"

namespace pyranex::test {
namespace {

class CountingMonitor final : public MonitorDialog {
 public:
  void MonitorTick() override { ticks.fetch_add(1); }
  bool HasStoppedPolling() const override { return stopped.load(); }
  void HandleRegisterValue(uint16_t) override {}
  uint32_t ValueIndex() const override { return 0; }
  std::atomic<int> ticks{0};
  std::atomic<bool> stopped{false};
};

class PollThreadTest : public EngineTest {
 protected:
  void SetUp() override { MakeEngine(/*runPollThread=*/true); }
};

TEST_F(PollThreadTest, FallsBackToSerialFramingOnItsOwn) {
  ASSERT_TRUE(engine().OnComSetting(kPort));
  EXPECT_TRUE(engine().IsPollThreadRunning());
  ExpectRequest(kProbe);
  clock.Advance(2001);
  EXPECT_EQ(line.ReadRequest(std::chrono::seconds(5)), kBroadcast);
}

TEST_F(PollThreadTest, OpenMonitorTakesOverTheTicksUntilItStops) {
  ASSERT_TRUE(engine().OnComSetting(kPort));
  ExpectRequest(kProbe);
  auto monitor = std::make_shared<CountingMonitor>();
  engine().SetMonitor(monitor);
  clock.Advance(2001);  // PollTick would now send the broadcast
  ASSERT_TRUE(Eventually([&] { return monitor->ticks.load() >= 3; }));
  EXPECT_TRUE(NothingSent());

  monitor->stopped = true;
  const int ticks = monitor->ticks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_LE(monitor->ticks.load(), ticks + 1);  // at most one tick already under way
  EXPECT_TRUE(NothingSent());

  engine().SetMonitor(nullptr);  // closed: the view's own tick resumes
  EXPECT_EQ(line.ReadRequest(std::chrono::seconds(5)), kBroadcast);
}

TEST_F(PollThreadTest, MonitorClosedWhileTheThreadTicksIt) {
  ASSERT_TRUE(engine().OnComSetting(kPort));
  for (int round = 0; round < 20; ++round) {
    auto monitor = std::make_shared<CountingMonitor>();
    engine().SetMonitor(monitor);
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 3 == 0 ? 210 : 5));
    engine().SetMonitor(nullptr);
    std::weak_ptr<CountingMonitor> weak = monitor;
    monitor.reset();
    // Whatever the thread was doing, the dialog goes away once the thread lets go of it.
    EXPECT_TRUE(Eventually([&] { return weak.expired(); }));
  }
}

TEST_F(PollThreadTest, ReconnectAndDestructionStopTheThreadCooperatively) {
  ASSERT_TRUE(engine().OnComSetting(kPort));
  ExpectRequest(kProbe);
  ASSERT_TRUE(engine().OnComSetting(kPort));
  EXPECT_TRUE(engine().IsPollThreadRunning());
  ExpectRequest(kProbe);
  engine().Disconnect();
  EXPECT_FALSE(engine().IsPollThreadRunning());
  EXPECT_FALSE(engine().Link().IsOpen());
  EXPECT_FALSE(engine().m_portOpen.load());
  ASSERT_TRUE(engine().OnComSetting(kPort));
  ExpectRequest(kProbe);
  // The fixture destroys the engine with the thread running.
}

}  // namespace
}  // namespace pyranex::test
