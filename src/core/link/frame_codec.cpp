#include "core/link/frame_codec.h"

#include <algorithm>

namespace pyranex {

namespace {

// The classic pair of Modbus tables: for each index, the low and high byte of the reflected
// 0xA001 remainder, so one byte costs two lookups and no shifts through eight bits.
struct CrcTables {
  std::array<uint8_t, 256> low{};
  std::array<uint8_t, 256> high{};
};

constexpr CrcTables MakeCrcTables() {
  CrcTables tables;
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                       : static_cast<uint16_t>(crc >> 1);
    }
    tables.low[i] = static_cast<uint8_t>(crc & 0xFF);
    tables.high[i] = static_cast<uint8_t>(crc >> 8);
  }
  return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

class FrameWriter {
 public:
  explicit FrameWriter(RequestFrame& frame) : frame_(frame) {}
  void Byte(uint32_t value) { frame_.bytes[frame_.size++] = static_cast<uint8_t>(value); }
  void Word(uint32_t value) {
    Byte(value >> 8);
    Byte(value & 0xFF);
  }
  void Address(Framing framing, const DeviceAddress& address) {
    for (size_t i = 0; i < AddressLength(framing); ++i) Byte(address[i]);
  }
  void Crc() {
    const uint16_t crc = ModbusCrc16(frame_.bytes.data(), static_cast<uint16_t>(frame_.size));
    Byte(crc & 0xFF);
    Byte(crc >> 8);
  }

 private:
  RequestFrame& frame_;
};

}  // namespace

uint16_t ModbusCrc16(const uint8_t* data, uint16_t length) {
  uint8_t low = 0xFF;
  uint8_t high = 0xFF;
  for (uint16_t i = 0; i < length; ++i) {
    const uint8_t index = static_cast<uint8_t>(low ^ data[i]);
    low = static_cast<uint8_t>(high ^ kCrcTables.low[index]);
    high = kCrcTables.high[index];
  }
  return static_cast<uint16_t>((high << 8) | low);
}

uint16_t WireRegisterAddress(Framing framing, uint32_t registerNumber, bool write) {
  const bool holding = write || registerNumber > kLastInputRegister;
  if (framing == FramingSerial) {
    return static_cast<uint16_t>(registerNumber + (holding ? 39890u : 39990u));
  }
  return static_cast<uint16_t>(registerNumber - (holding ? 301u : 1u));
}

RequestFrame BuildReadRequest(Framing framing, const DeviceAddress& address, uint32_t firstRegister,
                              uint32_t count) {
  RequestFrame frame;
  FrameWriter out(frame);
  out.Address(framing, address);
  out.Byte(firstRegister > kLastInputRegister ? 3 : 4);
  out.Word(WireRegisterAddress(framing, firstRegister, false));
  out.Byte(0);
  out.Byte(count & 0xFF);
  out.Crc();
  return frame;
}

RequestFrame BuildWriteRequest(Framing framing, const DeviceAddress& address,
                               uint32_t firstRegister, std::span<const uint16_t> values) {
  RequestFrame frame;
  if (values.size() > kMaxWriteRegisters) return frame;
  FrameWriter out(frame);
  out.Address(framing, address);
  out.Byte(0x10);
  out.Word(WireRegisterAddress(framing, firstRegister, true));
  out.Word(static_cast<uint32_t>(values.size()));
  out.Byte(static_cast<uint32_t>(values.size() * 2));
  for (const uint16_t value : values) out.Word(value);
  out.Crc();
  return frame;
}

RequestFrame BuildCoilRequest(Framing framing, const DeviceAddress& address, uint32_t coilNumber) {
  RequestFrame frame;
  FrameWriter out(frame);
  out.Address(framing, address);
  out.Byte(0x05);
  out.Word(framing == FramingModbus ? coilNumber - 1 : coilNumber);
  out.Byte(0xFF);
  out.Byte(0x00);
  out.Crc();
  return frame;
}

std::string SerialNumberText(const SerialBytes& serial) {
  std::string text;
  text.reserve(12);
  for (const uint8_t byte : serial) {
    text.push_back(static_cast<char>((byte >> 4) | 0x30));
    text.push_back(static_cast<char>((byte & 0x0F) | 0x30));
  }
  return text;
}

std::array<uint16_t, 3> SerialNumberWords(uint64_t number) {
  const SerialBytes bytes = SerialNumberBytes(number);
  return {static_cast<uint16_t>((bytes[0] << 8) | bytes[1]),
          static_cast<uint16_t>((bytes[2] << 8) | bytes[3]),
          static_cast<uint16_t>((bytes[4] << 8) | bytes[5])};
}

SerialBytes SerialNumberBytes(uint64_t number) {
  SerialBytes bytes{};
  for (int i = 5; i >= 0; --i) {
    bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(((number / 10) % 10) * 16 + number % 10);
    number /= 100;
  }
  return bytes;
}

}  // namespace pyranex
