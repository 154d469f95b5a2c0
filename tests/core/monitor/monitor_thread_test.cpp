// The monitor engine opened by the power view, with the real poll thread ticking it: "Par...",
// the first pass, "Set all parameter" and the hand-back, as the program runs them.

#include <gtest/gtest.h>

#include <memory>

#include "core/monitor/monitor_engine.h"
#include "scripted_inverter.h"
#include "support/eventually.h"
#include "support/recording_notifier.h"

namespace pyranex::test {
namespace {

class ThreadedGate final : public MonitorGate {
 public:
  std::optional<bool> AskPassword() override { return true; }
  std::shared_ptr<MonitorDialog> CreateMonitor(bool fullAccess, CInverterCom& link) override {
    MonitorServices services{link, notifier, nullptr, nullptr, fullAccess, {}};
    monitor = std::make_shared<MonitorEngine>(services);
    return monitor;
  }
  void RunModal(MonitorDialog&) override {
    monitor->Start();
    whileOpen();
  }
  RecordingNotifier notifier;
  std::shared_ptr<MonitorEngine> monitor;
  std::function<void()> whileOpen;
};

class MonitorThreadTest : public EngineTest {
 protected:
  void SetUp() override {
    gate = &threadedGate;
    MakeEngine(/*runPollThread=*/true);
    inverter.regs = {{1, 0x1234}, {2, 0x5678}, {3, 0x9012}, {44, 50}, {45, 300}, {361, 1}};
    for (uint32_t reg = 342; reg <= 356; reg += 2) inverter.regs[reg] = 1000;
    // Protection settings at the dialog's defaults, so the first pass takes them in quietly.
    const uint16_t protection[] = {1500, 60, 2030, 1800, 50,   10, 2700, 2900, 50,   10, 4800,
                                   4500, 50, 10,   5200, 5500, 50, 10,   3000, 2000, 1,  3};
    for (uint32_t i = 0; i < std::size(protection); ++i) inverter.regs[46 + i] = protection[i];
    inverter.regs[81] = 1000;
  }
  void TearDown() override { engine().Disconnect(); }

  // Answers the next request the poll thread sends and hands its values over.
  void ServeOne() {
    const Bytes request = line.ReadRequest(std::chrono::seconds(10));
    ASSERT_FALSE(request.empty());
    Answer(request);
  }
  void Answer(const Bytes& request) {
    inverter.Apply(request);
    const Bytes reply = inverter.Answer(request);
    const size_t values = request[1] == 3 || request[1] == 4 ? (reply.size() - 5) / 2 : 2;
    line.Send(reply);
    ReceiveAndPump(values);
  }

  ThreadedGate threadedGate;
  ScriptedInverter inverter;
};

TEST_F(MonitorThreadTest, ParSetAllParameterAndBackToThePowerView) {
  IdentifyModbus();
  engine().OnParSetting();
  threadedGate.whileOpen = [this] {
    MonitorEngine& monitor = *threadedGate.monitor;
    for (int i = 0; i < 12 && !monitor.EditsLoaded(); ++i) ServeOne();
    ASSERT_TRUE(monitor.EditsLoaded());
    monitor.SetControlText(1100, "222.2");
    ASSERT_EQ(monitor.OnSetAllParameter(), MonitorEngine::SetAllOutcome::Started);
    for (int i = 0; i < 6 && inverter.writes.size() < 4; ++i) ServeOne();
    ASSERT_EQ(inverter.writes.size(), 4u);
    EXPECT_EQ(inverter.writes[0].second[0], 2222);
    EXPECT_EQ(inverter.writes[3].first, 301u);
    EXPECT_TRUE(Eventually([&] { return monitor.IsEnabled(ctl::kSetAllParameter); }));
  };
  clock.Advance(900);  // the model poll, whose end opens the dialog
  ServeOne();
  ASSERT_NE(threadedGate.monitor, nullptr);
  EXPECT_EQ(engine().Monitor(), nullptr);
  EXPECT_EQ(threadedGate.notifier.Count(), 0u);
  // The view polls again on its own, once a read the dialog left outstanding is answered.
  bool viewPolls = false;
  for (int i = 0; i < 3 && !viewPolls; ++i) {
    clock.Advance(900);
    const Bytes request = line.ReadRequest(std::chrono::seconds(3));
    viewPolls =
        request == kLivePollModbus || request == WithCrc({0x01, 0x04, 0x00, 0x2B, 0x00, 0x02});
    if (!viewPolls && !request.empty()) Answer(request);
  }
  EXPECT_TRUE(viewPolls);
}

}  // namespace
}  // namespace pyranex::test
