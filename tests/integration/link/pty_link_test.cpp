// The link over a real tty: a pseudo-terminal's slave put on a COM number through the
// ports/COM<n> override, its master playing the inverter.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/link/inverter_com.h"
#include "core/platform/clock.h"
#include "core/platform/messages.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/pty_master.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

using test::Eventually;
using test::PtyMaster;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr unsigned kPort = 7;

Bytes WithCrc(Bytes frame) {
  const uint16_t crc = ModbusCrc16(frame);
  frame.push_back(crc & 0xFF);
  frame.push_back(crc >> 8);
  return frame;
}

class PtyLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(master.Ok());
    exeDir = fs::temp_directory_path() /
             ("pyranex-pty-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(exeDir);
    fs::create_directories(exeDir / "ports");
    fs::create_symlink(master.SlavePath(), exeDir / "ports" / ("COM" + std::to_string(kPort)));
  }
  void TearDown() override { fs::remove_all(exeDir); }

  LinkContext Context(Clock& clock) {
    return LinkContext{sink, clock, notifier, Paths{exeDir, exeDir}, {}};
  }

  // Opens COM7 in Modbus framing, address 1, and makes one round trip so the worker is running.
  void OpenModbus(CInverterCom& com) {
    ASSERT_TRUE(com.InitPort(kPort));
    ASSERT_TRUE(com.StartMonitoring());
    com.SetFraming(FramingModbus);
    com.SetAddressByte0(1);
    com.ReadRegisters(11, 31);
    ASSERT_EQ(master.Read(8), (Bytes{0x01, 0x04, 0x00, 0x0A, 0x00, 0x1F, 0x91, 0xC0}));
  }

  PtyMaster master;
  fs::path exeDir;
  test::FakeClock clock;
  test::QueueSink sink;
  test::RecordingNotifier notifier;
};

TEST_F(PtyLinkTest, FramesArriveWholeOnTheMaster) {
  CInverterCom com(Context(clock));
  OpenModbus(com);
  std::vector<uint16_t> values(23);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint16_t>(0x0D0A + i);
  com.WriteRegisters(311, 23, values);
  const RequestFrame expected = BuildWriteRequest(FramingModbus, {1}, 311, values);
  EXPECT_EQ(master.Read(expected.size), Bytes(expected.View().begin(), expected.View().end()));
  EXPECT_TRUE(master.Read(1, 100ms).empty());  // nothing more than the frame
  EXPECT_EQ(notifier.Count(), 0u);
}

TEST_F(PtyLinkTest, RepliedBytesReachTheReceiverInOrder) {
  CInverterCom com(Context(clock));
  OpenModbus(com);
  Bytes reply{0x01, 0x04, 62};
  std::vector<intptr_t> expected;
  for (int i = 0; i < 31; ++i) {
    // Includes 0x0D, 0x0A, 0x11, 0x13 and 0x7F, which a cooked tty would change or swallow.
    const uint8_t hi = static_cast<uint8_t>(i == 0 ? 0x0D : i == 1 ? 0x11 : i * 7);
    const uint8_t lo = static_cast<uint8_t>(i == 0 ? 0x0A : i == 1 ? 0x13 : 0x7F);
    reply.push_back(hi);
    reply.push_back(lo);
    expected.push_back(hi * 256 + lo);
  }
  ASSERT_TRUE(master.Write(WithCrc(reply)));
  ASSERT_TRUE(sink.WaitForCount(31));
  std::vector<intptr_t> got;
  for (const auto& m : sink.TakeAll()) {
    EXPECT_EQ(m.message, WM_INV_REGISTER);
    got.push_back(m.lParam);
  }
  EXPECT_EQ(got, expected);
}

TEST_F(PtyLinkTest, OpeningAPortThatDoesNotExistFailsSilently) {
  fs::create_symlink(exeDir / "no-such-device", exeDir / "ports" / "COM8");
  CInverterCom com(Context(clock));
  EXPECT_FALSE(com.InitPort(8));
  EXPECT_FALSE(com.InitPort(99));
  EXPECT_FALSE(com.IsOpen());
  EXPECT_EQ(notifier.Count(), 0u);
}

// Only a terminal is ever written: a COM link that points at anything else is refused before a
// byte goes out, silently, as a port that does not open.
TEST_F(PtyLinkTest, AnythingButATerminalIsRefusedAndLeftUntouched) {
  const fs::path file = exeDir / "datacfg.xls";
  const std::string content = "not a serial port: keep these bytes exactly";
  std::ofstream(file, std::ios::binary) << content;
  const auto before = fs::last_write_time(file);
  const struct {
    unsigned port;
    fs::path target;
  } cases[] = {{8, file}, {9, "/dev/null"}, {10, exeDir}};
  for (const auto& c : cases) {
    fs::create_symlink(c.target, exeDir / "ports" / ("COM" + std::to_string(c.port)));
    CInverterCom com(Context(clock));
    EXPECT_FALSE(com.InitPort(c.port)) << c.target;
    com.ReadRegisters(361, 1);
    EXPECT_FALSE(com.IsOpen()) << c.target;
  }
  std::ifstream in(file, std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(after, content);
  EXPECT_EQ(fs::last_write_time(file), before);
  EXPECT_EQ(notifier.Count(), 0u);
}

TEST_F(PtyLinkTest, ClosePortWithoutWorkerStillWaitsHalfASecond) {
  CInverterCom com(Context(SystemClock::Instance()));
  ASSERT_TRUE(com.InitPort(kPort));
  const auto start = std::chrono::steady_clock::now();
  com.ClosePort();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
  EXPECT_FALSE(com.IsOpen());
}

TEST_F(PtyLinkTest, TwentyFirstWriteReusesSlotZero) {
  CInverterCom com(Context(clock));
  OpenModbus(com);  // slot 0
  ASSERT_TRUE(master.Write({0x01, 0x04, 0x3E}));
  ASSERT_TRUE(Eventually([&] { return com.SnapshotRing().slots[0].received.size() == 3; }));
  for (uint32_t i = 1; i <= kRingSlots; ++i) {
    com.ReadRegisters(i, 1);
    ASSERT_EQ(master.Read(8).size(), 8u) << i;
  }
  ASSERT_TRUE(Eventually([&] { return com.SnapshotRing().nextSlot == 1; }));
  const TrafficSnapshot ring = com.SnapshotRing();
  const RequestFrame last = BuildReadRequest(FramingModbus, {1}, kRingSlots, 1);
  EXPECT_EQ(ring.slots[0].sent, Bytes(last.View().begin(), last.View().end()));
  EXPECT_TRUE(ring.slots[0].received.empty());
}

TEST_F(PtyLinkTest, ClosingTheMasterIsReportedOnceAndTheWorkerSleeps) {
  CInverterCom com(Context(clock));
  OpenModbus(com);
  master.Close();
  ASSERT_TRUE(notifier.WaitForCount(1));
  ASSERT_TRUE(Eventually([&] { return com.IsLost(); }));
  const std::string text = notifier.Notices()[0].text;
  EXPECT_EQ(text.rfind("WARNING:  ReadFile() Failed with the following error: \n", 0), 0u) << text;
  EXPECT_NE(text.find("\nPort: 7\n"), std::string::npos);

  const uint64_t wakeups = com.WorkerWakeups();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(com.WorkerWakeups(), wakeups);
  EXPECT_EQ(notifier.Count(), 1u);
  com.ClosePort();
  EXPECT_FALSE(com.IsOpen());
}

}  // namespace
}  // namespace pyranex
