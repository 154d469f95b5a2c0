#include "core/link/frame_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pyranex {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr DeviceAddress kInverter{0x12, 0x34, 0x56, 0x78, 0x90, 0x12};
constexpr DeviceAddress kSlave1{0x01, 0, 0, 0, 0, 0};
constexpr DeviceAddress kProbe{0xFF, 0, 0, 0, 0, 0};

Bytes ToBytes(const RequestFrame& frame) {
  return Bytes(frame.View().begin(), frame.View().end());
}

// Bit by bit, as a cross-check of the table-driven CRC.
uint16_t SlowCrc(const Bytes& bytes) {
  uint16_t crc = 0xFFFF;
  for (const uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

TEST(ModbusCrc16, CheckValueOfDigits) {
  const std::string digits = "123456789";
  EXPECT_EQ(ModbusCrc16(reinterpret_cast<const uint8_t*>(digits.data()), 9), 0x4B37);
}

TEST(ModbusCrc16, EmptyInputIsInitialValue) {
  EXPECT_EQ(ModbusCrc16(nullptr, 0), 0xFFFF);
}

TEST(ModbusCrc16, AgreesWithBitwiseCrcForEverySingleByteAndLongRuns) {
  for (int b = 0; b < 256; ++b) {
    const Bytes one{static_cast<uint8_t>(b)};
    ASSERT_EQ(ModbusCrc16(one), SlowCrc(one)) << b;
    const Bytes pair{static_cast<uint8_t>(b), static_cast<uint8_t>(255 - b)};
    ASSERT_EQ(ModbusCrc16(pair), SlowCrc(pair)) << b;
  }
  Bytes run;
  for (int i = 0; i < 300; ++i) run.push_back(static_cast<uint8_t>(i * 37 + 11));
  EXPECT_EQ(ModbusCrc16(run), SlowCrc(run));
}

struct WorkedFrame {
  const char* name;
  RequestFrame frame;
  Bytes expected;
};

TEST(FrameCodec, WorkedFramesByteForByte) {
  const uint16_t on = 1;
  const WorkedFrame cases[] = {
      {"modbus probe",
       BuildReadRequest(FramingModbus, kProbe, 361, 1),
       {0xFF, 0x03, 0x00, 0x3C, 0x00, 0x01, 0x51, 0xD8}},
      {"serial broadcast",
       BuildReadRequest(FramingSerial, kBroadcastAddress, 1, 3),
       {0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x04, 0x9C, 0x37, 0x00, 0x03, 0x36, 0xE7}},
      {"live poll serial",
       BuildReadRequest(FramingSerial, kInverter, 11, 31),
       {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x04, 0x9C, 0x41, 0x00, 0x1F, 0x94, 0xA0}},
      {"live poll modbus",
       BuildReadRequest(FramingModbus, kSlave1, 11, 31),
       {0x01, 0x04, 0x00, 0x0A, 0x00, 0x1F, 0x91, 0xC0}},
      {"auto test serial",
       BuildCoilRequest(FramingSerial, kInverter, 2),
       {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x05, 0x00, 0x02, 0xFF, 0x00, 0x76, 0xDC}},
      {"gfci on modbus",
       BuildWriteRequest(FramingModbus, kSlave1, 339, std::span(&on, 1)),
       {0x01, 0x10, 0x00, 0x26, 0x00, 0x01, 0x02, 0x00, 0x01, 0x60, 0x96}},
  };
  for (const auto& c : cases) EXPECT_EQ(ToBytes(c.frame), c.expected) << c.name;
}

TEST(FrameCodec, CoilNumbersShiftOnlyInModbusFraming) {
  // Clear-kWh is coil 1: address 0 in Modbus framing, 1 in serial framing.
  const Bytes modbus = ToBytes(BuildCoilRequest(FramingModbus, kSlave1, 1));
  ASSERT_EQ(modbus.size(), 8u);
  EXPECT_EQ((Bytes{modbus.begin(), modbus.begin() + 6}),
            (Bytes{0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}));
  const Bytes serial = ToBytes(BuildCoilRequest(FramingSerial, kInverter, 1));
  ASSERT_EQ(serial.size(), 13u);
  EXPECT_EQ(serial[7], 0x00);
  EXPECT_EQ(serial[8], 0x01);
}

TEST(FrameCodec, EveryFrameEndsWithItsCrcLowByteFirst) {
  const std::vector<uint16_t> values{0x0102, 0xA0B0, 0xFFFF};
  for (const RequestFrame& frame : {BuildReadRequest(FramingSerial, kInverter, 301, 20),
                                    BuildWriteRequest(FramingSerial, kInverter, 311, values),
                                    BuildCoilRequest(FramingModbus, kSlave1, 2)}) {
    const Bytes bytes = ToBytes(frame);
    ASSERT_GE(bytes.size(), 3u);
    const uint16_t crc = ModbusCrc16(bytes.data(), static_cast<uint16_t>(bytes.size() - 2));
    EXPECT_EQ(bytes[bytes.size() - 2], crc & 0xFF);
    EXPECT_EQ(bytes[bytes.size() - 1], crc >> 8);
  }
}

TEST(FrameCodec, WriteFrameLayoutAndSizeLimit) {
  std::vector<uint16_t> values(23);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint16_t>(0x0100 * i + 7);
  const Bytes serial = ToBytes(BuildWriteRequest(FramingSerial, kInverter, 311, values));
  ASSERT_EQ(serial.size(), 14u + 2 * 23);
  EXPECT_EQ(serial[6], 0x10);
  EXPECT_EQ((serial[7] << 8) | serial[8], 311 + 39890);
  EXPECT_EQ((serial[9] << 8) | serial[10], 23);
  EXPECT_EQ(serial[11], 46);
  EXPECT_EQ(serial[12 + 2 * 5], 0x05);  // value 5 high byte first
  EXPECT_EQ(serial[13 + 2 * 5], 0x07);
  EXPECT_EQ(ToBytes(BuildWriteRequest(FramingModbus, kSlave1, 311, values)).size(), 9u + 2 * 23);

  const std::vector<uint16_t> most(kMaxWriteRegisters, 0xABCD);
  EXPECT_EQ(BuildWriteRequest(FramingSerial, kInverter, 301, most).size, 200u);
  const std::vector<uint16_t> tooMany(kMaxWriteRegisters + 1, 0xABCD);
  EXPECT_EQ(BuildWriteRequest(FramingSerial, kInverter, 301, tooMany).size, 0u);
}

TEST(FrameCodec, ReadCountIsSentInTheLowQuantityByteOnly) {
  const Bytes bytes = ToBytes(BuildReadRequest(FramingModbus, kSlave1, 1, 0x1FF));
  EXPECT_EQ(bytes[4], 0x00);
  EXPECT_EQ(bytes[5], 0xFF);
}

struct WireCase {
  Framing framing;
  uint32_t reg;
  bool write;
  uint16_t wire;
  uint8_t function;  // of a read; 0 for a write
};

TEST(WireRegisterAddress, TableOfBothFramings) {
  const WireCase cases[] = {
      {FramingSerial, 1, false, 39991, 4},   {FramingModbus, 1, false, 0, 4},
      {FramingSerial, 11, false, 40001, 4},  {FramingModbus, 11, false, 10, 4},
      {FramingSerial, 81, false, 40071, 4},  {FramingModbus, 81, false, 80, 4},
      {FramingSerial, 82, false, 39972, 3},  {FramingModbus, 82, false, 0xFFFF & (82 - 301), 3},
      {FramingSerial, 301, false, 40191, 3}, {FramingModbus, 301, false, 0, 3},
      {FramingSerial, 361, false, 40251, 3}, {FramingModbus, 361, false, 60, 3},
      {FramingSerial, 301, true, 40191, 0},  {FramingModbus, 301, true, 0, 0},
      {FramingSerial, 339, true, 40229, 0},  {FramingModbus, 357, true, 56, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WireRegisterAddress(c.framing, c.reg, c.write), c.wire)
        << "framing " << c.framing << " register " << c.reg << " write " << c.write;
    if (c.function == 0) continue;
    DeviceAddress address{};
    const Bytes frame = ToBytes(BuildReadRequest(c.framing, address, c.reg, 1));
    const size_t k = AddressLength(c.framing);
    EXPECT_EQ(frame[k], c.function) << "register " << c.reg;
    EXPECT_EQ((frame[k + 1] << 8) | frame[k + 2], c.wire) << "register " << c.reg;
  }
}

TEST(SerialNumber, TextIsNibblesOrThirty) {
  EXPECT_EQ(SerialNumberText({0x12, 0x34, 0x56, 0x78, 0x90, 0x12}), "123456789012");
  EXPECT_EQ(SerialNumberText({0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), "000000000000");
  // Nibbles above 9 give ":" to "?".
  EXPECT_EQ(SerialNumberText({0xAB, 0xCD, 0xEF, 0x9A, 0x0F, 0xF0}), ":;<=>?9:0??0");
}

struct SerialCase {
  uint64_t number;
  std::array<uint16_t, 3> words;
  SerialBytes bytes;
};

TEST(SerialNumber, WordsAndBytesOfNumbers) {
  const SerialCase cases[] = {
      {123456789012ULL, {0x1234, 0x5678, 0x9012}, {0x12, 0x34, 0x56, 0x78, 0x90, 0x12}},
      {0, {0, 0, 0}, {0, 0, 0, 0, 0, 0}},
      {7, {0, 0, 0x0007}, {0, 0, 0, 0, 0, 0x07}},
      {999999999999ULL, {0x9999, 0x9999, 0x9999}, {0x99, 0x99, 0x99, 0x99, 0x99, 0x99}},
      {100000000001ULL, {0x1000, 0x0000, 0x0001}, {0x10, 0, 0, 0, 0, 0x01}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SerialNumberWords(c.number), c.words) << c.number;
    EXPECT_EQ(SerialNumberBytes(c.number), c.bytes) << c.number;
    EXPECT_EQ(SerialNumberText(SerialNumberBytes(c.number)).size(), 12u);
  }
}

}  // namespace
}  // namespace pyranex
