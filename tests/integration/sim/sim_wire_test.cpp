// The simulator seen from the wire: worked frames, framings, writes, recording.
#include <fstream>
#include <sstream>

#include "sim_fixture.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;

TEST_F(SimTest, ProbeReplyCarriesTheSlaveAddressInTheLowByte) {
  config.identity.addressRegister = 0x0107;
  Start();
  const Bytes reply = client->Exchange(Hex("FF 03 00 3C 00 01 51 D8"));
  ASSERT_EQ(reply.size(), 7u);
  EXPECT_TRUE(CrcOk(reply));
  EXPECT_EQ(reply[0], 0xFF);  // answered under the probe address
  EXPECT_EQ(reply[1], 0x03);
  EXPECT_EQ(reply[2], 2);
  EXPECT_EQ(Values(reply, 1), std::vector<uint16_t>{0x0107});
  EXPECT_EQ(sim->SlaveAddress(), 7);
}

TEST_F(SimTest, ModbusLivePollYieldsThirtyOneValues) {
  Start();
  const Bytes reply = client->Exchange(Hex("01 04 00 0A 00 1F 91 C0"));
  ASSERT_EQ(reply.size(), 1u + 2 + 62 + 2);
  EXPECT_TRUE(CrcOk(reply));
  EXPECT_EQ(reply[0], 0x01);
  EXPECT_EQ(reply[2], 62);
  const auto values = Values(reply, 1);
  ASSERT_EQ(values.size(), 31u);
  // At noon the inverter feeds in: plausible voltages, frequency and state.
  EXPECT_GT(values[11 - 11], 2500);  // DC voltage, tenths
  EXPECT_NEAR(values[15 - 11], 2300, 40);
  EXPECT_NEAR(values[21 - 11], 5000, 3);
  EXPECT_GT(values[23 - 11], 0);  // power (low word)
  EXPECT_EQ(values[41 - 11], 1);  // Inverting
}

TEST_F(SimTest, SerialBroadcastReturnsTheSerialNumberAndLivePollWorks) {
  config.framing = sim::FramingMode::Serial;
  Start();
  const Bytes reply = client->Exchange(Hex("99 99 99 99 99 99 04 9C 37 00 03 36 E7"));
  ASSERT_EQ(reply.size(), 6u + 2 + 6 + 2);
  EXPECT_TRUE(CrcOk(reply));
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 6), kBroadcast);
  EXPECT_EQ(Bytes(reply.begin() + 8, reply.begin() + 14), kSerialAddress);

  const Bytes live = client->Exchange(Hex("12 34 56 78 90 12 04 9C 41 00 1F 94 A0"));
  ASSERT_EQ(live.size(), 6u + 2 + 62 + 2);
  EXPECT_TRUE(CrcOk(live));
  EXPECT_EQ(Bytes(live.begin(), live.begin() + 6), kSerialAddress);
  EXPECT_EQ(Values(live, 6).size(), 31u);
}

struct FramingCase {
  const char* name;
  sim::FramingMode mode;
  bool answersProbe;
  bool answersBroadcast;
};

class FramingTest : public SimTest, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(FramingTest, AnswersOnlyTheFramingsItSpeaks) {
  config.framing = GetParam().mode;
  Start();
  // Waiting long for an answer that comes, briefly for one that must not.
  const auto limit = [](bool answers) { return answers ? 2000ms : 300ms; };
  const Bytes probe =
      client->Exchange(Hex("FF 03 00 3C 00 01 51 D8"), limit(GetParam().answersProbe));
  EXPECT_EQ(!probe.empty(), GetParam().answersProbe);
  const Bytes broadcast = client->Exchange(Hex("99 99 99 99 99 99 04 9C 37 00 03 36 E7"),
                                           limit(GetParam().answersBroadcast));
  EXPECT_EQ(!broadcast.empty(), GetParam().answersBroadcast);
  // Requests the inverter ignores are still recognised as requests.
  EXPECT_EQ(sim->Requests().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FramingTest,
    ::testing::Values(FramingCase{"modbus", sim::FramingMode::Modbus, true, false},
                      FramingCase{"serial", sim::FramingMode::Serial, false, true},
                      FramingCase{"both", sim::FramingMode::Both, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTest, OtherAddressesAreIgnored) {
  Start();
  EXPECT_TRUE(client->Exchange(ModbusRead(2, 11, 31), 300ms).empty());
  EXPECT_TRUE(client->Exchange(ModbusRead(0xFE, 11, 31), 300ms).empty());
  EXPECT_FALSE(client->Exchange(ModbusRead(1, 11, 31)).empty());
}

TEST_F(SimTest, AutoTestWorkedFrameIsEchoedInSerialFraming) {
  config.framing = sim::FramingMode::Serial;
  Start();
  const Bytes request = Hex("12 34 56 78 90 12 05 00 02 FF 00 76 DC");
  EXPECT_EQ(client->Exchange(request), request);
  EXPECT_EQ(sim->AutoTestCount(), 1u);
}

TEST_F(SimTest, GfciWorkedFrameIsAnsweredAndReadBackAsRegister74) {
  Start();
  ASSERT_FALSE(client->Exchange(ModbusWrite(1, 339, {0})).empty());
  EXPECT_EQ(Values(client->Exchange(ModbusRead(1, 74, 1)), 1), std::vector<uint16_t>{0});
  const Bytes reply = client->Exchange(Hex("01 10 00 26 00 01 02 00 01 60 96"));
  EXPECT_EQ(reply, WithCrc({0x01, 0x10, 0x00, 0x26, 0x00, 0x01}));
  EXPECT_EQ(Values(client->Exchange(ModbusRead(1, 74, 1)), 1), std::vector<uint16_t>{1});
}

struct Reflection {
  unsigned holding;
  uint16_t value;
  unsigned input;  // 0: read back only from the holding register itself
};

class WriteReflectionTest : public SimTest, public ::testing::WithParamInterface<Reflection> {};

TEST_P(WriteReflectionTest, WrittenParameterIsReadBack) {
  Start();
  const auto [holding, value, input] = GetParam();
  ASSERT_EQ(client->Exchange(ModbusWrite(1, holding, {value})),
            WithCrc({1, 0x10, Hi(holding - 301), Lo(holding - 301), 0, 1}));
  EXPECT_EQ(Values(client->Exchange(ModbusRead(1, holding, 1)), 1), std::vector<uint16_t>{value});
  if (input != 0) {
    EXPECT_EQ(Values(client->Exchange(ModbusRead(1, input, 1)), 1), std::vector<uint16_t>{value});
  }
}

INSTANTIATE_TEST_SUITE_P(Registers, WriteReflectionTest,
                         ::testing::Values(Reflection{311, 1600, 46},    // Vpv-start
                                           Reflection{312, 90, 47},      // T-start
                                           Reflection{321, 4750, 56},    // low frequency
                                           Reflection{328, 20, 63},      // last trip time
                                           Reflection{330, 2010, 65},    // DCI shift
                                           Reflection{332, 5, 67},       // contrast
                                           Reflection{338, 0x2020, 73},  // standard name end
                                           Reflection{340, 0, 75},       // ISO switch
                                           Reflection{359, 800, 81},     // full power limit
                                           Reflection{343, 0xFFF3, 0},   // an offset
                                           Reflection{357, 0, 0},        // island switch
                                           Reflection{358, 2, 0}));      // standard number

TEST_F(SimTest, ParameterBlockWriteOfTwentyThreeRegistersIsMirroredInOrder) {
  Start();
  std::vector<uint16_t> block;
  for (uint16_t i = 0; i < 23; ++i) block.push_back(static_cast<uint16_t>(1000 + i));
  ASSERT_EQ(client->Exchange(ModbusWrite(1, 311, block)), WithCrc({1, 0x10, 0, 10, 0, 23}));
  const auto values = Values(client->Exchange(ModbusRead(1, 42, 31)), 1);
  ASSERT_EQ(values.size(), 31u);
  for (unsigned i = 0; i < 23; ++i)
    EXPECT_EQ(values[46 - 42 + i], 1000 + i) << "register " << 46 + i;
}

TEST_F(SimTest, NewSlaveAddressAnswersTheWriteAndLaterRequests) {
  Start();
  // The program switches to the new address as it sends, so the reply must come from it.
  const Bytes reply = client->Exchange(ModbusWrite(1, 361, {0x0009}));
  EXPECT_EQ(reply, WithCrc({9, 0x10, 0, 60, 0, 1}));
  EXPECT_TRUE(client->Exchange(ModbusRead(1, 11, 31), 300ms).empty());
  EXPECT_EQ(Values(client->Exchange(ModbusRead(9, 11, 31)), 1).size(), 31u);
  EXPECT_EQ(Values(client->Exchange(Hex("FF 03 00 3C 00 01 51 D8")), 1),
            std::vector<uint16_t>{0x0009});
}

TEST_F(SimTest, NewSerialNumberBecomesTheSerialAddress) {
  config.framing = sim::FramingMode::Serial;
  Start();
  const Bytes newAddress = {0x21, 0x09, 0x87, 0x65, 0x43, 0x21};
  const Bytes reply = client->Exchange(SerialWrite(kSerialAddress, 301, {0x2109, 0x8765, 0x4321}));
  Bytes expected = newAddress;
  expected.insert(expected.end(), {0x10, 0x9C, 0xFF, 0x00, 0x03});
  EXPECT_EQ(reply, WithCrc(expected));
  EXPECT_EQ(sim->SerialNumber(), 210987654321u);
  EXPECT_TRUE(client->Exchange(SerialRead(kSerialAddress, 11, 31), 300ms).empty());
  EXPECT_EQ(Values(client->Exchange(SerialRead(newAddress, 11, 31)), 6).size(), 31u);
  EXPECT_EQ(Values(client->Exchange(SerialRead(kBroadcast, 1, 3)), 6),
            (std::vector<uint16_t>{0x2109, 0x8765, 0x4321}));
}

TEST_F(SimTest, ClearKwhCoilZeroesBothEnergyCounters) {
  Start();
  auto energy = Values(client->Exchange(ModbusRead(1, 24, 3)), 1);
  ASSERT_EQ(energy.size(), 3u);
  EXPECT_GT(energy[1] * 65536u + energy[2], 0u);
  const Bytes coil = ModbusCoil(1, 1);
  EXPECT_EQ(client->Exchange(coil), coil);
  energy = Values(client->Exchange(ModbusRead(1, 24, 3)), 1);
  EXPECT_EQ(energy, (std::vector<uint16_t>{0, 0, 0}));
}

struct ExceptionCase {
  const char* name;
  Bytes request;
  uint8_t function;
  uint8_t code;
};

class ExceptionTest : public SimTest, public ::testing::WithParamInterface<ExceptionCase> {};

TEST_P(ExceptionTest, BadRequestsGetExceptionReplies) {
  Start();
  EXPECT_EQ(client->Exchange(GetParam().request),
            WithCrc({1, static_cast<uint8_t>(GetParam().function | 0x80), GetParam().code}));
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ExceptionTest,
    ::testing::Values(ExceptionCase{"input82", WithCrc({1, 4, 0, 81, 0, 1}), 4, 2},
                      ExceptionCase{"inputsPast81", WithCrc({1, 4, 0, 75, 0, 10}), 4, 2},
                      ExceptionCase{"holding362", WithCrc({1, 3, 0, 61, 0, 1}), 3, 2},
                      ExceptionCase{"writePast361", ModbusWrite(1, 360, {1, 2, 3}), 16, 2},
                      ExceptionCase{"zeroCount", WithCrc({1, 4, 0, 10, 0, 0}), 4, 3},
                      ExceptionCase{"coil3", WithCrc({1, 5, 0, 2, 0xFF, 0}), 5, 2},
                      ExceptionCase{"coilValue", WithCrc({1, 5, 0, 0, 0x12, 0x34}), 5, 3},
                      ExceptionCase{"readCoils", WithCrc({1, 1, 0, 0, 0, 1}), 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTest, ResynchronisesAfterGarbageAndJoinsSplitFrames) {
  Start();
  Bytes noisy = {0x00, 0x01, 0x04, 0x55, 0x10, 0xFF};
  const Bytes poll = Hex("01 04 00 0A 00 1F 91 C0");
  noisy.insert(noisy.end(), poll.begin(), poll.end());
  EXPECT_EQ(Values(client->Exchange(noisy), 1).size(), 31u);

  // A request that arrives in two pieces, closer together than the inter-frame gap.
  ASSERT_TRUE(client->Send(Bytes(poll.begin(), poll.begin() + 3)));
  std::this_thread::sleep_for(5ms);
  EXPECT_EQ(Values(client->Exchange(Bytes(poll.begin() + 3, poll.end())), 1).size(), 31u);

  // A truncated request followed by silence is discarded; the next one is served.
  ASSERT_TRUE(client->Send(Bytes(poll.begin(), poll.begin() + 5)));
  EXPECT_TRUE(client->Receive(150ms).empty());
  EXPECT_EQ(Values(client->Exchange(poll), 1).size(), 31u);
  EXPECT_EQ(sim->Requests().size(), 3u);
}

TEST_F(SimTest, RecordsEveryRequestInMemoryAndInTheTextFile) {
  config.recordFile = Dir() / "traffic.txt";
  Start();
  const Bytes probe = Hex("FF 03 00 3C 00 01 51 D8");
  const Bytes poll = Hex("01 04 00 0A 00 1F 91 C0");
  const Bytes reply = client->Exchange(probe);
  client->Exchange(poll);
  client->Exchange({0x42});  // garbage: skipped, not a request
  client->Receive(100ms);
  EXPECT_EQ(sim->Requests(), (std::vector<Bytes>{probe, poll}));
  ASSERT_EQ(sim->Replies().size(), 2u);
  EXPECT_EQ(sim->Replies()[0], reply);
  sim->Stop();

  std::ifstream file(config.recordFile);
  std::stringstream text;
  text << file.rdbuf();
  const std::string record = text.str();
  EXPECT_NE(record.find(" RX FF 03 00 3C 00 01 51 D8\n"), std::string::npos) << record;
  EXPECT_NE(record.find(" TX FF 03 02 00 01 "), std::string::npos) << record;
  EXPECT_NE(record.find(" RX 01 04 00 0A 00 1F 91 C0\n"), std::string::npos) << record;
  EXPECT_NE(record.find(" SKIP 42"), std::string::npos) << record;
  // Lines start with the date and time.
  EXPECT_EQ(record.substr(4, 1), "-");
  EXPECT_EQ(record.substr(13, 1), ":");
}

TEST_F(SimTest, FirmwareDecidesThePowerScale) {
  for (uint16_t firmware : {uint16_t{500}, uint16_t{410}}) {
    config.identity.firmwareVersion = firmware;
    config.timeScale = 0;  // time stands still, so both reads see the same moment
    Start();
    const auto values = Values(client->Exchange(ModbusRead(1, 22, 2)), 1);
    ASSERT_EQ(values.size(), 2u);
    const uint32_t raw = values[0] * 65536u + values[1];
    const auto id = Values(client->Exchange(ModbusRead(1, 44, 2)), 1);
    EXPECT_EQ(id, (std::vector<uint16_t>{50, firmware}));
    // About 4.2 kW at noon from a 5 kW inverter: watts for V5.00, tenths of watts otherwise.
    const double watts = firmware == 500 ? raw : raw / 10.0;
    EXPECT_GT(watts, 3500) << firmware;
    EXPECT_LT(watts, 5000) << firmware;
    client.reset();
    sim->Stop();
  }
}

TEST_F(SimTest, StopRemovesTheLinkAndStartPutsItBack) {
  Start();
  EXPECT_TRUE(std::filesystem::is_symlink(sim->LinkPath()));
  EXPECT_EQ(std::filesystem::read_symlink(sim->LinkPath()), sim->SlavePath());
  client.reset();
  sim->Stop();
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(sim->LinkPath())));
  sim->Stop();  // twice is harmless
}

}  // namespace
}  // namespace pyranex::test
