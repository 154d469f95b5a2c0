// CInverterCom over the fake serial line: requests on the wire, bookkeeping, replies as messages.
#include "core/link/inverter_com.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/platform/messages.h"
#include "support/fake_clock.h"
#include "support/fake_serial_device.h"
#include "support/queue_sink.h"
#include "support/recording_notifier.h"

namespace pyranex {
namespace {

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

}  // namespace
}  // namespace pyranex
