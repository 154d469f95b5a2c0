#include "sim_crc.h"

namespace pyranex::sim {

uint16_t Crc16Modbus(std::span<const uint8_t> bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      const bool carry = (crc & 1u) != 0;
      crc = static_cast<uint16_t>(crc >> 1);
      if (carry) crc ^= 0xA001;
    }
  }
  return crc;
}

bool HasValidCrc(std::span<const uint8_t> frame) {
  if (frame.size() < 3) return false;
  const uint16_t crc = Crc16Modbus(frame.first(frame.size() - 2));
  return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

}  // namespace pyranex::sim
