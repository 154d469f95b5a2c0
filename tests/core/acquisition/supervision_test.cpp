// Misses, the time-out notice, the stuck receiver and the lost device.

#include <gtest/gtest.h>

#include "core/acquisition/engine_harness.h"
#include "support/eventually.h"

namespace pyranex::test {
namespace {

class SupervisionTest : public EngineTest {
 protected:
  // Identified, model polled, one live cycle done, the next live poll sent and unanswered.
  void PollingWithOutstandingRequest() {
    IdentifyModbus();
    ModelPoll(kModbusAddress, 50);
    LiveCycle(kModbusAddress, LiveRegisters{});
    Tick(900);
    ExpectRequest(kLivePollModbus);
  }
  void MissAndExpectResend() {
    Tick(2001);
    ExpectRequest(kLivePollModbus);
  }
  // Waits until the worker has taken the bytes sent so far.
  bool WaitForReceiveState(uint32_t state) {
    for (int i = 0; i < 500; ++i) {
      if (engine().Link().ReceiveState() == state) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // A reply that stops inside its data, taken in by the worker before this returns.
  void SendStuckFrame() {
    // The worker records its write just after making it: wait for the request's own slot.
    for (int i = 0; i < 500 && NewestSlotReceived() != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(NewestSlotReceived(), 0u);
    line.Send({0x01, 0x04, 0x3E, 0x00, 0x01});
    ASSERT_TRUE(WaitForReceiveState(2));
    for (int i = 0; i < 500 && NewestSlotReceived() < 5; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(NewestSlotReceived(), 5u);
  }
  size_t NewestSlotReceived() {
    const TrafficSnapshot ring = engine().Link().SnapshotRing();
    return ring.slots[static_cast<size_t>((ring.nextSlot + kRingSlots - 1) % kRingSlots)]
        .received.size();
  }
  bool WaitForLost() {
    for (int i = 0; i < 500; ++i) {
      if (engine().Link().IsLost()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  size_t TimeoutsPosted() {
    size_t n = 0;
    for (const auto& m : sink.TakeAll()) n += m.message == WM_INV_TIMEOUT && m.lParam == 1;
    return n;
  }
};

TEST_F(SupervisionTest, ThreeMissesGiveOneBoxAndOneLogFile) {
  PollingWithOutstandingRequest();
  Tick(1999);
  EXPECT_TRUE(NothingSent()) << "no resend before 2000 ms";
  Tick(2);
  ExpectRequest(kLivePollModbus);
  EXPECT_EQ(engine().m_missCount.load(), 1u);
  MissAndExpectResend();
  EXPECT_EQ(sink.Size(), 0u);
  MissAndExpectResend();
  ASSERT_EQ(sink.Size(), 1u);
  EXPECT_EQ(engine().m_missCount.load(), 0u);
  Pump();
  EXPECT_EQ(notifier.CountOf(kCommTimeoutText), 1u);
  EXPECT_EQ(LogFilesWithCode(1), 1u);
  EXPECT_EQ(LogFiles().size(), 1u);
  EXPECT_FALSE(engine().m_timeoutBoxShown.load());
}

TEST_F(SupervisionTest, WhileTheBoxIsOpenFurtherTimeOutsNeitherLogNorShow) {
  PollingWithOutstandingRequest();
  for (int i = 0; i < 3; ++i) MissAndExpectResend();
  notifier.WhileShown(kCommTimeoutText, [this] {
    EXPECT_TRUE(engine().m_timeoutBoxShown.load());
    clock.Advance(1000);  // a later file name, were one written
    for (int i = 0; i < 6; ++i) MissAndExpectResend();
    EXPECT_EQ(sink.Size(), 2u);
    Pump();  // the box's own message loop
  });
  Pump();
  EXPECT_EQ(notifier.CountOf(kCommTimeoutText), 1u);
  EXPECT_EQ(LogFilesWithCode(1), 1u);
  // Closed again, the next time-out is shown.
  for (int i = 0; i < 3; ++i) MissAndExpectResend();
  clock.Advance(1000);
  Pump();
  EXPECT_EQ(notifier.CountOf(kCommTimeoutText), 2u);
  EXPECT_EQ(LogFilesWithCode(1), 2u);
}

TEST_F(SupervisionTest, ReceiverStuckInsideAFrameIsClosedAndReopened) {
  PollingWithOutstandingRequest();
  // Every request is answered by a reply that stops inside its data.
  for (int miss = 0; miss < 2; ++miss) {
    SendStuckFrame();
    MissAndExpectResend();
  }
  SendStuckFrame();
  EXPECT_EQ(line.Opens(), 1);
  Tick(2001);
  EXPECT_EQ(line.Opens(), 2);
  ExpectRequest(kLivePollModbus);  // on the reopened port
  EXPECT_EQ(LogFilesWithCode(2), 1u);
  EXPECT_EQ(LogFilesWithCode(3), 0u);
  EXPECT_EQ(TimeoutsPosted(), 1u);
  EXPECT_TRUE(engine().Link().IsOpen());
  EXPECT_TRUE(engine().Link().IsWorkerAlive());
  // The link works again.
  line.Send(ReadReply(kModbusAddress, LiveRegisters{}.Values()));
  ReceiveAndPump(31);
  EXPECT_EQ(display.points.size(), 2u);
}

TEST_F(SupervisionTest, OnePartialFrameThenSilenceIsAnOrdinaryTimeOut) {
  PollingWithOutstandingRequest();
  SendStuckFrame();  // the first miss resets the receiver; nothing arrives after that
  for (int miss = 0; miss < 3; ++miss) MissAndExpectResend();
  EXPECT_EQ(TimeoutsPosted(), 1u);
  EXPECT_EQ(LogFilesWithCode(2), 0u);
  EXPECT_EQ(line.Opens(), 1) << "the port is not reopened";
}

TEST_F(SupervisionTest, FailedReopeningIsLoggedAndRetriedOnceASecond) {
  PollingWithOutstandingRequest();
  for (int miss = 0; miss < 2; ++miss) {
    SendStuckFrame();
    MissAndExpectResend();
  }
  SendStuckFrame();
  line.SetOpenFails(true);
  Tick(2001);
  EXPECT_EQ(LogFilesWithCode(2), 1u);
  EXPECT_EQ(LogFilesWithCode(3), 1u);
  EXPECT_FALSE(engine().Link().IsOpen());
  EXPECT_TRUE(engine().m_portOpen.load());

  line.SetOpenFails(false);
  Tick(500);
  EXPECT_EQ(line.Opens(), 1) << "not before a second has passed";
  Tick(600);
  EXPECT_EQ(line.Opens(), 2);
  ExpectRequest(kProbe);  // back: identified afresh
  EXPECT_EQ(LogFilesWithCode(3), 1u);
}

TEST_F(SupervisionTest, ReplyAfterTwoSecondsButBeforeTheResendCounts) {
  PollingWithOutstandingRequest();
  MissAndExpectResend();
  MissAndExpectResend();
  ASSERT_EQ(engine().m_missCount.load(), 2u);
  clock.Advance(2100);  // past the time-out, but the tick has not come yet
  line.Send(ReadReply(kModbusAddress, LiveRegisters{}.Values()));
  ReceiveAndPump(31);
  Tick(50);
  EXPECT_EQ(engine().m_missCount.load(), 0u);
  EXPECT_EQ(sink.Size(), 0u) << "no time-out notice";
  EXPECT_EQ(display.points.size(), 2u);
}

TEST_F(SupervisionTest, CutShortReplyIsAMissAndThePollGoesOn) {
  PollingWithOutstandingRequest();
  std::vector<uint16_t> values = LiveRegisters{}.Values();
  values.resize(10);  // registers 11 to 20 only: no answer to a read of 31
  line.Send(ReadReply(kModbusAddress, values));
  EXPECT_FALSE(sink.WaitForCount(1, std::chrono::milliseconds(200)));
  EXPECT_NE(engine().Link().m_exchangeState.load(), ExchangeIdle);

  Tick(2000);
  EXPECT_TRUE(NothingSent());
  Tick(1);
  ExpectRequest(kLivePollModbus);
  EXPECT_EQ(engine().m_missCount.load(), 1u);

  LiveRegisters record;
  record.pac = 22220;
  line.Send(ReadReply(kModbusAddress, record.Values()));
  ReceiveAndPump(31);
  ASSERT_EQ(display.points.size(), 2u);
  EXPECT_FLOAT_EQ(display.points[1].value, 2222.0f) << "counted from the new request's start";
  const DayLog& log = engine().GetDayLog();
  EXPECT_EQ(log.udc.size(), 2u);
  EXPECT_EQ(log.uac.size(), 2u);
  EXPECT_EQ(log.CompleteCount(), 2u);
  EXPECT_EQ(notifier.CountOf(kLengthMismatchText), 0u);
}

TEST_F(SupervisionTest, ReplyWaitingForABusyInterfaceThreadIsNoMiss) {
  PollingWithOutstandingRequest();
  line.Send(ReadReply(kModbusAddress, LiveRegisters{}.Values()));
  ASSERT_TRUE(sink.WaitForCount(31));
  for (int i = 0; i < 5; ++i) Tick(2001);  // the interface thread is busy, e.g. saving
  EXPECT_TRUE(NothingSent());
  EXPECT_EQ(engine().m_missCount.load(), 0u);
  Pump();
  EXPECT_EQ(display.points.size(), 2u);
  EXPECT_EQ(sink.Size(), 0u);
  Tick(10);
  ExpectRequest(kLivePollModbus);
}

TEST_F(SupervisionTest, UnattendedGivesOneNoticeAndOneLogPerSilence) {
  unattended = true;
  MakeEngine();
  PollingWithOutstandingRequest();
  for (int i = 0; i < 9; ++i) MissAndExpectResend();  // three time-outs of a silent night
  EXPECT_EQ(TimeoutsPosted(), 3u);
  for (int i = 0; i < 3; ++i) {
    clock.Advance(6000);
    engine().OnCommTimeout();
  }
  EXPECT_EQ(notifier.CountOf(kCommTimeoutText), 1u);
  EXPECT_EQ(LogFilesWithCode(1), 1u);

  line.Send(ReadReply(kModbusAddress, LiveRegisters{}.Values()));  // morning
  ReceiveAndPump(31);
  clock.Advance(6000);
  engine().OnCommTimeout();
  EXPECT_EQ(notifier.CountOf(kCommTimeoutText), 2u) << "a new silence is told again";
  EXPECT_EQ(LogFilesWithCode(1), 2u);
}

TEST_F(SupervisionTest, RequestSentJustAfterTheTickReadTheClockIsFresh) {
  PollingWithOutstandingRequest();
  line.Send(ReadReply(kModbusAddress, LiveRegisters{}.Values()));
  ReceiveAndPump(31);
  // The interface thread sends (the serial-number read of an identification, say) with a tick
  // a little ahead of the one the poll thread is about to see.
  CInverterCom& com = engine().Link();
  com.m_exchangeState = ExchangeReadSent;
  com.m_lastSendTick = clock.TickCount() + 5;
  for (int i = 0; i < 3; ++i) engine().PollTick();
  EXPECT_EQ(engine().m_missCount.load(), 0u);
  EXPECT_TRUE(NothingSent());
  EXPECT_EQ(engine().GetLinkStatus().condition, LinkCondition::Connected);
  Tick(2006);
  EXPECT_EQ(engine().m_missCount.load(), 1u) << "a real miss still counts";
  EXPECT_EQ(engine().GetLinkStatus().condition, LinkCondition::NoReply);
}

struct LostDeviceCase {
  const char* name;
  Framing framing;       // the framing the inverter spoke before it was lost
  bool firstUnanswered;  // the first request after the return goes unanswered (still starting)
};

class LostDeviceTest : public SupervisionTest,
                       public ::testing::WithParamInterface<LostDeviceCase> {
 protected:
  const Bytes& Address() const {
    return GetParam().framing == FramingModbus ? kModbusAddress : kSerialAddress;
  }
  const Bytes& FirstRequest() const {
    return GetParam().framing == FramingModbus ? kProbe : kBroadcast;
  }
  const Bytes& OtherRequest() const {
    return GetParam().framing == FramingModbus ? kBroadcast : kProbe;
  }
  // Answers the identification request just read, in the case's framing, to the end.
  void AnswerIdentification() {
    if (GetParam().framing == FramingModbus) {
      line.Send(ReadReply({0xFF}, {0x0101}, 0x03));
      ReceiveAndPump(1);
      ExpectRequest(WithCrc({0x01, 0x04, 0x00, 0x00, 0x00, 0x03}));
      line.Send(ReadReply(kModbusAddress, {0x1234, 0x5678, 0x9012}));
      ReceiveAndPump(3);
    } else {
      line.Send(ReadReply(kBroadcastAddress6, {0x1234, 0x5678, 0x9012}));
      ReceiveAndPump(3);
      ExpectRequest(WithCrc({0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x04, 0x9C, 0x63, 0x00, 0x01}));
      line.Send(ReadReply(kSerialAddress, {300}));
      ReceiveAndPump(1);
    }
  }
  size_t LostBoxes() const {
    size_t n = 0;
    for (const auto& t : notifier.Texts()) n += t.rfind("WARNING:  ReadFile()", 0) == 0;
    return n;
  }
  LinkCondition Condition() { return engine().GetLinkStatus().condition; }
};

TEST_P(LostDeviceTest, OneBoxOneLogThenReopenedAndIdentifiedInTheFramingFoundBefore) {
  if (GetParam().framing == FramingModbus) {
    IdentifyModbus();
  } else {
    IdentifySerial(300);
  }
  ModelPoll(Address(), 50);
  LiveCycle(Address(), LiveRegisters{});
  EXPECT_EQ(Condition(), LinkCondition::Connected);
  Tick(900);
  ASSERT_FALSE(line.ReadRequest().empty());

  line.SetOpenFails(true);  // the device node is gone
  line.HangUp();
  ASSERT_TRUE(WaitForLost());
  EXPECT_EQ(Condition(), LinkCondition::Lost);
  Tick(200);
  EXPECT_FALSE(engine().Link().IsOpen());
  for (int i = 0; i < 10; ++i) Tick(1000);  // retried, still absent
  EXPECT_EQ(line.Opens(), 1);
  EXPECT_EQ(Condition(), LinkCondition::Lost);
  EXPECT_EQ(LogFilesWithCode(kLostDeviceLogCode), 1u);
  EXPECT_EQ(LogFiles().size(), 1u);
  ASSERT_TRUE(Eventually([&] { return LostBoxes() == 1; }));

  line.SetOpenFails(false);
  Tick(999);
  EXPECT_EQ(line.Opens(), 1);
  Tick(1);
  EXPECT_EQ(line.Opens(), 2);
  ExpectRequest(FirstRequest());
  EXPECT_EQ(Condition(), LinkCondition::Identifying);
  if (GetParam().firstUnanswered) {
    // Not given up after the other framing either: the calm turns go on.
    for (int round = 0; round < 3; ++round) {
      Tick(2001);
      ExpectRequest(OtherRequest());
      Tick(2001);
      ExpectRequest(FirstRequest());
    }
  }
  AnswerIdentification();
  LiveCycle(Address(), LiveRegisters{});
  EXPECT_EQ(display.points.size(), 2u);
  EXPECT_EQ(Condition(), LinkCondition::Connected);
  EXPECT_EQ(LogFiles().size(), 1u);
  EXPECT_EQ(LostBoxes(), 1u);
  EXPECT_EQ(notifier.CountOf(kCommTimeoutText), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Returns, LostDeviceTest,
    ::testing::Values(LostDeviceCase{"modbus", FramingModbus, false},
                      LostDeviceCase{"serial", FramingSerial, false},
                      LostDeviceCase{"modbusFirstProbeUnanswered", FramingModbus, true},
                      LostDeviceCase{"serialFirstBroadcastUnanswered", FramingSerial, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyranex::test
