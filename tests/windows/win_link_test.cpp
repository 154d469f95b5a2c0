// Exchanges with a simulated inverter through the Windows device, when the harness has put one
// behind a COM port: PYRANEX_TEST_COM names the port, and the simulator answers the 0xFF probe
// and hangs up after a few replies for a few seconds (--hang-up-after): the first test takes one
// reply per port it opens, the second test two more and then sees the hang-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/link/inverter_com.h"
#include "core/platform/messages.h"
#include "support/fake_clock.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kLiveFirst = 11;
constexpr uint32_t kLiveCount = 31;

unsigned TestComPort() {
  const char* value = std::getenv("PYRANEX_TEST_COM");
  return value ? static_cast<unsigned>(std::atoi(value)) : 0;
}

class TestLink final : public CInverterCom {
 public:
  using CInverterCom::CInverterCom;
  ~TestLink() override { StopWorker(); }
};

class WinLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port = TestComPort();
    if (port == 0) GTEST_SKIP() << "no simulated inverter (PYRANEX_TEST_COM is not set)";
  }

  bool Connect() {
    if (!link.InitPort(port) || !link.StartMonitoring()) return false;
    link.SetFraming(FramingModbus);
    link.SetAddressByte0(0xFF);
    return true;
  }

  // One read of the live record; true when all its values came back.
  bool Exchange() {
    sink.TakeAll();
    link.ResetReceiver();
    link.ReadRegisters(kLiveFirst, kLiveCount);
    if (!sink.WaitForCount(kLiveCount, 10s)) return false;
    for (const auto& m : sink.TakeAll()) {
      if (m.message != WM_INV_REGISTER) return false;
    }
    return true;
  }

  unsigned port = 0;
  test::FakeClock clock;
  test::QueueSink sink;
  test::RecordingNotifier notifier;
  TestLink link{LinkContext{sink, clock, notifier, Paths{}, {}}};
};

// PYRANEX_TEST_COM_ALIASES lists more COM numbers on the same line: "9,10" checks that port 9
// opens by "COM9" and port 10 by "\\.\COM10".
TEST_F(WinLinkTest, ThePortReopensWhileTheLineStaysUp) {
  std::vector<unsigned> ports{port, port};
  if (const char* aliases = std::getenv("PYRANEX_TEST_COM_ALIASES")) {
    std::string list = aliases;
    for (size_t at = 0; at < list.size();) {
      const size_t comma = std::min(list.find(',', at), list.size());
      ports.push_back(static_cast<unsigned>(std::atoi(list.substr(at, comma - at).c_str())));
      at = comma + 1;
    }
  }
  for (const unsigned number : ports) {
    port = number;
    ASSERT_TRUE(Connect()) << "COM" << number;
    ASSERT_TRUE(Exchange()) << "COM" << number;
    link.ClosePort();
  }
  EXPECT_EQ(notifier.Count(), 0u);
}

TEST_F(WinLinkTest, RepliesArriveAndAHangUpIsReportedOnceThenThePortReopens) {
  ASSERT_TRUE(Connect());
  EXPECT_EQ(notifier.Count(), 0u) << notifier.Notices()[0].text;
  ASSERT_TRUE(Exchange());
  ASSERT_TRUE(Exchange());  // the simulator hangs up after this reply

  const auto deadline = std::chrono::steady_clock::now() + 20s;
  // As the poll cycle does, keep asking: a write is what finds a line that went quiet.
  while (!link.IsLost() && std::chrono::steady_clock::now() < deadline) {
    link.ReadRegisters(kLiveFirst, kLiveCount);
    std::this_thread::sleep_for(500ms);
  }
  ASSERT_TRUE(link.IsLost());
  // Lost is reported once, and the worker stops watching the port instead of spinning.
  const uint64_t wakeups = link.WorkerWakeups();
  std::this_thread::sleep_for(500ms);
  EXPECT_LE(link.WorkerWakeups(), wakeups + 1);
  const auto notices = notifier.Notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].text.rfind("WARNING:  ReadFile() Failed with the following error: \n", 0),
            0u)
      << notices[0].text;

  // The poll cycle's way back: close, and reopen about once a second until the device is back.
  bool back = false;
  for (int attempt = 0; attempt < 30 && !back; ++attempt) {
    link.ClosePort();
    back = Connect();
    if (!back) std::this_thread::sleep_for(1s);
  }
  ASSERT_TRUE(back);
  EXPECT_FALSE(link.IsLost());
  EXPECT_TRUE(Exchange());
  EXPECT_EQ(notifier.Count(), 1u) << notifier.Notices().back().text;
}

}  // namespace
}  // namespace pyranex
