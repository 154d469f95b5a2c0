// The simulator's pieces on their own: CRC, request framing, replies, the day, faults, options.
#include <gtest/gtest.h>

#include <cmath>

#include "day_curve.h"
#include "fault_injector.h"
#include "inverter_model.h"
#include "request_framer.h"
#include "responder.h"
#include "sim_crc.h"
#include "sim_options.h"
#include "traffic_text.h"
#include "wire_client.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;
using sim::RequestFramer;

TEST(SimCrc, CheckValueAndWorkedFrames) {
  const std::string check = "123456789";
  EXPECT_EQ(sim::Crc16Modbus({reinterpret_cast<const uint8_t*>(check.data()), check.size()}),
            0x4B37);
  for (const char* frame :
       {"FF 03 00 3C 00 01 51 D8", "99 99 99 99 99 99 04 9C 37 00 03 36 E7",
        "12 34 56 78 90 12 04 9C 41 00 1F 94 A0", "01 04 00 0A 00 1F 91 C0",
        "12 34 56 78 90 12 05 00 02 FF 00 76 DC", "01 10 00 26 00 01 02 00 01 60 96"}) {
    Bytes bytes = Hex(frame);
    EXPECT_TRUE(sim::HasValidCrc(bytes)) << frame;
    bytes[1] ^= 0x01;
    EXPECT_FALSE(sim::HasValidCrc(bytes)) << frame;
  }
  EXPECT_FALSE(sim::HasValidCrc(Bytes{0x01, 0x02}));
}

struct FramerCase {
  const char* name;
  bool oneByte;
  bool sixByte;
  std::vector<std::string> chunks;
  bool silenceAtEnd;
  std::vector<std::string> expected;  // "F:<hex>" frames, "G:<hex>" skipped bytes
};

class FramerTest : public ::testing::TestWithParam<FramerCase> {};

TEST_P(FramerTest, SplitsTheStream) {
  const auto& c = GetParam();
  RequestFramer framer(c.oneByte, c.sixByte);
  std::vector<std::string> got;
  auto collect = [&] {
    for (const auto& item : framer.TakeOutput()) {
      const bool frame = item.kind == RequestFramer::Item::Kind::Frame;
      // Where a run of skipped bytes is cut in two is of no consequence.
      if (!frame && !got.empty() && got.back().starts_with("G:")) {
        got.back() += " " + sim::HexText(item.bytes);
      } else {
        got.push_back((frame ? "F:" : "G:") + sim::HexText(item.bytes));
      }
    }
  };
  for (const auto& chunk : c.chunks) {
    framer.Feed(Hex(chunk));
    collect();
  }
  if (c.silenceAtEnd) framer.OnSilence();
  collect();
  EXPECT_EQ(got, c.expected);
  if (c.silenceAtEnd) {
    EXPECT_FALSE(framer.HasPendingBytes());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, FramerTest,
    ::testing::Values(
        FramerCase{"probe",
                   true,
                   false,
                   {"FF 03 00 3C 00 01 51 D8"},
                   false,
                   {"F:FF 03 00 3C 00 01 51 D8"}},
        FramerCase{"byteByByte",
                   true,
                   false,
                   {"01", "04", "00 0A", "00 1F 91", "C0"},
                   false,
                   {"F:01 04 00 0A 00 1F 91 C0"}},
        FramerCase{"twoBackToBack",
                   true,
                   false,
                   {"FF 03 00 3C 00 01 51 D8 01 04 00 0A 00 1F 91 C0"},
                   false,
                   {"F:FF 03 00 3C 00 01 51 D8", "F:01 04 00 0A 00 1F 91 C0"}},
        FramerCase{"garbageFirst",
                   true,
                   false,
                   {"55 AA 01 04 00 0A 00 1F 91 C0"},
                   false,
                   {"G:55 AA", "F:01 04 00 0A 00 1F 91 C0"}},
        FramerCase{"badCrcSkipsToNext",
                   true,
                   false,
                   {"01 04 00 0A 00 1F 91 C1 01 04 00 0A 00 1F 91 C0"},
                   false,
                   {"G:01 04 00 0A 00 1F 91 C1", "F:01 04 00 0A 00 1F 91 C0"}},
        FramerCase{"truncatedThenSilence", true, false, {"01 04 00 0A"}, true, {"G:01 04 00 0A"}},
        FramerCase{"truncatedWaits", true, false, {"01 04 00 0A"}, false, {}},
        FramerCase{"write",
                   true,
                   false,
                   {"01 10 00 26 00 01 02 00 01 60 96"},
                   false,
                   {"F:01 10 00 26 00 01 02 00 01 60 96"}},
        FramerCase{"writeWithWrongByteCount",
                   true,
                   false,
                   {"01 10 00 26 00 01 03 00 01 60 96"},
                   true,
                   {"G:01 10 00 26 00 01 03 00 01 60 96"}},
        FramerCase{"serialBroadcast",
                   false,
                   true,
                   {"99 99 99 99 99 99 04 9C 37 00 03 36 E7"},
                   false,
                   {"F:99 99 99 99 99 99 04 9C 37 00 03 36 E7"}},
        FramerCase{"serialCoil",
                   false,
                   true,
                   {"12 34 56 78 90 12 05 00 02 FF 00 76 DC"},
                   false,
                   {"F:12 34 56 78 90 12 05 00 02 FF 00 76 DC"}},
        FramerCase{"modbusFrameInSerialOnlyIsGarbage",
                   false,
                   true,
                   {"01 04 00 0A 00 1F 91 C0"},
                   true,
                   {"G:01 04 00 0A 00 1F 91 C0"}},
        FramerCase{"bothFramings",
                   true,
                   true,
                   {"01 04 00 0A 00 1F 91 C0 12 34 56 78 90 12 04 9C 41 00 1F 94 A0"},
                   false,
                   {"F:01 04 00 0A 00 1F 91 C0", "F:12 34 56 78 90 12 04 9C 41 00 1F 94 A0"}},
        FramerCase{"strayBeforeSerial",
                   false,
                   true,
                   {"99 99 99 99 99 99 99 04 9C 37 00 03 36 E7"},
                   false,
                   {"G:99", "F:99 99 99 99 99 99 04 9C 37 00 03 36 E7"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Whatever noise comes first, a request followed by a pause is always recovered whole.
TEST(RequestFramerNoise, RecoversTheRequestAfterAnyGarbage) {
  const std::vector<Bytes> requests = {
      Hex("FF 03 00 3C 00 01 51 D8"), Hex("01 04 00 0A 00 1F 91 C0"),
      Hex("99 99 99 99 99 99 04 9C 37 00 03 36 E7"), Hex("01 10 00 26 00 01 02 00 01 60 96"),
      Hex("12 34 56 78 90 12 05 00 02 FF 00 76 DC")};
  // Noise drawn mostly from bytes that look like the start of a frame.
  const uint8_t alphabet[] = {0x00, 0x01, 0x03, 0x04, 0x05, 0x06, 0x0F, 0x10,
                              0x12, 0x7B, 0x99, 0xFF, 0x55, 0xAA, 0xF6, 0x02};
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (int round = 0; round < 2000; ++round) {
    RequestFramer framer(true, true);
    Bytes noise(next() % 24);
    for (auto& b : noise) b = alphabet[next() % std::size(alphabet)];
    const Bytes& request = requests[next() % requests.size()];
    framer.Feed(noise);
    framer.Feed(request);
    framer.OnSilence();
    std::vector<Bytes> frames;
    std::size_t total = 0;
    for (const auto& item : framer.TakeOutput()) {
      total += item.bytes.size();
      if (item.kind == RequestFramer::Item::Kind::Frame) frames.push_back(item.bytes);
    }
    ASSERT_FALSE(frames.empty()) << "noise " << sim::HexText(noise);
    EXPECT_EQ(frames.back(), request) << "noise " << sim::HexText(noise);
    EXPECT_EQ(total, noise.size() + request.size()) << "every byte accounted for";
  }
}

sim::InverterIdentity Identity(uint16_t firmware = 500) {
  sim::InverterIdentity id;
  id.serialNumber = 123456789012;
  id.firmwareVersion = firmware;
  id.ratedPower = 50;
  id.addressRegister = 1;
  return id;
}

sim::Answer Ask(sim::InverterModel& model, const std::string& hex, std::size_t k,
                sim::FramingMode mode = sim::FramingMode::Both) {
  const Bytes frame = Hex(hex);
  return sim::Respond(model, frame, k, mode);
}

TEST(SimResponder, WorkedRequestsGetWellFormedReplies) {
  sim::InverterModel model(Identity(), 12 * 3600);
  auto probe = Ask(model, "FF 03 00 3C 00 01 51 D8", 1);
  ASSERT_TRUE(probe.reply);
  EXPECT_EQ(*probe.reply, WithCrc({0xFF, 3, 2, 0, 1}));

  auto serial = Ask(model, "99 99 99 99 99 99 04 9C 37 00 03 36 E7", 6);
  ASSERT_TRUE(serial.reply);
  EXPECT_EQ(*serial.reply, WithCrc({0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 4, 6, 0x12, 0x34, 0x56,
                                    0x78, 0x90, 0x12}));

  auto live = Ask(model, "12 34 56 78 90 12 04 9C 41 00 1F 94 A0", 6);
  ASSERT_TRUE(live.reply);
  EXPECT_EQ(live.quantity, 31u);
  EXPECT_EQ(live.reply->size(), 6u + 2 + 62 + 2);
  EXPECT_TRUE(CrcOk(*live.reply));
  // The same record in both framings.
  auto modbusLive = Ask(model, "01 04 00 0A 00 1F 91 C0", 1);
  ASSERT_TRUE(modbusLive.reply);
  EXPECT_EQ(Values(*modbusLive.reply, 1), Values(*live.reply, 6));
}

TEST(SimResponder, BroadcastWriteIsExecutedWithoutReply) {
  sim::InverterModel model(Identity(), 0);
  const Bytes write = WithCrc({0x00, 0x10, 0x00, 10, 0x00, 0x01, 0x02, 0x07, 0xD0});
  const auto answer = sim::Respond(model, write, 1, sim::FramingMode::Modbus);
  EXPECT_FALSE(answer.reply);
  EXPECT_EQ(model.HoldingRegister(311), 2000);
}

TEST(SimResponder, ReadOfRegisterEightyOneIsAnInputRegister) {
  sim::InverterModel model(Identity(), 0);
  model.WriteHolding(359, 777);
  const auto answer =
      sim::Respond(model, WithCrc({1, 4, 0, 80, 0, 1}), 1, sim::FramingMode::Modbus);
  ASSERT_TRUE(answer.reply);
  EXPECT_EQ(Values(*answer.reply, 1), std::vector<uint16_t>{777});
}

struct CurveCase {
  const char* time;
  sim::OperatingState state;
  bool producing;
  uint32_t faults;
};

class DayCurveTest : public ::testing::TestWithParam<CurveCase> {};

TEST_P(DayCurveTest, StateAndPowerFollowTheDay) {
  const auto& c = GetParam();
  const int h = std::stoi(std::string(c.time).substr(0, 2));
  const int m = std::stoi(std::string(c.time).substr(3, 2));
  const auto p = sim::CurveAt(h * 3600.0 + m * 60.0, 5000);
  EXPECT_EQ(p.state, c.state) << c.time;
  EXPECT_EQ(p.acPowerW > 0, c.producing) << c.time;
  EXPECT_LE(p.acPowerW, 5000);
  EXPECT_EQ(p.faultBits, c.faults) << c.time;
  EXPECT_GT(p.acVoltageV, 200);
  EXPECT_NEAR(p.frequencyHz, 50.0, 0.05);
}

INSTANTIATE_TEST_SUITE_P(
    Times, DayCurveTest,
    ::testing::Values(CurveCase{"03:00", sim::OperatingState::Waiting, false, 0},
                      CurveCase{"06:02", sim::OperatingState::Waiting, false, 0},
                      CurveCase{"06:30", sim::OperatingState::Inverting, true, 0},
                      CurveCase{"09:00", sim::OperatingState::Inverting, true, 0},
                      CurveCase{"11:05", sim::OperatingState::Warning, true, 1u << 29},
                      CurveCase{"12:00", sim::OperatingState::Inverting, true, 0},
                      CurveCase{"14:01", sim::OperatingState::Fault, false, 1u << 27},
                      CurveCase{"17:30", sim::OperatingState::Inverting, true, 0},
                      CurveCase{"19:00", sim::OperatingState::Waiting, false, 0}));

uint32_t Pair(const sim::InverterModel& model, unsigned high) {
  return *model.InputRegister(high) * 65536u + *model.InputRegister(high + 1);
}

// A finer integration of the curve, 1 s steps, in Wh.
double CurveEnergyWh(int fromSecond, int toSecond) {
  double wh = 0;
  for (int s = fromSecond; s < toSecond; ++s) wh += sim::CurveAt(s + 0.5, 5000).acPowerW / 3600.0;
  return wh;
}

TEST(SimModel, EnergyIntegratesThePowerCurve) {
  sim::InverterModel model(Identity(), 9 * 3600);
  const double todayBefore = model.EnergyTodayKwh();
  const uint32_t registerBefore = *model.InputRegister(24);
  const uint32_t totalBefore = Pair(model, 25);
  const uint32_t minutesBefore = Pair(model, 27);
  model.AdvanceTo(3600);
  const double wh = CurveEnergyWh(9 * 3600, 10 * 3600);
  EXPECT_NEAR(model.EnergyTodayKwh() - todayBefore, wh / 1000.0, 0.01);
  EXPECT_NEAR(*model.InputRegister(24) - registerBefore, wh / 100.0, 1.0);  // tenths of kWh
  EXPECT_NEAR(Pair(model, 25) - totalBefore, wh / 100.0, 1.0);
  EXPECT_EQ(Pair(model, 27) - minutesBefore, 60u);  // running minutes today
}

TEST(SimModel, StartedDuringTheDayHasTheMorningBehindIt) {
  sim::InverterModel model(Identity(), 12 * 3600);
  EXPECT_NEAR(model.EnergyTodayKwh(), CurveEnergyWh(0, 12 * 3600) / 1000.0, 0.05);
  EXPECT_GT(Pair(model, 27), 5u * 60);  // running since soon after 06:00
  EXPECT_NEAR(model.SecondOfDay(), 12 * 3600.0, 1e-6);
}

TEST(SimModel, MidnightStartsANewDayButKeepsTheTotals) {
  sim::InverterModel model(Identity(), 16 * 3600);
  model.AdvanceTo(2 * 3600);  // 18:00
  EXPECT_GT(*model.InputRegister(24), 0);
  const uint32_t total = Pair(model, 25);
  const uint32_t hours = Pair(model, 29);
  model.AdvanceTo(9 * 3600);  // 01:00 next day
  EXPECT_EQ(*model.InputRegister(24), 0);
  EXPECT_EQ(Pair(model, 27), 0u);
  EXPECT_EQ(Pair(model, 25), total);
  EXPECT_EQ(Pair(model, 29), hours);
  EXPECT_NEAR(model.SecondOfDay(), 3600, 1);
  EXPECT_EQ(*model.InputRegister(41), 0);
}

TEST(SimModel, PowerRegistersScaleWithFirmware) {
  sim::InverterModel v500(Identity(500), 12 * 3600);
  sim::InverterModel v410(Identity(410), 12 * 3600);
  const uint32_t watts = Pair(v500, 22);
  EXPECT_GT(watts, 3000u);
  EXPECT_NEAR(Pair(v410, 22), watts * 10.0, 10.0);
}

TEST(SimModel, FullPowerLimitDeratesOutput) {
  sim::InverterModel model(Identity(), 12 * 3600);
  model.WriteHolding(359, 500);  // 50.0 %
  model.AdvanceTo(60);
  EXPECT_NEAR(model.Now().acPowerW, sim::CurveAt(12 * 3600 + 60, 5000).acPowerW * 0.5, 1.0);
}

TEST(SimModel, SerialNumberBcdRoundTrip) {
  EXPECT_EQ(sim::SerialToBcd(123456789012),
            (std::array<uint8_t, 6>{0x12, 0x34, 0x56, 0x78, 0x90, 0x12}));
  EXPECT_EQ(sim::SerialToBcd(1), (std::array<uint8_t, 6>{0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(sim::BcdToSerial({0x99, 0x99, 0x99, 0x99, 0x99, 0x99}), 999999999999u);
  sim::InverterModel model(Identity(), 0);
  EXPECT_EQ(*model.InputRegister(1), 0x1234);
  EXPECT_EQ(*model.InputRegister(3), 0x9012);
  model.WriteHolding(303, 0x0001);
  EXPECT_EQ(sim::BcdToSerial(model.SerialBcd()), 123456780001u);
}

TEST(SimModel, RegisterRanges) {
  sim::InverterModel model(Identity(), 0);
  EXPECT_FALSE(model.InputRegister(0));
  EXPECT_FALSE(model.InputRegister(82));
  EXPECT_TRUE(model.InputRegister(81));
  EXPECT_FALSE(model.HoldingRegister(300));
  EXPECT_FALSE(model.HoldingRegister(362));
  EXPECT_FALSE(model.WriteHolding(362, 1));
  EXPECT_FALSE(model.WriteCoil(3, true));
  EXPECT_EQ(*model.InputRegister(73), 0x2020);  // "AS4777" padded with spaces
  EXPECT_EQ(*model.InputRegister(68), 'A' << 8 | 'S');
}

TEST(SimFaults, HangUpFallsOnTheReplyAfterTheCount) {
  sim::FaultInjector injector;
  sim::FaultConfig config;
  config.hangUpAfterReplies = 2;
  const auto t = std::chrono::steady_clock::now();
  injector.Configure(config, t);
  const Bytes reply = WithCrc({1, 3, 2, 0, 1});
  std::vector<std::pair<bool, bool>> got;
  for (int i = 0; i < 4; ++i) {
    const auto plan = injector.Shape(reply, 1, 3, 1, t);
    got.emplace_back(plan.send, plan.hangUpAfter);
  }
  EXPECT_EQ(got, (std::vector<std::pair<bool, bool>>{
                     {true, false}, {true, false}, {false, true}, {true, false}}));
}

TEST(SimFaults, StuckWriteReplyKeepsHeaderAndPartOfTheData) {
  sim::FaultInjector injector;
  sim::FaultConfig config;
  config.stuckPartial = true;
  injector.Configure(config, {});
  const Bytes reply = WithCrc({1, 0x10, 0, 0x26, 0, 1});
  const auto plan = injector.Shape(reply, 1, 0x10, 0, {});
  EXPECT_EQ(plan.bytes, (Bytes{1, 0x10, 0, 0x26}));
}

TEST(SimFaults, ShortReplyOfASingleRegisterCarriesNoValues) {
  sim::FaultInjector injector;
  sim::FaultConfig config;
  config.shortReply = true;
  injector.Configure(config, {});
  const auto plan = injector.Shape(WithCrc({0xFF, 3, 2, 0, 1}), 1, 3, 1, {});
  EXPECT_EQ(plan.bytes, WithCrc({0xFF, 3, 0}));
}

struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  bool ok;
  std::function<void(const sim::SimOptions&)> check;
};

class SimOptionsTest : public ::testing::TestWithParam<OptionCase> {};

TEST_P(SimOptionsTest, Parses) {
  sim::SimOptions options;
  std::string error;
  EXPECT_EQ(sim::ParseSimOptions(GetParam().args, &options, &error), GetParam().ok) << error;
  if (GetParam().ok && GetParam().check) GetParam().check(options);
  if (!GetParam().ok) {
    EXPECT_FALSE(error.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SimOptionsTest,
    ::testing::Values(
        OptionCase{"minimal",
                   {"--ports-dir", "p"},
                   true,
                   [](const sim::SimOptions& o) {
                     EXPECT_EQ(o.config.portsDir, "p");
                     EXPECT_EQ(o.config.comNumber, 1u);
                     EXPECT_EQ(o.config.framing, sim::FramingMode::Modbus);
                   }},
        OptionCase{"everything",
                   {"--ports-dir=p", "--com",        "4",   "--framing", "serial", "--serial",
                    "000000000042",  "--firmware",   "410", "--rated",   "30",     "--address",
                    "257",           "--time-scale", "60",  "--start",   "06:30",  "--record",
                    "r.txt",         "--pace"},
                   true,
                   [](const sim::SimOptions& o) {
                     EXPECT_EQ(o.config.comNumber, 4u);
                     EXPECT_EQ(o.config.framing, sim::FramingMode::Serial);
                     EXPECT_EQ(o.config.identity.serialNumber, 42u);
                     EXPECT_EQ(o.config.identity.firmwareVersion, 410);
                     EXPECT_EQ(o.config.identity.ratedPower, 30);
                     EXPECT_EQ(o.config.identity.addressRegister, 257);
                     EXPECT_EQ(o.config.timeScale, 60.0);
                     EXPECT_EQ(o.config.startSecondOfDay, 6.5 * 3600);
                     EXPECT_EQ(o.config.recordFile, "r.txt");
                     EXPECT_TRUE(o.config.paceReplies);
                   }},
        OptionCase{"faults",
                   {"--ports-dir",
                    "p",
                    "--silent-after",
                    "3",
                    "--silent-for",
                    "1.5",
                    "--drop-every",
                    "4",
                    "--bad-crc",
                    "--stray-value",
                    "99",
                    "--exception",
                    "--short-reply",
                    "--stuck",
                    "--damage-limit",
                    "2",
                    "--delay",
                    "250",
                    "--hang-up-after",
                    "5",
                    "--hang-up-for",
                    "2"},
                   true,
                   [](const sim::SimOptions& o) {
                     const auto& f = o.config.faults;
                     EXPECT_EQ(f.silentAfterReplies, 3);
                     EXPECT_EQ(f.silentFor, 1500ms);
                     EXPECT_EQ(f.dropEvery, 4u);
                     EXPECT_TRUE(f.badCrc && f.strayByte && f.exceptionReply && f.shortReply &&
                                 f.stuckPartial);
                     EXPECT_EQ(f.strayValue, 0x99);
                     EXPECT_EQ(f.damageLimit, 2u);
                     EXPECT_EQ(f.delay, 250ms);
                     EXPECT_EQ(f.hangUpAfterReplies, 5);
                     EXPECT_EQ(f.hangUpFor, 2000ms);
                   }},
        OptionCase{"help", {"--help"}, true, [](const sim::SimOptions& o) { EXPECT_TRUE(o.help); }},
        OptionCase{
            "hexAddress",
            {"--ports-dir", "p", "--address", "0x0101"},
            true,
            [](const sim::SimOptions& o) { EXPECT_EQ(o.config.identity.addressRegister, 0x0101); }},
        OptionCase{"noPortsDir", {"--com", "2"}, false, {}},
        OptionCase{"comZero", {"--ports-dir", "p", "--com", "0"}, false, {}},
        OptionCase{"shortSerial", {"--ports-dir", "p", "--serial", "12345"}, false, {}},
        OptionCase{
            "serialWithLetters", {"--ports-dir", "p", "--serial", "12345678901x"}, false, {}},
        OptionCase{"badFraming", {"--ports-dir", "p", "--framing", "ascii"}, false, {}},
        OptionCase{"badStart", {"--ports-dir", "p", "--start", "25:00"}, false, {}},
        OptionCase{"negativeScale", {"--ports-dir", "p", "--time-scale", "-1"}, false, {}},
        OptionCase{"missingValue", {"--ports-dir", "p", "--delay"}, false, {}},
        OptionCase{"unknown", {"--ports-dir", "p", "--frobnicate"}, false, {}},
        OptionCase{"positional", {"p"}, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimOptions, ClearResetsAllFaults) {
  sim::FaultConfig faults;
  std::string error;
  ASSERT_TRUE(sim::ApplyFaultOption("bad-crc", "", &faults, &error));
  ASSERT_TRUE(sim::ApplyFaultOption("delay", "100", &faults, &error));
  ASSERT_TRUE(sim::ApplyFaultOption("clear", "", &faults, &error));
  EXPECT_FALSE(faults.badCrc);
  EXPECT_EQ(faults.delay, 0ms);
  EXPECT_FALSE(sim::ApplyFaultOption("delay", "soon", &faults, &error));
  EXPECT_FALSE(sim::SimUsage().empty());
}

TEST(SimTrafficText, HexBothWays) {
  EXPECT_EQ(sim::HexText(Bytes{0x01, 0xAB, 0x00}), "01 AB 00");
  EXPECT_EQ(sim::ParseHex("01ab 00"), (Bytes{0x01, 0xAB, 0x00}));
  EXPECT_FALSE(sim::ParseHex("0"));
  EXPECT_FALSE(sim::ParseHex("zz"));
  const auto line = sim::FormatTrafficLine(std::chrono::system_clock::time_point{} + 1234ms, "RX",
                                           Bytes{0xFF}, "note");
  EXPECT_NE(line.find(".234 RX FF # note"), std::string::npos) << line;
}

}  // namespace
}  // namespace pyranex::test

namespace pyranex::test {
namespace {

TEST(SimService, WritesShowWhereTheProgramReadsThemBack) {
  sim::InverterModel model(Identity(), 12 * 3600);
  // Block 0 of a parameter write (311..333), then the island switch and GFCI off.
  Bytes block{0x01, 0x10, 0x00, 10, 0x00, 23, 46};
  for (uint16_t i = 0; i < 23; ++i) {
    block.push_back(static_cast<uint8_t>((1000 + i) >> 8));
    block.push_back(static_cast<uint8_t>((1000 + i) & 0xFF));
  }
  ASSERT_TRUE(sim::Respond(model, WithCrc(block), 1, sim::FramingMode::Modbus).reply);
  ASSERT_TRUE(
      sim::Respond(model, WithCrc({1, 0x10, 0, 56, 0, 1, 2, 0, 0}), 1, sim::FramingMode::Modbus)
          .reply);
  ASSERT_TRUE(
      sim::Respond(model, WithCrc({1, 0x10, 0, 38, 0, 1, 2, 0, 0}), 1, sim::FramingMode::Modbus)
          .reply);
  struct Case {
    unsigned input;
    uint16_t value;
  };
  for (const Case& c :
       {Case{46, 1000}, Case{67, 1021}, Case{68, 1022}, Case{74, 0}, Case{75, 1}, Case{81, 1000}}) {
    EXPECT_EQ(model.InputRegister(c.input), c.value) << c.input;
  }
  EXPECT_EQ(model.HoldingRegister(357), 0);
  ASSERT_EQ(model.Writes().size(), 3u);
  EXPECT_EQ(model.Writes()[0].first, 311u);
  EXPECT_EQ(model.Writes()[0].values.size(), 23u);
  EXPECT_EQ(model.Writes()[1], (sim::SimWrite{false, 357, {0}}));
}

TEST(SimService, CommandsHaveAVisibleEffect) {
  sim::InverterModel model(Identity(), 12 * 3600);
  model.AdvanceTo(60);
  ASSERT_EQ(model.InputRegister(41), 1);  // inverting at noon
  ASSERT_GT(*model.InputRegister(26), 0);
  ASSERT_TRUE(
      sim::Respond(model, WithCrc({1, 5, 0, 1, 0xFF, 0}), 1, sim::FramingMode::Modbus).reply);
  EXPECT_EQ(model.InputRegister(41), 0);  // auto test: off the grid
  EXPECT_EQ(model.InputRegister(23), 0);
  model.AdvanceTo(60 + sim::kAutoTestSeconds + 1);
  EXPECT_EQ(model.InputRegister(41), 1);
  ASSERT_TRUE(
      sim::Respond(model, WithCrc({1, 5, 0, 0, 0xFF, 0}), 1, sim::FramingMode::Modbus).reply);
  EXPECT_EQ(model.InputRegister(24), 0);
  EXPECT_EQ(model.InputRegister(25), 0);
  EXPECT_EQ(model.InputRegister(26), 0);
  EXPECT_EQ(model.Writes().back(), (sim::SimWrite{true, 1, {0xFF00}}));
  // A new address answers at once, under the new address.
  const auto answer =
      sim::Respond(model, WithCrc({1, 0x10, 0, 60, 0, 1, 2, 0, 9}), 1, sim::FramingMode::Modbus);
  ASSERT_TRUE(answer.reply);
  EXPECT_EQ((*answer.reply)[0], 9);
  EXPECT_EQ(model.SlaveAddress(), 9);
}

}  // namespace
}  // namespace pyranex::test
