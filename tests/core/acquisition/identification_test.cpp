// Connect and identification over the scripted line, the test playing both threads.

#include <gtest/gtest.h>

#include "core/acquisition/engine_harness.h"
#include "support/eventually.h"

namespace pyranex::test {
namespace {

using IdentificationTest = EngineTest;

TEST_F(IdentificationTest, PortThatDoesNotOpenStartsNothing) {
  line.SetOpenFails(true);
  EXPECT_FALSE(engine().OnComSetting(kPort));
  EXPECT_FALSE(engine().m_portOpen.load());
  EXPECT_FALSE(engine().IsPollThreadRunning());
  Tick(5000);
  EXPECT_TRUE(notifier.Texts().empty());
  EXPECT_EQ(sink.Size(), 0u);
}

TEST_F(IdentificationTest, ModbusSlaveAnswersTheProbe) {
  IdentifyModbus();
  CInverterCom& com = engine().Link();
  EXPECT_FALSE(com.m_identifying.load());
  EXPECT_EQ(com.GetFraming(), FramingModbus);
  EXPECT_EQ(com.GetAddress()[0], 0x01);
  EXPECT_EQ(com.GetSerialNumberText(), "123456789012");
  EXPECT_EQ(com.m_exchangeState.load(), ExchangeIdle);
  EXPECT_EQ(engine().m_pollMode.load(), 0u);  // the serial number reply is no data cycle
  EXPECT_FALSE(engine().m_skipCycleEnd.load());
  EXPECT_TRUE(display.points.empty());
}

TEST_F(IdentificationTest, SerialFramingFallbackAfterTwoSeconds) {
  ASSERT_TRUE(engine().OnComSetting(kPort));
  ExpectRequest(kProbe);
  Tick(2000);  // not yet: more than 2000 ms must pass
  EXPECT_TRUE(NothingSent());
  Tick(1);
  ExpectRequest(kBroadcast);
  EXPECT_TRUE(engine().m_skipCycleEnd.load());
  EXPECT_EQ(engine().Link().GetFraming(), FramingSerial);

  line.Send(ReadReply(kBroadcastAddress6, {0x1234, 0x5678, 0x9012}));
  ReceiveAndPump(3);
  // The version read goes to the learned six-byte address.
  ExpectRequest(WithCrc({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x04, 0x9C, 0x63, 0x00, 0x01}));
  EXPECT_TRUE(engine().m_versionPending);
  EXPECT_FALSE(engine().m_skipCycleEnd.load());
  line.Send(ReadReply(kSerialAddress, {500}));
  ReceiveAndPump(1);

  CInverterCom& com = engine().Link();
  EXPECT_EQ(com.m_firmwareVersion, "V5.00");
  EXPECT_FALSE(com.m_identifying.load());
  EXPECT_EQ(com.m_exchangeState.load(), ExchangeIdle);
  EXPECT_EQ(engine().m_identifyCount, 0u);

  ModelPoll(kSerialAddress, 50);
  LiveCycle(kSerialAddress, LiveRegisters{});
  EXPECT_EQ(display.points.size(), 1u);
}

TEST_F(IdentificationTest, NoInverterGetsOneBroadcastThenSilenceAndNoBox) {
  ASSERT_TRUE(engine().OnComSetting(kPort));
  ExpectRequest(kProbe);
  Tick(2001);
  ExpectRequest(kBroadcast);
  for (int i = 0; i < 50; ++i) Tick(2001);  // well past three time-outs
  EXPECT_TRUE(NothingSent());
  Pump();
  EXPECT_TRUE(notifier.Texts().empty());
  EXPECT_TRUE(LogFiles().empty());
  EXPECT_TRUE(engine().Link().m_identifying.load());
}

TEST_F(IdentificationTest, ReconnectingRestartsIdentificationAndKeepsThePollMode) {
  IdentifyModbus();
  ModelPoll(kModbusAddress, 50);
  LiveCycle(kModbusAddress, LiveRegisters{});
  ASSERT_EQ(engine().m_pollMode.load(), 1u);

  ASSERT_TRUE(engine().OnComSetting(kPort));
  EXPECT_EQ(line.Opens(), 2);
  ExpectRequest(kProbe);
  EXPECT_TRUE(engine().Link().m_identifying.load());
  line.Send(ReadReply({0xFF}, {0x0101}, 0x03));
  ReceiveAndPump(1);
  ExpectRequest(WithCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x03}));
  line.Send(ReadReply(kModbusAddress, {0x1234, 0x5678, 0x9012}));
  ReceiveAndPump(3);
  // The model poll ran once per program run: the live record comes at once.
  LiveCycle(kModbusAddress, LiveRegisters{});
  EXPECT_EQ(display.points.size(), 2u);
}

TEST_F(IdentificationTest, SerialReconnectionCountsIdentificationFromZero) {
  ASSERT_TRUE(engine().OnComSetting(kPort));
  ExpectRequest(kProbe);
  Tick(2001);
  ExpectRequest(kBroadcast);
  // Connect again after two of the three values were handled; the third is not.
  line.Send(ReadReply(kBroadcastAddress6, {0x1234, 0x5678, 0x9012}));
  ASSERT_TRUE(sink.WaitForCount(3));
  for (int i = 0; i < 2; ++i) engine().HandleMessage(*sink.Take());
  sink.TakeAll();
  EXPECT_EQ(engine().m_identifyCount, 2u);

  ASSERT_TRUE(engine().OnComSetting(kPort));
  ExpectRequest(kProbe);
  Tick(2001);
  ExpectRequest(kBroadcast);
  line.Send(ReadReply(kBroadcastAddress6, {0x1234, 0x5678, 0x9012}));
  ReceiveAndPump(3);
  ExpectRequest(WithCrc({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x04, 0x9C, 0x63, 0x00, 0x01}));
  // Counted on from the earlier connection, the first value would have ended the count and the
  // next one would have been taken as the firmware version.
  EXPECT_TRUE(engine().m_versionPending);
  EXPECT_EQ(engine().Link().m_firmwareVersion, "");
}

// A live reply of a serial-framing inverter is still queued (the interface thread was busy) when
// the link starts again: by "Com..." or by the reopen after a lost device. Its values belong to
// the old connection and are never taken as the new probe's reply.
TEST_F(IdentificationTest, ValuesLeftInTheQueueByTheOldConnectionAreDropped) {
  const struct {
    const char* name;
    bool manual;
    Bytes firstRequest;
  } cases[] = {{"Com...", true, kProbe}, {"reopen after a loss", false, kBroadcast}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MakeEngine();
    sink.TakeAll();
    display.points.clear();
    IdentifySerial(300);
    ModelPoll(kSerialAddress, 50);
    LiveCycle(kSerialAddress, LiveRegisters{});
    ASSERT_EQ(display.points.size(), 1u);
    Tick(900);
    ExpectRequest(kLivePollSerial);
    line.Send(ReadReply(kSerialAddress, LiveRegisters{}.Values()));
    ASSERT_TRUE(sink.WaitForCount(31));

    if (c.manual) {
      ASSERT_TRUE(engine().OnComSetting(kPort));
    } else {
      line.HangUp();
      ASSERT_TRUE(Eventually([&] { return engine().Link().IsLost(); }));
      Tick(200);   // closes the lost port
      Tick(1000);  // reopens it
    }
    ExpectRequest(c.firstRequest);
    Pump();
    const LinkStatus status = engine().GetLinkStatus();
    EXPECT_EQ(status.condition, LinkCondition::Identifying) << FormatLinkStatus(status, clock);
    EXPECT_TRUE(NothingSent()) << "an old value was taken as a reply";
    EXPECT_EQ(display.points.size(), 1u) << "a chart point from old values";

    // The inverter answers the new connection in its own framing.
    if (c.manual) {
      Tick(2001);
      ExpectRequest(kBroadcast);
    }
    line.Send(ReadReply(kBroadcastAddress6, {0x1234, 0x5678, 0x9012}));
    ReceiveAndPump(3);
    ExpectRequest(WithCrc({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x04, 0x9C, 0x63, 0x00, 0x01}));
    line.Send(ReadReply(kSerialAddress, {300}));
    ReceiveAndPump(1);
    EXPECT_FALSE(engine().Link().m_identifying.load());
    EXPECT_EQ(engine().Link().GetFraming(), FramingSerial);
    LiveCycle(kSerialAddress, LiveRegisters{});
    EXPECT_EQ(display.points.size(), 2u);
  }
}

TEST_F(IdentificationTest, ModelPollOnceThenTheLiveRecord) {
  IdentifyModbus();
  ModelPoll(kModbusAddress, 50, 420);
  EXPECT_EQ(engine().m_ratedPower, 50);
  EXPECT_EQ(engine().m_pollMode.load(), 1u);
  EXPECT_TRUE(display.points.empty()) << "the model reply updates nothing";
  EXPECT_TRUE(display.powerTexts.empty());
  EXPECT_EQ(engine().Store().VersionRegister(), 420);
  // Register 45 of the model poll gives the firmware text in the Modbus framing too.
  EXPECT_EQ(engine().Link().m_firmwareVersion, "V4.20");

  LiveRegisters record;
  record.pac = 15000;
  LiveCycle(kModbusAddress, record);
  ASSERT_EQ(display.points.size(), 1u);
  EXPECT_FLOAT_EQ(display.points[0].value, 1500.0f);
  ASSERT_EQ(display.yRanges.size(), 1u);
  EXPECT_EQ(display.yRanges[0], std::make_pair(0.0, 5880.0));
  LiveCycle(kModbusAddress, record);
  EXPECT_EQ(display.points.size(), 2u);
  EXPECT_EQ(display.yRanges.size(), 1u) << "the axis is set once per day log";
}

TEST_F(IdentificationTest, FirmwareV500SwitchesThePowerScaling) {
  IdentifySerial(500);
  ModelPoll(kSerialAddress, 30, 500);
  LiveRegisters record;
  record.pac = 1500;
  LiveCycle(kSerialAddress, record);
  ASSERT_EQ(display.points.size(), 1u);
  EXPECT_FLOAT_EQ(display.points[0].value, 1500.0f);
  EXPECT_EQ(display.powerTexts.back(), "Power  1500.0 W");
  EXPECT_EQ(display.percents.back(), 53);  // of 2800 W
  EXPECT_EQ(display.yRanges.at(0), std::make_pair(0.0, 3600.0));
}

TEST_F(IdentificationTest, ModbusFramingLearnsTheFirmwareFromTheModelPoll) {
  struct Case {
    uint16_t version;
    const char* text;
    float shown;
  };
  for (const Case& c : {Case{500, "V5.00", 15000.0f}, Case{499, "V4.99", 1500.0f}}) {
    MakeEngine();
    display = RecordingDisplay{};
    IdentifyModbus();
    EXPECT_EQ(engine().Link().m_firmwareVersion, "");
    ModelPoll(kModbusAddress, 50, c.version);
    EXPECT_EQ(engine().Link().m_firmwareVersion, c.text);
    LiveRegisters record;
    record.pac = 15000;
    LiveCycle(kModbusAddress, record);
    EXPECT_FLOAT_EQ(display.points.at(0).value, c.shown) << c.text;
  }
}

TEST_F(IdentificationTest, OtherFirmwareDividesThePower) {
  IdentifySerial(501);
  EXPECT_EQ(engine().Link().m_firmwareVersion, "V5.01");
  ModelPoll(kSerialAddress, 28, 501);
  LiveRegisters record;
  record.pac = 1500;
  LiveCycle(kSerialAddress, record);
  EXPECT_FLOAT_EQ(display.points.at(0).value, 150.0f);
  EXPECT_EQ(display.yRanges.at(0), std::make_pair(0.0, 3360.0));
}

}  // namespace
}  // namespace pyranex::test
