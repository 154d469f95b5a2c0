// End of exchanges: data cycles, the day log schedule, "Par..." and the monitor dialog hooks.

#include <gtest/gtest.h>

#include <atomic>

#include "core/acquisition/engine_harness.h"

namespace pyranex::test {
namespace {

// 2011-11-24 00:00:00 UTC; the fake clock's local time is UTC.
constexpr int64_t kMidnight = 1322092800;

class FakeMonitor final : public MonitorDialog {
 public:
  explicit FakeMonitor(CInverterCom& link) : link_(link) {}
  void MonitorTick() override { ticks.fetch_add(1); }
  bool HasStoppedPolling() const override { return stopped.load(); }
  void HandleRegisterValue(uint16_t value) override {
    values.push_back(value);
    if (++index_ >= link_.m_expectedValues.load()) {
      link_.m_exchangeState = ExchangeIdle;
      index_ = 0;
    }
  }
  uint32_t ValueIndex() const override { return index_; }
  void SetValueIndex(uint32_t index) { index_ = index; }

  std::atomic<int> ticks{0};
  std::atomic<bool> stopped{false};
  std::vector<uint16_t> values;

 private:
  CInverterCom& link_;
  uint32_t index_ = 0;
};

class FakeGate final : public MonitorGate {
 public:
  std::optional<bool> AskPassword() override {
    ++asked;
    return answer;
  }
  std::shared_ptr<MonitorDialog> CreateMonitor(bool fullAccess, CInverterCom& link) override {
    grantedFullAccess = fullAccess;
    dialog = std::make_shared<FakeMonitor>(link);
    return dialog;
  }
  void RunModal(MonitorDialog&) override {
    if (whileOpen) whileOpen();
  }

  int asked = 0;
  std::optional<bool> answer = true;
  std::optional<bool> grantedFullAccess;
  std::shared_ptr<FakeMonitor> dialog;
  std::function<void()> whileOpen;
};

class DispatchTest : public EngineTest {
 protected:
  void SetUp() override {
    gate = &fakeGate;
    MakeEngine();
  }
  void Polling(int rated = 50) {
    IdentifyModbus();
    ModelPoll(kModbusAddress, static_cast<uint16_t>(rated));
  }
  FakeGate fakeGate;
};

TEST_F(DispatchTest, ReadoutsOfACycle) {
  Polling(50);
  LiveRegisters record;
  record.pac = 24500;  // 2450.0 W
  record.eToday = 123;
  record.eTotal = 45678;
  LiveCycle(kModbusAddress, record);
  EXPECT_EQ(display.percents, std::vector<int>{50});  // of 4900 W
  EXPECT_EQ(display.powerTexts, std::vector<std::string>{"Power  2450.0 W"});
  EXPECT_EQ(display.powerLines, 1);
  EXPECT_EQ(display.energyTexts,
            std::vector<std::string>{"Today Energy\t12.3kWh\nTotal Energy\t4567.8kWh"});
  EXPECT_EQ(display.energyLines, 2);
  ASSERT_EQ(display.co2.size(), 1u);
  EXPECT_FLOAT_EQ(display.co2[0], 4567.8f * 0.7f);
  EXPECT_EQ(display.startTimes, std::vector<int64_t>{clock.Now()});
  ASSERT_EQ(samples.size(), 1u);
  EXPECT_EQ(samples[0].first, 0u);

  ASSERT_EQ(records.all.size(), 1u);
  const pyranex::LiveRecord& live = records.all[0];
  EXPECT_EQ(live.serialNumber, "123456789012");
  EXPECT_EQ(live.ratedPower, 50);
  EXPECT_EQ(live.time, samples[0].second);
  EXPECT_DOUBLE_EQ(live.Get(LiveField::Pac), 2450.0);
  EXPECT_NEAR(live.Get(LiveField::ETotal), 4567.8, 1e-3);
  EXPECT_DOUBLE_EQ(live.Get(LiveField::Dci), -2.0);
  EXPECT_DOUBLE_EQ(live.Get(LiveField::State1), 0x00010002);
}

TEST_F(DispatchTest, UnknownRatedPowerKeepsTheGaugeAtZeroAndTheDefaultAxis) {
  Polling(0);
  LiveCycle(kModbusAddress, LiveRegisters{});
  EXPECT_EQ(display.percents, std::vector<int>{0});
  EXPECT_EQ(display.yRanges.at(0), std::make_pair(0.0, 5500.0));
}

TEST_F(DispatchTest, ParRequestedWaitsForTheEndOfTheExchange) {
  IdentifyModbus();
  Tick(900);
  ExpectRequest(WithCrc({0x01, 0x04, 0x00, 0x2B, 0x00, 0x02}));
  line.Send(ReadReply(kModbusAddress, {50, 300}));
  ASSERT_TRUE(sink.WaitForCount(2));
  engine().HandleMessage(*sink.Take());
  engine().OnParSetting();
  EXPECT_EQ(fakeGate.asked, 0) << "not at once";
  fakeGate.whileOpen = [this] { EXPECT_EQ(engine().Monitor(), fakeGate.dialog); };
  engine().HandleMessage(*sink.Take());
  EXPECT_EQ(fakeGate.asked, 1);
  EXPECT_EQ(fakeGate.grantedFullAccess, true);
  EXPECT_FALSE(engine().m_parRequested);
  EXPECT_EQ(engine().Monitor(), nullptr) << "closed again";
  EXPECT_EQ(engine().m_pollMode.load(), 0u) << "the model poll is repeated";
  EXPECT_TRUE(display.powerTexts.empty());
  Tick(900);
  ExpectRequest(WithCrc({0x01, 0x04, 0x00, 0x2B, 0x00, 0x02}));
}

TEST_F(DispatchTest, CancelledPasswordOpensNoDialog) {
  Polling();
  fakeGate.answer = std::nullopt;
  engine().OnParSetting();
  LiveCycle(kModbusAddress, LiveRegisters{});
  EXPECT_EQ(fakeGate.asked, 1);
  EXPECT_EQ(fakeGate.dialog, nullptr);
  EXPECT_TRUE(display.points.empty()) << "the exchange that honoured Par... shows nothing";
}

TEST_F(DispatchTest, OpenDialogReceivesValuesAndTheViewFollowsItsLiveReads) {
  Polling();
  auto dialog = std::make_shared<FakeMonitor>(engine().Link());
  engine().SetMonitor(dialog);
  // The dialog's own live read, as its request engine would send it.
  engine().Link().ReadRegisters(11, 31);
  ExpectRequest(kLivePollModbus);
  LiveRegisters record;
  record.pac = 12340;
  line.Send(ReadReply(kModbusAddress, record.Values()));
  ReceiveAndPump(31);
  EXPECT_EQ(dialog->values.size(), 31u);
  ASSERT_EQ(display.points.size(), 1u);
  EXPECT_FLOAT_EQ(display.points[0].value, 1234.0f);
  EXPECT_EQ(display.powerTexts.back(), "Power  1234.0 W");
  EXPECT_EQ(engine().GetDayLog().CompleteCount(), 1u);
  EXPECT_TRUE(saver.saves.empty());
  EXPECT_EQ(engine().m_registerIndex, 0u);
}

TEST_F(DispatchTest, ViewTakesOverTheDialogsValueIndexWhenItClosesMidReply) {
  Polling();
  engine().OnParSetting();
  fakeGate.whileOpen = [this] {
    engine().Link().ReadRegisters(11, 31);
    ExpectRequest(kLivePollModbus);
    const std::vector<uint16_t> values = LiveRegisters{}.Values();
    line.Send(ReadReply(kModbusAddress, values));
    ASSERT_TRUE(sink.WaitForCount(31));
    for (int i = 0; i < 12; ++i) engine().HandleMessage(*sink.Take());  // then closed
  };
  Tick(900);
  ExpectRequest(kLivePollModbus);
  line.Send(ReadReply(kModbusAddress, LiveRegisters{}.Values()));
  ASSERT_TRUE(sink.WaitForCount(31));
  Pump();  // the last value opens the dialog; the rest of its reply then goes to the view
  ASSERT_NE(fakeGate.dialog, nullptr);
  EXPECT_EQ(fakeGate.dialog->values.size(), 12u);
  EXPECT_EQ(engine().Link().m_exchangeState.load(), ExchangeIdle);
  EXPECT_EQ(engine().m_registerIndex, 0u);
  // Counted on from 12, the 19 remaining values complete the exchange: one data cycle.
  EXPECT_EQ(display.points.size(), 1u);
  EXPECT_EQ(engine().GetDayLog().CompleteCount(), 2u);
}

TEST_F(DispatchTest, TickCountWrapBetweenSamplesKeepsTheMinuteRight) {
  clock.SetTick(0xFFFFFFFFu - 60'000);
  Polling();
  LiveCycle(kModbusAddress, LiveRegisters{});  // minute 0, save schedule starts
  for (int i = 0; i < 10; ++i) LiveCycle(kModbusAddress, LiveRegisters{}, 60'000);
  ASSERT_LT(engine().GetDayLog().tickMs.back(), engine().GetDayLog().tickMs.front());
  ASSERT_EQ(saver.saves.size(), 1u);
  EXPECT_EQ(saver.saves[0].minute, 10);
  EXPECT_EQ(saver.saves[0].samples, 11u);
}

TEST_F(DispatchTest, TenMinuteScheduleWaitsForABusyExport) {
  Polling();
  LiveCycle(kModbusAddress, LiveRegisters{});
  EXPECT_EQ(engine().m_lastSaveMinute, 0);
  std::vector<int> savedAt;
  for (int minute = 1; minute <= 25; ++minute) {
    engine().m_exportBusy = minute >= 18 && minute < 23;
    LiveCycle(kModbusAddress, LiveRegisters{}, 60'000);
  }
  for (const auto& s : saver.saves) savedAt.push_back(s.minute);
  EXPECT_EQ(savedAt, (std::vector<int>{10, 23}));
  ASSERT_FALSE(saver.saves.empty());
  EXPECT_EQ(saver.saves[0].serial, "123456789012");
  EXPECT_EQ(saver.saves[0].ratedPower, 50);
  EXPECT_EQ(saver.saves[0].startTime, engine().StartTime());
  EXPECT_EQ(saver.saves[1].samples, 24u);
}

TEST_F(DispatchTest, FirstCycleAfterMidnightSavesIntoTheOldLogThenStartsANewOne) {
  clock.SetNow(kMidnight - 120);  // 23:58:00
  Polling();
  LiveCycle(kModbusAddress, LiveRegisters{});
  const int64_t firstStart = engine().StartTime();
  LiveCycle(kModbusAddress, LiveRegisters{}, 60'000);  // 23:59
  LiveRegisters after;
  after.pac = 777;
  LiveCycle(kModbusAddress, after, 61'000);  // 00:00:01 of the next day
  ASSERT_EQ(saver.saves.size(), 1u);
  EXPECT_EQ(saver.saves[0].samples, 3u) << "includes the first sample of the new day";
  EXPECT_EQ(saver.saves[0].startTime, firstStart);
  EXPECT_EQ(saver.newDayLogs, 1);
  EXPECT_EQ(display.powerTexts.back(), "Power  77.7 W") << "readouts from that sample";
  EXPECT_EQ(display.clears, 1);
  EXPECT_EQ(engine().GetDayLog().CompleteCount(), 0u);
  EXPECT_FALSE(engine().m_started);
  EXPECT_EQ(engine().m_lastSaveMinute, -1);

  LiveCycle(kModbusAddress, LiveRegisters{}, 1000);
  EXPECT_EQ(engine().GetDayLog().CompleteCount(), 1u);
  EXPECT_TRUE(engine().m_started);
  EXPECT_NE(engine().StartTime(), firstStart);
  EXPECT_EQ(display.startTimes.size(), 2u);
  EXPECT_EQ(engine().m_lastSaveMinute, 0);
}

TEST_F(DispatchTest, UacWithoutItsUdcShowsTheLengthBoxAndKeepsTheValue) {
  Polling();
  engine().Link().ReadRegisters(15, 1);
  ExpectRequest(WithCrc({0x01, 0x04, 0x00, 0x0E, 0x00, 0x01}));
  line.Send(ReadReply(kModbusAddress, {2301}));
  ReceiveAndPump(1);
  EXPECT_EQ(notifier.CountOf(kLengthMismatchText), 1u);
  EXPECT_EQ(engine().GetDayLog().uac.size(), 1u);
  EXPECT_TRUE(display.points.empty());
}

TEST_F(DispatchTest, WriteRepliesCloseTheExchangeWithoutStoring) {
  Polling();
  const uint16_t one[] = {1};
  engine().Link().WriteRegisters(339, 1, one);
  ASSERT_FALSE(line.ReadRequest().empty());
  line.Send(WithCrc({0x01, 0x10, 0x00, 0x26, 0x00, 0x01}));
  ReceiveAndPump(2);
  EXPECT_EQ(engine().Link().m_exchangeState.load(), ExchangeIdle);
  EXPECT_EQ(engine().GetDayLog().CompleteCount(), 0u);
  EXPECT_TRUE(engine().GetDayLog().udc.empty());
}

}  // namespace
}  // namespace pyranex::test
