// The link as it meets the field: hang-ups in the middle of a reply, an inverter that is slow to
// answer after a replug, a second program on the port, and a line full of noise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "acquisition/sim_fixture.h"
#include "core/platform/messages.h"
#include "support/time_scale.h"

namespace pyranex::test {
namespace {

long ResidentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

struct ReturnCase {
  const char* name;
  sim::FramingMode framing;
  unsigned unansweredAfterReturn;  // requests left unanswered once the line is back
};

class DeviceReturnTest : public SimEngineTest, public ::testing::WithParamInterface<ReturnCase> {};

// The line goes down in the middle of a live reply; when it is back (answering at once or only
// after a first unanswered probe) the link finds the inverter again by itself, with one box and
// one traffic log for the loss.
TEST_P(DeviceReturnTest, HangUpInTheMiddleOfAReplyRecoversByItself) {
  StartSim(GetParam().framing);
  StartEngine();
  ASSERT_TRUE(PumpSamples(2, 15s));
  EXPECT_EQ(engine->GetLinkStatus().condition, LinkCondition::Connected);
  sim::FaultConfig faults;
  faults.hangUpAfterReplies = 0;
  faults.hangUpMidReply = true;
  faults.hangUpFor = 2000ms;
  faults.dropFirst = 1 + GetParam().unansweredAfterReturn;  // the cut reply is the first
  sim->SetFaults(faults);
  ASSERT_TRUE(PumpUntil([&] { return !sim->IsLineUp(); }, 5s));
  ASSERT_TRUE(
      PumpUntil([&] { return engine->GetLinkStatus().condition == LinkCondition::Lost; }, 3s));
  ASSERT_TRUE(PumpUntil([&] { return sim->IsLineUp(); }, 5s));
  const auto back = std::chrono::steady_clock::now();
  const int before = samples;
  ASSERT_TRUE(PumpUntil([&] { return samples > before; }, Scaled(15s)));
  const auto resumed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - back);
  RecordProperty("resumedMs", static_cast<int>(resumed.count()));
  // Reopened within a second, then the framing found before answers: about 2 s; each request
  // left unanswered costs its 2 s time-out and the other framing's turn.
  EXPECT_LT(resumed, Scaled(3500ms + 4000ms * GetParam().unansweredAfterReturn));
  EXPECT_EQ(engine->GetLinkStatus().condition, LinkCondition::Connected)
      << FormatLinkStatus(engine->GetLinkStatus(), SystemClock::Instance());
  EXPECT_EQ(LogFilesWithCode(kLostDeviceLogCode), 1u);
  size_t lostBoxes = 0;
  for (const auto& n : notifier.Notices())
    lostBoxes += n.text.rfind("WARNING:  ReadFile()", 0) == 0;
  EXPECT_EQ(lostBoxes, 1u);
  EXPECT_EQ(TimeoutBoxes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, DeviceReturnTest,
    ::testing::Values(ReturnCase{"modbus", sim::FramingMode::Modbus, 0},
                      ReturnCase{"serial", sim::FramingMode::Serial, 0},
                      ReturnCase{"modbusFirstProbeUnanswered", sim::FramingMode::Modbus, 1},
                      ReturnCase{"serialFirstBroadcastUnanswered", sim::FramingMode::Serial, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimEngineTest, SecondOpenerIsRefusedWhileTheFirstPollsOn) {
  StartSim(sim::FramingMode::Modbus);
  StartEngine();
  ASSERT_TRUE(PumpSamples(1, 15s));
  BlockingMessageQueue otherQueue;
  CInverterCom other(
      LinkContext{otherQueue, SystemClock::Instance(), notifier, Paths{Dir(), Dir()}, {}});
  EXPECT_FALSE(other.InitPort(kCom));
  EXPECT_FALSE(other.IsOpen());
  EXPECT_TRUE(PumpSamples(3, 15s)) << "the first keeps polling undisturbed";
  EXPECT_EQ(notifier.Count(), 0u);
  engine.reset();
  EXPECT_TRUE(other.InitPort(kCom)) << "free again once the first has closed it";
  other.ClosePort();
}

// A line streaming random bytes without pause, no inverter behind it: memory stays flat, nothing
// is taken for an inverter or a value, and the link still stops at once.
TEST_F(SimEngineTest, FloodOfNoiseStaysBoundedIdentifiesNothingAndStopsAtOnce) {
  sim::FaultConfig faults;
  faults.silent = true;
  faults.noise = true;
  StartSim(sim::FramingMode::Both, faults);
  StartEngine(/*keepIdentifying=*/true);
  size_t values = 0;
  auto pump = [&](std::chrono::milliseconds period) {
    const auto end = std::chrono::steady_clock::now() + period;
    while (std::chrono::steady_clock::now() < end) {
      if (auto m = queue.WaitTake(20ms)) {
        values += m->message == WM_INV_REGISTER;
        engine->HandleMessage(*m);
      }
    }
  };
  pump(1s);
  const long residentBefore = ResidentKb();
  const uint64_t noiseBefore = sim->NoiseBytesSent();
  pump(10s);
  const long grownKb = ResidentKb() - residentBefore;
  const uint64_t noise = sim->NoiseBytesSent() - noiseBefore;
  RecordProperty("residentGrowthKb", static_cast<int>(grownKb));
  RecordProperty("noiseKb", static_cast<int>(noise / 1024));
  EXPECT_GT(noise, 100u * 1024) << "a real flood";
  EXPECT_LT(grownKb, 20 * 1024);
  EXPECT_EQ(values, 0u);
  EXPECT_TRUE(engine->Link().m_identifying.load());
  EXPECT_GE(sim->Requests().size(), 4u) << "identification kept trying in both framings";

  const auto start = std::chrono::steady_clock::now();
  engine->Disconnect();
  const auto stop = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  RecordProperty("stopMs", static_cast<int>(stop.count()));
  EXPECT_LT(stop, Scaled(1500ms));
}

}  // namespace
}  // namespace pyranex::test
