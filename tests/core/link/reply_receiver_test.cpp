#include "core/link/reply_receiver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pyranex {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr DeviceAddress kInverter{0x12, 0x34, 0x56, 0x78, 0x90, 0x12};
constexpr DeviceAddress kSlave1{0x01, 0, 0, 0, 0, 0};

Bytes WithCrc(Bytes frame) {
  const uint16_t crc = ModbusCrc16(frame);
  frame.push_back(crc & 0xFF);
  frame.push_back(crc >> 8);
  return frame;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Serial(Bytes pdu, const DeviceAddress& address = kInverter) {
  Bytes frame(address.begin(), address.end());
  frame.insert(frame.end(), pdu.begin(), pdu.end());
  return WithCrc(frame);
}

Bytes Modbus(Bytes pdu, uint8_t address = 1) {
  Bytes frame{address};
  frame.insert(frame.end(), pdu.begin(), pdu.end());
  return WithCrc(frame);
}

struct Accepted {
  uint8_t function;
  uint32_t headerLength;
  Bytes data;
  friend bool operator==(const Accepted&, const Accepted&) = default;
};

std::ostream& operator<<(std::ostream& os, const Accepted& a) {
  os << "{fn " << int{a.function} << " hl " << a.headerLength << " data";
  for (const uint8_t b : a.data) os << ' ' << int{b};
  return os << '}';
}

std::vector<Accepted> FeedAll(ReplyReceiver& receiver, const Bytes& input) {
  std::vector<Accepted> out;
  for (const uint8_t b : input) {
    if (const auto frame = receiver.Feed(b)) {
      EXPECT_EQ(frame->byteCount, frame->data.size());
      out.push_back(
          {frame->function, frame->headerLength, Bytes(frame->data.begin(), frame->data.end())});
    }
  }
  return out;
}

// Function code, byte count and that many data bytes, sized once: growing a two-byte vector by
// insert makes g++ 12 at -O3 warn of a memmove out of bounds that cannot happen.
Bytes Pdu(uint8_t function, uint8_t count, uint8_t fill) {
  Bytes pdu(2 + size_t{count}, fill);
  pdu[0] = function;
  pdu[1] = count;
  return pdu;
}

struct ReceiverCase {
  const char* name;
  Framing framing;
  DeviceAddress address;
  Bytes input;
  std::vector<Accepted> expected;
  uint32_t finalState = 0;
};

std::vector<ReceiverCase> Cases() {
  const Bytes liveModbus = Modbus({0x04, 0x04, 0x00, 0x0A, 0x01, 0x02});
  const Bytes big(246, 0x5A);
  const Bytes bigPdu = Pdu(0x03, 246, 0x5A);
  const Bytes bigModbus(251, 0xA5);
  const Bytes bigModbusPdu = Pdu(0x04, 251, 0xA5);
  return {
      {"modbus read reply", FramingModbus, kSlave1, liveModbus, {{4, 2, {0x00, 0x0A, 0x01, 0x02}}}},
      {"serial read reply",
       FramingSerial,
       kInverter,
       Serial({0x03, 0x02, 0xBE, 0xEF}),
       {{3, 2, {0xBE, 0xEF}}}},
      {"write reply carries address and quantity",
       FramingModbus,
       kSlave1,
       Modbus({0x10, 0x00, 0x26, 0x00, 0x01}),
       {{16, 1, {0x00, 0x26, 0x00, 0x01}}}},
      {"coil reply",
       FramingSerial,
       kInverter,
       Serial({0x05, 0x00, 0x02, 0xFF, 0x00}),
       {{5, 1, {0x00, 0x02, 0xFF, 0x00}}}},
      {"bad crc is dropped silently",
       FramingModbus,
       kSlave1,
       [&] {
         Bytes b = liveModbus;
         b.back() ^= 1;
         return b;
       }(),
       {}},
      {"another slave's reply is never taken",
       FramingModbus,
       kSlave1,
       Modbus({0x04, 0x02, 0x00, 0x01}, 2),
       {}},
      {"exception reply is abandoned at its function byte",
       FramingModbus,
       kSlave1,
       Modbus({0x84, 0x02}),
       {}},
      {"byte count 0 passes the crc", FramingModbus, kSlave1, Modbus({0x04, 0x00}), {{4, 2, {}}}},
      {"byte count 1 passes the crc",
       FramingModbus,
       kSlave1,
       Modbus({0x04, 0x01, 0x07}),
       {{4, 2, {0x07}}}},
      {"odd byte count keeps every data byte",
       FramingModbus,
       kSlave1,
       Modbus({0x03, 0x03, 0x01, 0x02, 0x03}),
       {{3, 2, {0x01, 0x02, 0x03}}}},
      {"non-address noise before a frame is skipped",
       FramingSerial,
       kInverter,
       Join({{0x00, 0x55, 0x34}, Serial({0x04, 0x02, 0x00, 0x09})}),
       {{4, 2, {0x00, 0x09}}}},
      {"a broken-off address restarts on its first byte",
       FramingSerial,
       kInverter,
       Join({{0x12, 0x34, 0x56}, Serial({0x04, 0x02, 0x00, 0x09})}),
       {{4, 2, {0x00, 0x09}}}},
      {"stray last address byte before a broadcast reply loses that frame",
       FramingSerial,
       kBroadcastAddress,
       Join({{0x99}, Serial({0x04, 0x02, 0x00, 0x09}, kBroadcastAddress)}),
       {}},
      {"two replies back to back",
       FramingModbus,
       kSlave1,
       Join({Modbus({0x04, 0x02, 0x00, 0x01}), Modbus({0x03, 0x02, 0x00, 0x02})}),
       {{4, 2, {0x00, 0x01}}, {3, 2, {0x00, 0x02}}}},
      {"largest frame that fits the buffer, serial framing",
       FramingSerial,
       kInverter,
       Serial(bigPdu),
       {{3, 2, big}}},
      {"largest frame that fits the buffer, modbus framing",
       FramingModbus,
       kSlave1,
       Modbus(bigModbusPdu),
       {{4, 2, bigModbus}}},
      {"declared length beyond the buffer is dropped, next frame still read",
       FramingSerial,
       kInverter,
       Join({Serial({0x03, 247}), Serial({0x04, 0x02, 0x00, 0x09})}),
       {{4, 2, {0x00, 0x09}}}},
      {"modbus declared length beyond the buffer",
       FramingModbus,
       kSlave1,
       Join({{0x01, 0x04, 252}, Modbus({0x04, 0x02, 0x00, 0x03})}),
       {{4, 2, {0x00, 0x03}}}},
      {"frame cut short stays in the data state",
       FramingModbus,
       kSlave1,
       {0x01, 0x04, 0x3E, 0x00, 0x01},
       {},
       2},
      {"address alone waits for the header",
       FramingSerial,
       kInverter,
       Bytes(kInverter.begin(), kInverter.end()),
       {},
       1},
  };
}

TEST(ReplyReceiver, EdgeCases) {
  for (const ReceiverCase& c : Cases()) {
    ReplyReceiver receiver;
    receiver.SetFraming(c.framing);
    receiver.SetAddress(c.address);
    EXPECT_EQ(FeedAll(receiver, c.input), c.expected) << c.name;
    EXPECT_EQ(receiver.State(), c.finalState) << c.name;
  }
}

TEST(ReplyReceiver, StartsInSerialFramingWithBroadcastAddressAndSerialKnown) {
  ReplyReceiver receiver;
  EXPECT_EQ(receiver.GetFraming(), FramingSerial);
  EXPECT_EQ(receiver.GetAddressLength(), 6u);
  EXPECT_EQ(receiver.GetAddress(), kBroadcastAddress);
  EXPECT_TRUE(receiver.IsSerialKnown());
  EXPECT_EQ(receiver.State(), 0u);
}

TEST(ReplyReceiver, FramingSetsAddressLengthAndKeepsAddress) {
  ReplyReceiver receiver;
  receiver.SetAddress(kInverter);
  receiver.SetFraming(FramingModbus);
  EXPECT_EQ(receiver.GetAddressLength(), 1u);
  receiver.SetAddressByte0(0x07);
  EXPECT_EQ(receiver.GetAddress(), (DeviceAddress{0x07, 0x34, 0x56, 0x78, 0x90, 0x12}));
  receiver.SetFraming(FramingSerial);
  EXPECT_EQ(receiver.GetAddressLength(), 6u);
  EXPECT_EQ(receiver.GetFraming(), FramingSerial);
  receiver.SetSerialNumber({1, 2, 3, 4, 5, 6});
  receiver.SetSerialKnown(false);
  EXPECT_EQ(receiver.GetSerialNumber(), (SerialBytes{1, 2, 3, 4, 5, 6}));
  EXPECT_FALSE(receiver.IsSerialKnown());
}

TEST(ReplyReceiver, StatesAlongAFrame) {
  ReplyReceiver receiver;
  receiver.SetFraming(FramingModbus);
  receiver.SetAddressByte0(1);
  const Bytes frame = Modbus({0x04, 0x02, 0x00, 0x01});
  const uint32_t expected[] = {1, 1, 2, 2, 2, 2, 0};
  for (size_t i = 0; i < frame.size(); ++i) {
    const bool last = i + 1 == frame.size();
    EXPECT_EQ(receiver.Feed(frame[i]).has_value(), last) << i;
    EXPECT_EQ(receiver.State(), expected[i]) << i;
  }
}

TEST(ReplyReceiver, ResetRequestTakesEffectBeforeTheNextByte) {
  ReplyReceiver receiver;
  receiver.SetFraming(FramingModbus);
  receiver.SetAddressByte0(1);
  FeedAll(receiver, {0x01, 0x04, 0x3E, 0x01});
  ASSERT_EQ(receiver.State(), 2u);
  receiver.RequestReset();
  // The poll cycle reads the state right after asking for the reset.
  EXPECT_EQ(receiver.State(), 0u);
  // Without the reset these bytes would be swallowed as data of the stuck frame.
  EXPECT_EQ(FeedAll(receiver, Modbus({0x04, 0x02, 0xAA, 0xBB})),
            (std::vector<Accepted>{{4, 2, {0xAA, 0xBB}}}));
}

TEST(ReplyReceiver, AddressChangeAppliesToTheNextFrame) {
  ReplyReceiver receiver;
  receiver.SetAddress(kBroadcastAddress);
  EXPECT_TRUE(FeedAll(receiver, Serial({0x04, 0x02, 0, 1})).empty());
  receiver.SetAddress(kInverter);
  EXPECT_EQ(FeedAll(receiver, Serial({0x04, 0x02, 0, 1})).size(), 1u);
}

}  // namespace
}  // namespace pyranex
