// CInverterCom over the fake serial line: requests on the wire, bookkeeping, replies as messages.
#include "core/link/inverter_com.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <vector>

#include <unistd.h>

#include "core/platform/messages.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/fake_serial_device.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

using test::Eventually;

using Bytes = std::vector<uint8_t>;

Bytes WithCrc(Bytes frame) {
  const uint16_t crc = ModbusCrc16(frame);
  frame.push_back(crc & 0xFF);
  frame.push_back(crc >> 8);
  return frame;
}

std::vector<intptr_t> Values(const std::vector<PostedMessage>& messages) {
  std::vector<intptr_t> values;
  for (const auto& m : messages) {
    EXPECT_EQ(m.message, WM_INV_REGISTER);
    EXPECT_EQ(m.wParam, 0u);
    values.push_back(m.lParam);
  }
  return values;
}

class InverterComTest : public ::testing::Test {
 protected:
  void Open() {
    ASSERT_TRUE(com.InitPort(3));
    ASSERT_TRUE(com.StartMonitoring());
    // The worker empties the input when it starts; one round trip shows it is past that point.
    const uint8_t ping = 0;
    com.RequestWrite(std::span(&ping, 1));
    ASSERT_EQ(line.ReadRequest(), Bytes{0});
  }

  test::FakeClock clock;
  test::QueueSink sink;
  test::RecordingNotifier notifier;
  test::FakeSerialLine line;
  CInverterCom com{LinkContext{sink, clock, notifier, Paths{}, line.Factory()}};
};

TEST_F(InverterComTest, LivePollInModbusFramingPostsEveryRegisterInOrder) {
  Open();
  com.SetFraming(FramingModbus);
  com.SetAddressByte0(1);
  com.ReadRegisters(11, 31);
  EXPECT_EQ(line.ReadRequest(), (Bytes{0x01, 0x04, 0x00, 0x0A, 0x00, 0x1F, 0x91, 0xC0}));

  Bytes reply{0x01, 0x04, 62};
  std::vector<intptr_t> expected;
  for (int i = 0; i < 31; ++i) {
    const uint16_t value = static_cast<uint16_t>(0x1234 + i * 0x0101);
    reply.push_back(value >> 8);
    reply.push_back(value & 0xFF);
    expected.push_back(value);
  }
  clock.SetTick(777);
  ASSERT_TRUE(line.Send(WithCrc(reply)));
  ASSERT_TRUE(sink.WaitForCount(31));
  EXPECT_EQ(Values(sink.TakeAll()), expected);
  EXPECT_EQ(com.m_lastReplyTick.load(), 777u);
  EXPECT_EQ(notifier.Count(), 0u);
}

constexpr DeviceAddress kInverter{0x12, 0x34, 0x56, 0x78, 0x90, 0x12};

Bytes Frame(const RequestFrame& frame) {
  return Bytes(frame.View().begin(), frame.View().end());
}

struct BookkeepingCase {
  const char* name;
  std::function<void(CInverterCom&)> request;
  Bytes frame;
  uint32_t state;
  uint32_t expected;
  uint32_t delay;
  uint32_t firstRegister;  // 77 where the request must leave it alone
};

TEST_F(InverterComTest, EveryRequestLeavesItsBookkeepingAndFrame) {
  const uint16_t one = 1;
  const uint16_t zero = 0;
  const std::vector<uint16_t> pair{0x0102, 0x0304};
  const BookkeepingCase cases[] = {
      {"read input registers", [](CInverterCom& c) { c.ReadRegisters(11, 31); },
       Frame(BuildReadRequest(FramingSerial, kInverter, 11, 31)), ExchangeReadSent, 31, 800, 11},
      {"read holding registers", [](CInverterCom& c) { c.ReadRegisters(301, 23); },
       Frame(BuildReadRequest(FramingSerial, kInverter, 301, 23)), ExchangeReadSent, 23, 800, 301},
      {"write registers", [&](CInverterCom& c) { c.WriteRegisters(311, 2, pair); },
       Frame(BuildWriteRequest(FramingSerial, kInverter, 311, pair)), ExchangeWriteSent, 2, 1500,
       77},
      {"count beyond the values given is cut to them",
       [&](CInverterCom& c) { c.WriteRegisters(311, 9, pair); },
       Frame(BuildWriteRequest(FramingSerial, kInverter, 311, pair)), ExchangeWriteSent, 2, 1500,
       77},
      {"auto test",
       [](CInverterCom& c) { c.SendAutoTestCommand(); },
       {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x05, 0x00, 0x02, 0xFF, 0x00, 0x76, 0xDC},
       ExchangeCoilSent,
       2,
       400,
       77},
      {"clear kWh", [](CInverterCom& c) { c.SendClearKwhCommand(); },
       Frame(BuildCoilRequest(FramingSerial, kInverter, 1)), ExchangeWriteSent, 2, 400, 77},
      {"gfci on", [](CInverterCom& c) { c.SetGfciFunction(true); },
       Frame(BuildWriteRequest(FramingSerial, kInverter, 339, std::span(&one, 1))),
       ExchangeWriteSent, 2, 1500, 77},
      {"iso off", [](CInverterCom& c) { c.SetIsoFunction(false); },
       Frame(BuildWriteRequest(FramingSerial, kInverter, 340, std::span(&zero, 1))),
       ExchangeWriteSent, 2, 1500, 77},
      {"island test switch", [](CInverterCom& c) { c.SetIslandTestSwitch(true); },
       Frame(BuildWriteRequest(FramingSerial, kInverter, 357, std::span(&one, 1))),
       ExchangeWriteSent, 2, 1500, 77},
  };
  Open();
  uint32_t tick = 5000;
  for (const auto& c : cases) {
    com.SetAddress(kInverter);
    com.m_exchangeState = ExchangeIdle;
    com.m_expectedValues = 0;
    com.m_nextPollDelay = 200;
    com.m_firstRegister = 77;
    clock.SetTick(tick += 1000);
    c.request(com);
    EXPECT_EQ(com.m_exchangeState.load(), c.state) << c.name;
    EXPECT_EQ(com.m_expectedValues.load(), c.expected) << c.name;
    EXPECT_EQ(com.m_nextPollDelay.load(), c.delay) << c.name;
    EXPECT_EQ(com.m_firstRegister.load(), c.firstRegister) << c.name;
    EXPECT_EQ(com.m_lastSendTick.load(), tick) << c.name;
    EXPECT_EQ(line.ReadRequest(), c.frame) << c.name;
  }
}

TEST_F(InverterComTest, StartsIdleInSerialFramingWithBroadcastAddress) {
  EXPECT_EQ(com.m_exchangeState.load(), ExchangeIdle);
  EXPECT_EQ(com.m_expectedValues.load(), 0u);
  EXPECT_EQ(com.m_nextPollDelay.load(), 200u);
  EXPECT_EQ(com.m_firstRegister.load(), 0u);
  EXPECT_EQ(com.m_lastReplyTick.load(), 0u);
  EXPECT_EQ(com.m_lastSendTick.load(), 0u);
  EXPECT_FALSE(com.m_identifying.load());
  EXPECT_TRUE(com.m_firmwareVersion.empty());
  EXPECT_EQ(com.GetFraming(), FramingSerial);
  EXPECT_EQ(com.GetAddress(), kBroadcastAddress);
  EXPECT_TRUE(com.IsSerialKnown());
  EXPECT_EQ(com.ReceiveState(), 0u);
}

TEST_F(InverterComTest, ProbeReplyTeachesTheModbusAddressWhileIdentifying) {
  Open();
  com.SetFraming(FramingModbus);
  com.SetAddressByte0(kProbeAddress);
  com.m_identifying = true;
  com.ReadRegisters(361, 1);
  EXPECT_EQ(line.ReadRequest(), (Bytes{0xFF, 0x03, 0x00, 0x3C, 0x00, 0x01, 0x51, 0xD8}));
  ASSERT_TRUE(line.Send(WithCrc({0xFF, 0x03, 0x02, 0x01, 0x01})));
  ASSERT_TRUE(sink.WaitForCount(1));
  EXPECT_EQ(Values(sink.TakeAll()), std::vector<intptr_t>{0x0101});
  EXPECT_EQ(com.GetAddress()[0], 1);

  // Not identifying any more: a reply is taken without changing the address.
  com.m_identifying = false;
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x03, 0x02, 0x00, 0x07})));
  ASSERT_TRUE(sink.WaitForCount(1));
  EXPECT_EQ(com.GetAddress()[0], 1);
}

TEST_F(InverterComTest, ShortReplyWhileIdentifyingLeavesTheAddress) {
  Open();
  com.SetFraming(FramingModbus);
  com.SetAddressByte0(kProbeAddress);
  com.m_identifying = true;
  com.ReadRegisters(361, 1);
  ASSERT_FALSE(line.ReadRequest().empty());
  ASSERT_TRUE(line.Send(WithCrc({0xFF, 0x03, 0x00})));
  ASSERT_TRUE(line.Send(WithCrc({0xFF, 0x03, 0x02, 0x00, 0x05})));
  ASSERT_TRUE(sink.WaitForCount(1));
  EXPECT_EQ(Values(sink.TakeAll()), std::vector<intptr_t>{5});  // the empty reply posted nothing
  EXPECT_EQ(com.GetAddress()[0], 5);
}

TEST_F(InverterComTest, BroadcastReplyTeachesSerialNumberAndAddress) {
  Open();
  com.SetAddress(kInverter);
  com.ReadSerialNumberBroadcast();
  EXPECT_FALSE(com.IsSerialKnown());
  EXPECT_EQ(com.GetAddress(), kBroadcastAddress);
  EXPECT_EQ(line.ReadRequest(),
            (Bytes{0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x04, 0x9C, 0x37, 0x00, 0x03, 0x36, 0xE7}));
  EXPECT_EQ(com.m_firstRegister.load(), 1u);
  EXPECT_EQ(com.m_expectedValues.load(), 3u);

  ASSERT_TRUE(line.Send(WithCrc(
      {0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x04, 0x06, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12})));
  ASSERT_TRUE(sink.WaitForCount(3));
  EXPECT_EQ(Values(sink.TakeAll()), (std::vector<intptr_t>{0x1234, 0x5678, 0x9012}));
  EXPECT_TRUE(com.IsSerialKnown());
  EXPECT_EQ(com.GetSerialNumber(), (SerialBytes{0x12, 0x34, 0x56, 0x78, 0x90, 0x12}));
  EXPECT_EQ(com.GetAddress(), kInverter);
  EXPECT_EQ(com.GetSerialNumberText(), "123456789012");

  // Once known, another six-byte reply does not replace it.
  com.ReadRegisters(1, 3);
  ASSERT_FALSE(line.ReadRequest().empty());
  ASSERT_TRUE(
      line.Send(WithCrc({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x04, 0x06, 0, 0, 0, 0, 0, 1})));
  ASSERT_TRUE(sink.WaitForCount(3));
  EXPECT_EQ(com.GetSerialNumberText(), "123456789012");
}

TEST_F(InverterComTest, WhileUnknownAnySixByteReplyIsTakenAsSerialNumber) {
  Open();
  com.SetFraming(FramingModbus);
  com.SetAddressByte0(1);
  com.SetSerialKnown(false);
  com.ReadRegisters(11, 2);
  ASSERT_FALSE(line.ReadRequest().empty());
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x04, 0x04, 0x00, 0x01, 0x00, 0x02})));  // four bytes
  ASSERT_TRUE(sink.WaitForCount(2));
  EXPECT_FALSE(com.IsSerialKnown());
  com.ReadRegisters(11, 3);
  ASSERT_FALSE(line.ReadRequest().empty());
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x04, 0x06, 0xAB, 0x00, 0x00, 0x00, 0x00, 0x01})));
  ASSERT_TRUE(sink.WaitForCount(5));
  EXPECT_TRUE(com.IsSerialKnown());
  EXPECT_EQ(com.GetSerialNumberText(), ":;0000000001");
  EXPECT_EQ(com.GetAddress()[0], 1);  // Modbus framing keeps its slave address
}

TEST_F(InverterComTest, ShortAndOddRepliesPostWholeValuesOnly) {
  Open();
  com.SetFraming(FramingModbus);
  com.SetAddressByte0(1);
  com.ReadRegisters(301, 1);
  ASSERT_FALSE(line.ReadRequest().empty());
  clock.SetTick(100);
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x04, 0x01, 0x33})));
  clock.SetTick(200);
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x03, 0x03, 0x12, 0x34, 0x56})));
  ASSERT_TRUE(sink.WaitForCount(1));
  EXPECT_EQ(Values(sink.TakeAll()), std::vector<intptr_t>{0x1234});
  EXPECT_EQ(com.m_lastReplyTick.load(), 200u);

  const std::vector<uint16_t> three{1, 2, 3};
  com.WriteRegisters(311, 3, three);
  ASSERT_FALSE(line.ReadRequest().empty());
  clock.SetTick(300);
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x04, 0x00})));
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x10, 0x00, 0x0A, 0x00, 0x03})));  // write reply: 2 values
  ASSERT_TRUE(sink.WaitForCount(2));
  EXPECT_EQ(Values(sink.TakeAll()), (std::vector<intptr_t>{0x000A, 0x0003}));
  EXPECT_EQ(com.m_lastReplyTick.load(), 300u);
}

TEST_F(InverterComTest, BadCrcPostsNothingAndKeepsTheReplyTick) {
  Open();
  com.SetFraming(FramingModbus);
  com.SetAddressByte0(1);
  com.ReadRegisters(11, 1);
  ASSERT_FALSE(line.ReadRequest().empty());
  clock.SetTick(900);
  Bytes bad = WithCrc({0x01, 0x04, 0x02, 0x00, 0x01});
  bad.back() ^= 0xFF;
  ASSERT_TRUE(line.Send(bad));
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x04, 0x02, 0x00, 0x02})));
  ASSERT_TRUE(sink.WaitForCount(1));
  EXPECT_EQ(Values(sink.TakeAll()), std::vector<intptr_t>{2});
}

TEST_F(InverterComTest, WriteSerialNumberSendsBcdWordsAndAdoptsThemAtOnce) {
  Open();
  com.SetAddress(kBroadcastAddress);
  com.WriteSerialNumber(123456789012ULL);
  const std::vector<uint16_t> words{0x1234, 0x5678, 0x9012};
  EXPECT_EQ(line.ReadRequest(),
            Frame(BuildWriteRequest(FramingSerial, kBroadcastAddress, 301, words)));
  EXPECT_EQ(com.GetSerialNumberText(), "123456789012");
  EXPECT_EQ(com.GetAddress(), kInverter);

  com.SetFraming(FramingModbus);
  com.SetAddressByte0(7);
  com.WriteSerialNumber(999);
  EXPECT_EQ(com.GetSerialNumberText(), "000000000999");
  EXPECT_EQ(com.GetAddress()[0], 7);
  const Bytes frame = line.ReadRequest();
  ASSERT_EQ(frame.size(), 15u);
  EXPECT_EQ((Bytes{frame.begin(), frame.begin() + 13}),
            (Bytes{0x07, 0x10, 0x00, 0x00, 0x00, 0x03, 0x06, 0x00, 0x00, 0x00, 0x00, 0x09, 0x99}));
}

TEST_F(InverterComTest, ResetReceiverFreesAStuckFrameBeforeTheNextByte) {
  Open();
  com.SetFraming(FramingModbus);
  com.SetAddressByte0(1);
  com.ReadRegisters(11, 1);
  ASSERT_FALSE(line.ReadRequest().empty());
  ASSERT_TRUE(line.Send({0x01, 0x04, 0x3E, 0x00}));
  ASSERT_TRUE(Eventually([&] { return com.ReceiveState() == 2; }));
  com.ResetReceiver();
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x04, 0x02, 0x00, 0x2A})));
  ASSERT_TRUE(sink.WaitForCount(1));
  EXPECT_EQ(Values(sink.TakeAll()), std::vector<intptr_t>{42});
}

TEST_F(InverterComTest, CommLogGoesToBackdataBesideTheExecutable) {
  const auto exeDir =
      std::filesystem::temp_directory_path() / ("pyranex-com-log-" + std::to_string(::getpid()));
  std::filesystem::remove_all(exeDir);
  std::filesystem::create_directories(exeDir);
  test::FakeClock logClock{1322136610};  // 2011-11-24 12:10:10
  {
    CInverterCom logged{
        LinkContext{sink, logClock, notifier, Paths{exeDir, exeDir}, line.Factory()}};
    ASSERT_TRUE(logged.InitPort(1));
    ASSERT_TRUE(logged.StartMonitoring());
    logged.SetFraming(FramingModbus);
    logged.SetAddressByte0(1);
    logged.ReadRegisters(11, 31);
    ASSERT_FALSE(line.ReadRequest().empty());
    ASSERT_TRUE(line.Send({0x01, 0x04, 0x3E}));
    ASSERT_TRUE(Eventually([&] { return logged.ReceiveState() == 2; }));
    logged.WriteCommLog(2);
  }
  std::ifstream in(exeDir / "backdata" / "2011-11-24 12-10-10-e2.txt", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::string tail;
  for (const char c : std::string("\r\n2011-11-24 12-10-10 Send:1 4 0 a 0 1f 91 c0 "
                                  "\r\n2011-11-24 12-10-10 Recv:1 4 3e ")) {
    tail.push_back(c);
    tail.push_back('\0');
  }
  ASSERT_GE(bytes.size(), tail.size());
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
  std::filesystem::remove_all(exeDir);
}

struct AnswerCase {
  const char* name;
  RequestShape request;
  uint8_t function;
  uint32_t byteCount;
  Bytes data;
  bool answers;
};

TEST(AnswersRequestTest, OnlyTheAnswerToTheRequestInFlightIsTaken) {
  const RequestShape live{4, 10, 31};
  const RequestShape probe{3, 60, 1};
  const RequestShape write{16, 10, 3};
  const RequestShape coil{5, 1, 0xFF00};
  const Bytes two{0x00, 0x01};
  const AnswerCase cases[] = {
      {"nothing asked yet", {}, 4, 2, two, false},
      {"live record", live, 4, 62, Bytes(62), true},
      {"odd last byte ignored", live, 4, 63, Bytes(63), true},
      {"one value short", live, 4, 60, Bytes(60), false},
      {"one value more", live, 4, 64, Bytes(64), false},
      {"other function", live, 3, 62, Bytes(62), false},
      {"probe", probe, 3, 2, two, true},
      {"empty reply to the probe", probe, 3, 0, {}, false},
      {"write echo", write, 16, 4, {0x00, 0x0A, 0x00, 0x03}, true},
      {"write echo of another address", write, 16, 4, {0x00, 0x0B, 0x00, 0x03}, false},
      {"coil echo", coil, 5, 4, {0x00, 0x01, 0xFF, 0x00}, true},
      {"coil echo of the other coil", coil, 5, 4, {0x00, 0x00, 0xFF, 0x00}, false},
      {"read reply to a write", write, 4, 6, Bytes(6), false},
  };
  for (const auto& c : cases) {
    AcceptedFrame reply;
    reply.function = c.function;
    reply.byteCount = c.byteCount;
    reply.data = c.data;
    EXPECT_EQ(AnswersRequest(c.request, reply), c.answers) << c.name;
  }
}

TEST(AnswersRequestTest, ShapeIsReadFromTheFrameInEitherFraming) {
  const RequestShape serial =
      ShapeOfRequest(BuildReadRequest(FramingSerial, kInverter, 11, 31).View(), 6);
  EXPECT_EQ(serial.function, 4);
  EXPECT_EQ(serial.address, 40001);
  EXPECT_EQ(serial.quantity, 31);
  const RequestShape modbus = ShapeOfRequest(BuildCoilRequest(FramingModbus, {1}, 2).View(), 1);
  EXPECT_EQ(modbus.function, 5);
  EXPECT_EQ(modbus.address, 1);
}

TEST_F(InverterComTest, AnswerToAnEarlierRequestIsNotTaken) {
  Open();
  com.SetFraming(FramingModbus);
  com.SetAddressByte0(1);
  com.ReadRegisters(44, 2);
  ASSERT_FALSE(line.ReadRequest().empty());
  com.ReadRegisters(11, 31);
  ASSERT_FALSE(line.ReadRequest().empty());
  // The late answer to the (44, 2) read arrives first: not the live record's values.
  ASSERT_TRUE(line.Send(WithCrc({0x01, 0x04, 0x04, 0x00, 0x32, 0x01, 0xF4})));
  Bytes live{0x01, 0x04, 62};
  live.resize(3 + 62, 0x11);
  ASSERT_TRUE(line.Send(WithCrc(live)));
  ASSERT_TRUE(sink.WaitForCount(31));
  const auto values = Values(sink.TakeAll());
  ASSERT_EQ(values.size(), 31u);
  EXPECT_EQ(values.front(), 0x1111);
}

}  // namespace
}  // namespace pyranex
