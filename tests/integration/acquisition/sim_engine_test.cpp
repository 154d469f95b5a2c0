#include <gtest/gtest.h>

#include <vector>

#include "acquisition/sim_fixture.h"
#include "support/time_scale.h"

namespace pyranex::test {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kProbe{0xFF, 0x03, 0x00, 0x3C, 0x00, 0x01, 0x51, 0xD8};
const Bytes kBroadcast{0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x04,
                       0x9C, 0x37, 0x00, 0x03, 0x36, 0xE7};
const Bytes kLiveModbus{0x01, 0x04, 0x00, 0x0A, 0x00, 0x1F, 0x91, 0xC0};
const Bytes kLiveSerial{0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x04,
                        0x9C, 0x41, 0x00, 0x1F, 0x94, 0xA0};

size_t CountOf(const std::vector<Bytes>& requests, const Bytes& frame) {
  size_t n = 0;
  for (const auto& r : requests) n += r == frame;
  return n;
}

TEST_F(SimEngineTest, ModbusFramingSendsTheWorkedFramesAndFollowsTheInverter) {
  StartSim(sim::FramingMode::Modbus);
  StartEngine();
  ASSERT_TRUE(PumpSamples(3, 15s));
  const std::vector<Bytes> requests = sim->Requests();
  ASSERT_GE(requests.size(), 5u);
  EXPECT_EQ(requests[0], kProbe);
  EXPECT_EQ(CountOf(requests, kBroadcast), 0u);
  EXPECT_GE(CountOf(requests, kLiveModbus), 3u);
  EXPECT_EQ(engine->Link().GetFraming(), FramingModbus);
  EXPECT_EQ(engine->Link().GetSerialNumberText(), "123456789012");
  EXPECT_EQ(engine->m_ratedPower, 50);
  // The day log holds what the inverter reports (noon: it feeds in).
  const DayLog& log = engine->GetDayLog();
  ASSERT_GE(log.CompleteCount(), 3u);
  const auto pacRaw =
      (static_cast<uint32_t>(*sim->InputRegister(22)) << 16) | *sim->InputRegister(23);
  EXPECT_GT(log.pac.back(), 0.0f);
  // The model poll's register 45 says "V5.00" in this framing too: the power is in watts.
  EXPECT_EQ(engine->Link().m_firmwareVersion, "V5.00");
  EXPECT_NEAR(log.pac.back(), static_cast<float>(pacRaw), 0.25f * pacRaw + 50.0f);
  EXPECT_FLOAT_EQ(log.freq.back() * 100.0f, static_cast<float>(*sim->InputRegister(21)));
  EXPECT_EQ(TimeoutBoxes(), 0u);
}

TEST_F(SimEngineTest, SerialFramingIsReachedByTheBroadcast) {
  StartSim(sim::FramingMode::Serial);
  const auto start = std::chrono::steady_clock::now();
  StartEngine();
  ASSERT_TRUE(PumpUntil([&] { return !engine->Link().m_identifying.load(); }, 6s));
  const auto identified = std::chrono::steady_clock::now() - start;
  EXPECT_GE(identified, 2000ms);
  EXPECT_LT(identified, 4500ms);  // about 2.2 s; slack for a loaded machine
  ASSERT_TRUE(PumpSamples(2, 15s));
  const std::vector<Bytes> requests = sim->Requests();
  // The probe (which a serial-only inverter ignores) and then the broadcast.
  ASSERT_GE(requests.size(), 3u);
  size_t first = 0;
  while (first < requests.size() && requests[first] == kProbe) ++first;
  EXPECT_LE(first, 1u);
  ASSERT_LT(first, requests.size());
  EXPECT_EQ(requests[first], kBroadcast);
  EXPECT_GE(CountOf(requests, kLiveSerial), 2u);
  EXPECT_EQ(engine->Link().m_firmwareVersion, "V5.00");
  // Firmware V5.00 reports watts.
  const auto pacRaw =
      (static_cast<uint32_t>(*sim->InputRegister(22)) << 16) | *sim->InputRegister(23);
  EXPECT_NEAR(engine->GetDayLog().pac.back(), static_cast<float>(pacRaw), 0.25f * pacRaw + 50.0f);
}

TEST_F(SimEngineTest, SilentInverterGivesOneTimeOutBoxAndLogAfterThreeMisses) {
  StartSim(sim::FramingMode::Modbus);
  StartEngine();
  ASSERT_TRUE(PumpSamples(1, 15s));
  sim::FaultConfig faults;
  faults.silent = true;
  sim->SetFaults(faults);
  ASSERT_TRUE(PumpUntil([&] { return TimeoutBoxes() >= 1; }, 10s));
  EXPECT_EQ(LogFilesWithCode(1), 1u);
  EXPECT_EQ(LogFilesWithCode(2), 0u);

  sim->SetFaults({});
  const int before = samples;
  ASSERT_TRUE(PumpUntil([&] { return samples > before; }, 6s)) << "polling resumes by itself";
}

struct DamageCase {
  const char* name;
  std::function<void(sim::FaultConfig&)> apply;
};

class DamagedRepliesTest : public SimEngineTest,
                           public ::testing::WithParamInterface<DamageCase> {};

// Each kind of damaged reply costs a miss; once the replies are sound again, the cycles go on.
TEST_P(DamagedRepliesTest, LinkRecoversAfterDamagedReplies) {
  StartSim(sim::FramingMode::Modbus);
  StartEngine();
  ASSERT_TRUE(PumpSamples(1, 15s));
  sim::FaultConfig faults;
  GetParam().apply(faults);
  faults.damageLimit = 2;
  sim->SetFaults(faults);
  ASSERT_TRUE(PumpSamples(3, 20s));
  EXPECT_EQ(TimeoutBoxes(), 0u) << "two misses are no time-out";
  const DayLog& log = engine->GetDayLog();
  EXPECT_EQ(log.CompleteCount(), log.pac.size());
  EXPECT_EQ(log.CompleteCount(), log.udc.size());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DamagedRepliesTest,
    ::testing::Values(DamageCase{"badCrc", [](sim::FaultConfig& f) { f.badCrc = true; }},
                      DamageCase{"exception", [](sim::FaultConfig& f) { f.exceptionReply = true; }},
                      DamageCase{"shortReply", [](sim::FaultConfig& f) { f.shortReply = true; }},
                      DamageCase{"everySecondDropped",
                                 [](sim::FaultConfig& f) { f.dropEvery = 2; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimEngineTest, StrayBytesAndSlowRepliesStillGiveCycles) {
  StartSim(sim::FramingMode::Modbus);
  StartEngine();
  ASSERT_TRUE(PumpSamples(1, 15s));
  sim::FaultConfig faults;
  faults.strayByte = true;
  faults.delay = 400ms;
  sim->SetFaults(faults);
  ASSERT_TRUE(PumpSamples(3, 15s));
  EXPECT_EQ(TimeoutBoxes(), 0u);
}

TEST_F(SimEngineTest, StuckPartialFrameClosesAndReopensThePort) {
  StartSim(sim::FramingMode::Modbus);
  StartEngine();
  ASSERT_TRUE(PumpSamples(1, 15s));
  sim::FaultConfig faults;
  faults.stuckPartial = true;
  faults.damageLimit = 3;
  sim->SetFaults(faults);
  ASSERT_TRUE(PumpUntil([&] { return LogFilesWithCode(2) >= 1; }, 12s));
  EXPECT_EQ(LogFilesWithCode(3), 0u);
  ASSERT_TRUE(PumpUntil([&] { return TimeoutBoxes() >= 1; }, 3s));
  EXPECT_TRUE(PumpSamples(2, 10s)) << "the reopened port polls again";
}

struct HangUpCase {
  const char* name;
  sim::FramingMode framing;
  std::chrono::milliseconds resumeLimit;
};

class HangUpTest : public SimEngineTest, public ::testing::WithParamInterface<HangUpCase> {};

// Identification restarts on the reopened port: the serial framing pays the probe's 2 s again.
TEST_P(HangUpTest, HangUpAndReturnResumesWithoutTheUser) {
  StartSim(GetParam().framing);
  StartEngine();
  ASSERT_TRUE(PumpSamples(1, 15s));
  sim->HangUp(2000ms);
  ASSERT_TRUE(PumpUntil([&] { return !sim->IsLineUp(); }, 2s));
  ASSERT_TRUE(PumpUntil([&] { return sim->IsLineUp(); }, 5s));
  const auto back = std::chrono::steady_clock::now();
  const int before = samples;
  ASSERT_TRUE(PumpUntil([&] { return samples > before; }, Scaled(10s)));
  const auto resumed = std::chrono::steady_clock::now() - back;
  RecordProperty(
      "resumedMs",
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(resumed).count()));
  EXPECT_LT(resumed, Scaled(GetParam().resumeLimit));
  EXPECT_GE(CountOf(sim->Requests(), kProbe), 2u) << "identified afresh";
  EXPECT_EQ(sim->HangUpCount(), 1u);
  EXPECT_EQ(TimeoutBoxes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Framings, HangUpTest,
                         // About 3 s in Modbus framing (reopen within 1 s, probe, serial number,
                         // live poll) and about 5 s in serial framing; slack for a loaded machine.
                         ::testing::Values(HangUpCase{"modbus", sim::FramingMode::Modbus, 4500ms},
                                           HangUpCase{"serial", sim::FramingMode::Serial, 6500ms}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyranex::test
