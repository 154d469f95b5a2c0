#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace pyranex {

enum Framing : uint32_t {
  FramingSerial = 0,  // six-byte address: the serial number in packed BCD
  FramingModbus = 1,  // one-byte slave address ("Std. Modbus")
};

using DeviceAddress = std::array<uint8_t, 6>;  // only byte 0 is used in Modbus framing
using SerialBytes = std::array<uint8_t, 6>;    // packed BCD, most significant digit pair first

inline constexpr DeviceAddress kBroadcastAddress{0x99, 0x99, 0x99, 0x99, 0x99, 0x99};
inline constexpr uint8_t kProbeAddress = 0xFF;
inline constexpr uint32_t kLastInputRegister = 81;  // above: holding registers
inline constexpr size_t kMaxWriteRegisters = 93;    // a write frame fits in 200 bytes

constexpr size_t AddressLength(Framing framing) {
  return framing == FramingSerial ? 6 : 1;
}

// CRC-16/MODBUS (init 0xFFFF, reflected poly 0xA001). The low byte is sent first.
uint16_t ModbusCrc16(const uint8_t* data, uint16_t length);
inline uint16_t ModbusCrc16(std::span<const uint8_t> bytes) {
  return ModbusCrc16(bytes.data(), static_cast<uint16_t>(bytes.size()));
}

// Wire register address of the program's 1-based register number.
uint16_t WireRegisterAddress(Framing framing, uint32_t registerNumber, bool write);

// A request frame, built whole before it is handed to the port.
struct RequestFrame {
  std::array<uint8_t, 256> bytes{};
  size_t size = 0;
  std::span<const uint8_t> View() const { return {bytes.data(), size}; }
};

// Read (function 4 for registers up to 81, else 3); count is sent in the low quantity byte.
RequestFrame BuildReadRequest(Framing framing, const DeviceAddress& address, uint32_t firstRegister,
                              uint32_t count);
// Write multiple registers (function 16). Returns an empty frame for more than 93 values.
RequestFrame BuildWriteRequest(Framing framing, const DeviceAddress& address,
                               uint32_t firstRegister, std::span<const uint16_t> values);
// Write single coil ON (function 5). coilNumber is 1-based; Modbus framing sends coilNumber - 1.
RequestFrame BuildCoilRequest(Framing framing, const DeviceAddress& address, uint32_t coilNumber);

// Twelve characters, high nibble first, each nibble OR 0x30 (":" to "?" for nibbles above 9).
std::string SerialNumberText(const SerialBytes& serial);
// The three BCD words of a number of up to 12 decimal digits (registers 301..303).
std::array<uint16_t, 3> SerialNumberWords(uint64_t number);
// The six packed BCD bytes of a number of up to 12 decimal digits.
SerialBytes SerialNumberBytes(uint64_t number);

}  // namespace pyranex
