// CSerialPort's worker, traffic ring, loss handling and error box, over the fake serial line.
#include "core/link/serial_port.h"

#include "core/link/comm_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/fake_serial_device.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

using test::Eventually;

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

class TestPort final : public CSerialPort {
 public:
  using CSerialPort::CSerialPort;
  using CSerialPort::ReportError;
  ~TestPort() override { StopWorker(); }

  bool WaitForBytes(size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return received_.size() >= n; });
  }
  Bytes Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 protected:
  void OnReceiveByte(uint8_t byte) override {
    {
      std::lock_guard lock(mutex_);
      received_.push_back(byte);
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Bytes received_;
};

class SerialPortTest : public ::testing::Test {
 protected:
  void Open(unsigned port = 3) {
    ASSERT_TRUE(serial.InitPort(port));
    ASSERT_TRUE(serial.StartMonitoring());
  }

  test::FakeClock clock;
  test::QueueSink sink;
  test::RecordingNotifier notifier;
  test::FakeSerialLine line;
  TestPort serial{LinkContext{sink, clock, notifier, Paths{}, line.Factory()}};
};

TEST_F(SerialPortTest, OpenFailureReturnsFalseAndShowsNothing) {
  line.SetOpenFails(true);
  EXPECT_FALSE(serial.InitPort(5));
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_EQ(notifier.Count(), 0u);
  line.SetOpenFails(false);
  EXPECT_TRUE(serial.InitPort(5));
  EXPECT_TRUE(serial.IsOpen());
  EXPECT_EQ(line.LastPortNumber(), 5u);
}

TEST_F(SerialPortTest, ConfigurationFailureIsReportedButThePortStaysOpen) {
  line.SetConfigureFailure("SetCommState()", EIO);
  EXPECT_TRUE(serial.InitPort(4));
  EXPECT_TRUE(serial.IsOpen());
  const auto notices = notifier.Notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text,
            "WARNING:  SetCommState() Failed with the following error: \nInput/output error\n"
            "Port: 4\n");
  EXPECT_EQ(notices[0].caption, "Application Error");
  EXPECT_EQ(notices[0].icon, NoticeIcon::Error);
  EXPECT_EQ(notices[0].buttons, NoticeButtons::Ok);
}

TEST_F(SerialPortTest, LongErrorTextIsCutToTheBoxWithoutSplittingACharacter) {
  ASSERT_TRUE(serial.InitPort(2));
  std::string operation;
  for (int i = 0; i < 120; ++i) operation += "\xC3\xA9";  // "é", two bytes each
  operation = "x" + operation;  // puts a cut at 199 bytes inside a character
  serial.ReportError(operation.c_str(), ENOENT);
  const auto notices = notifier.Notices();
  ASSERT_EQ(notices.size(), 1u);
  const std::string& text = notices[0].text;
  EXPECT_LE(text.size(), 199u);
  EXPECT_GE(text.size(), 198u);
  EXPECT_EQ(text.rfind("WARNING:  x\xC3\xA9", 0), 0u);
  EXPECT_EQ(static_cast<unsigned char>(text.back()), 0xA9);
}

TEST_F(SerialPortTest, TwoWritesBeforeTheWorkerRunsGiveOneWriteOfTheLaterFrame) {
  ASSERT_TRUE(serial.InitPort(1));
  serial.RequestWrite(Bytes{0x01, 0x02, 0x03});
  serial.RequestWrite(Bytes{0x0A, 0x0B});
  ASSERT_TRUE(serial.StartMonitoring());
  EXPECT_EQ(line.ReadRequest(), (Bytes{0x0A, 0x0B}));
  EXPECT_TRUE(line.NothingWritten(100ms));
}

TEST_F(SerialPortTest, AFrameLeftFromBeforeReopeningIsNotSent) {
  serial.RequestWrite(Bytes{0x01});
  Open();
  EXPECT_TRUE(line.NothingWritten(100ms));
}

TEST_F(SerialPortTest, ReceivedBytesReachTheHandlerInOrderAndTheRing) {
  Open();
  serial.RequestWrite(Bytes{0x01, 0x04});
  ASSERT_EQ(line.ReadRequest(), (Bytes{0x01, 0x04}));
  const int64_t first = clock.Now();
  ASSERT_TRUE(line.Send({0x10, 0x20, 0x30}));
  ASSERT_TRUE(serial.WaitForBytes(3));
  clock.Advance(5000);
  ASSERT_TRUE(line.Send({0x40}));
  ASSERT_TRUE(serial.WaitForBytes(4));
  EXPECT_EQ(serial.Received(), (Bytes{0x10, 0x20, 0x30, 0x40}));

  const TrafficSnapshot ring = serial.SnapshotRing();
  EXPECT_EQ(ring.nextSlot, 1);
  EXPECT_EQ(ring.slots[0].sent, (Bytes{0x01, 0x04}));
  EXPECT_EQ(ring.slots[0].received, (Bytes{0x10, 0x20, 0x30, 0x40}));
  EXPECT_EQ(ring.slots[0].sendTime, first);
  EXPECT_EQ(ring.slots[0].receiveTime, first);  // stamped by the first byte only
}

TEST_F(SerialPortTest, TheTwentyFirstWriteReusesSlotZeroAndEmptiesItsReceivedBytes) {
  Open();
  size_t received = 0;
  for (int i = 0; i < kRingSlots; ++i) {
    serial.RequestWrite(Bytes{static_cast<uint8_t>(i)});
    ASSERT_EQ(line.ReadRequest(), Bytes{static_cast<uint8_t>(i)});
    ASSERT_TRUE(line.Send({static_cast<uint8_t>(0x80 + i)}));
    ASSERT_TRUE(serial.WaitForBytes(++received));
  }
  TrafficSnapshot ring = serial.SnapshotRing();
  EXPECT_EQ(ring.nextSlot, 0);
  EXPECT_EQ(ring.slots[0].received, Bytes{0x80});
  EXPECT_EQ(ring.slots[19].received, Bytes{0x80 + 19});

  const int64_t oldReceiveTime = ring.slots[0].receiveTime;
  clock.Advance(3000);
  serial.RequestWrite(Bytes{0xEE});
  ASSERT_EQ(line.ReadRequest(), Bytes{0xEE});
  ASSERT_TRUE(Eventually([&] { return serial.SnapshotRing().nextSlot == 1; }));
  ring = serial.SnapshotRing();
  EXPECT_EQ(ring.slots[0].sent, Bytes{0xEE});
  EXPECT_TRUE(ring.slots[0].received.empty());
  EXPECT_EQ(ring.slots[0].sendTime, clock.Now());
  EXPECT_EQ(ring.slots[0].receiveTime, oldReceiveTime);  // kept until a new byte arrives
  EXPECT_EQ(ring.slots[1].received, Bytes{0x81});
}

TEST_F(SerialPortTest, HangUpIsReportedOnceThenTheWorkerSleepsAndWritesAreDropped) {
  Open();
  line.HangUp();
  ASSERT_TRUE(notifier.WaitForCount(1));
  ASSERT_TRUE(Eventually([&] { return serial.IsLost(); }));
  const auto notices = notifier.Notices();
  EXPECT_EQ(notices[0].text.rfind("WARNING:  ReadFile() Failed with the following error: \n", 0),
            0u);
  EXPECT_NE(notices[0].text.find("\nPort: 3\n"), std::string::npos);

  const uint64_t wakeups = serial.WorkerWakeups();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(serial.WorkerWakeups(), wakeups);  // no spinning on the dead descriptor

  serial.RequestWrite(Bytes{0x01, 0x02});
  ASSERT_TRUE(Eventually([&] { return serial.WorkerWakeups() > wakeups; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(serial.SnapshotRing().nextSlot, 0);  // dropped, not recorded
  EXPECT_EQ(notifier.Count(), 1u);
  EXPECT_TRUE(serial.IsWorkerAlive());
}

TEST_F(SerialPortTest, ReopenAfterLossWorksAgain) {
  Open();
  line.HangUp();
  ASSERT_TRUE(Eventually([&] { return serial.IsLost(); }));
  serial.ClosePort();
  EXPECT_FALSE(serial.IsLost());
  Open();
  EXPECT_EQ(line.Opens(), 2);
  serial.RequestWrite(Bytes{0x42});
  EXPECT_EQ(line.ReadRequest(), Bytes{0x42});
  ASSERT_TRUE(line.Send({0x43}));
  ASSERT_TRUE(serial.WaitForBytes(1));
  ASSERT_TRUE(notifier.WaitForCount(1));
  EXPECT_EQ(notifier.Count(), 1u);
}

TEST_F(SerialPortTest, ClosePortEndsTheWorkerAndClosesTheDevice) {
  Open();
  ASSERT_FALSE(serial.StartMonitoring());  // one worker at a time
  serial.ClosePort();
  EXPECT_GE(clock.Sleeps(), 1);
  EXPECT_FALSE(serial.IsWorkerAlive());
  EXPECT_FALSE(serial.IsOpen());
  EXPECT_FALSE(line.Send({0x01}));  // the program's end is gone
}

TEST_F(SerialPortTest, ClosePortWithoutWorkerStillSleepsOnce) {
  ASSERT_TRUE(serial.InitPort(1));
  serial.ClosePort();
  EXPECT_EQ(clock.Sleeps(), 1);
  EXPECT_FALSE(serial.IsOpen());
}

TEST_F(SerialPortTest, AStreamWithoutPauseIsCutPerExchangeAndTheLogSaysSo) {
  Open();
  serial.RequestWrite(Bytes{0x01, 0x04});
  ASSERT_EQ(line.ReadRequest(), (Bytes{0x01, 0x04}));
  const Bytes noise(kReceivedKeep + 3000, 0x5A);
  ASSERT_TRUE(line.Send(noise));
  ASSERT_TRUE(serial.WaitForBytes(noise.size()));  // every byte still reaches the receiver
  TrafficSnapshot ring = serial.SnapshotRing();
  EXPECT_EQ(ring.slots[0].received.size(), kReceivedKeep);
  EXPECT_EQ(ring.slots[0].receivedCut, 3000u);
  const std::u16string log = FormatCommLog(ring, clock);
  EXPECT_NE(log.find(u"5a ... 3000 more bytes not kept "), std::u16string::npos);

  serial.RequestWrite(Bytes{0x02});
  ASSERT_EQ(line.ReadRequest(), Bytes{0x02});
  ASSERT_TRUE(Eventually([&] { return serial.SnapshotRing().nextSlot == 2; }));
  ring = serial.SnapshotRing();
  EXPECT_TRUE(ring.slots[1].received.empty());
  EXPECT_EQ(ring.slots[1].receivedCut, 0u);
}

// A box that stays open until the test closes it, as the interface thread would show it.
class HeldNotifier final : public Notifier {
 public:
  using Notifier::Show;
  NoticeAnswer Show(const std::string&, const std::string&, NoticeIcon, NoticeButtons) override {
    std::unique_lock lock(mutex_);
    ++shown_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
    return NoticeAnswer::Ok;
  }
  bool WaitShown(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return shown_ >= n; });
  }
  void Release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  int Shown() {
    std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int shown_ = 0;
  bool released_ = false;
};

TEST(SerialPortBoxTest, ClosePortDoesNotWaitForTheWorkersOpenBox) {
  HeldNotifier held;
  test::FakeClock clock;
  test::QueueSink sink;
  test::FakeSerialLine line;
  {
    TestPort port{LinkContext{sink, clock, held, Paths{}, line.Factory()}};
    ASSERT_TRUE(port.InitPort(3));
    ASSERT_TRUE(port.StartMonitoring());
    line.HangUp();
    ASSERT_TRUE(held.WaitShown(1));
    const auto start = std::chrono::steady_clock::now();
    port.ClosePort();  // the box is still open
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_FALSE(port.IsWorkerAlive());
    EXPECT_FALSE(port.IsOpen());
    // Reopened and lost again while the first box is open: no second box on top of it.
    ASSERT_TRUE(port.InitPort(3));
    ASSERT_TRUE(port.StartMonitoring());
    line.HangUp();
    ASSERT_TRUE(Eventually([&] { return port.IsLost(); }));
    held.Release();
  }
  EXPECT_EQ(held.Shown(), 1);
}

TEST(SerialPortBoxTest, AReopenOnThePollThreadDoesNotWaitForItsConfigurationBox) {
  HeldNotifier held;
  test::FakeClock clock;
  test::QueueSink sink;
  test::FakeSerialLine line;
  line.SetConfigureFailure("SetCommState()", EINVAL);
  {
    TestPort port{LinkContext{sink, clock, held, Paths{}, line.Factory()}};
    EXPECT_TRUE(port.InitPort(3, /*waitForBox=*/false));  // returns with the box still open
    ASSERT_TRUE(held.WaitShown(1));
    EXPECT_TRUE(port.IsOpen());
    held.Release();
  }
  EXPECT_EQ(held.Shown(), 1);
}

}  // namespace
}  // namespace pyranex
