#pragma once

#include <cstdint>
#include <span>

namespace pyranex::sim {

// CRC-16/MODBUS computed bit by bit, deliberately unlike the program's table-driven codec so a
// fault in one cannot hide behind the same fault in the other. The low byte goes on the wire first.
uint16_t Crc16Modbus(std::span<const uint8_t> bytes);

// True when the last two bytes of `frame` are the CRC (low byte first) of the bytes before them.
bool HasValidCrc(std::span<const uint8_t> frame);

}  // namespace pyranex::sim
