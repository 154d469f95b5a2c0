#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "inverter_model.h"

namespace pyranex::sim {

// Which address forms the simulated inverter answers.
enum class FramingMode {
  Modbus,  // one-byte slave address, including the 0xFF probe
  Serial,  // six-byte serial-number address, including the 99 99 99 99 99 99 broadcast
  Both,
};

inline constexpr uint8_t kModbusProbeAddress = 0xFF;
inline constexpr uint8_t kModbusBroadcast = 0x00;

// Modbus exception codes.
inline constexpr uint8_t kIllegalFunction = 1;
inline constexpr uint8_t kIllegalAddress = 2;
inline constexpr uint8_t kIllegalValue = 3;

struct Answer {
  // Empty when the request is not for us or is a broadcast write.
  std::optional<std::vector<uint8_t>> reply;
  bool addressedToUs = false;
  uint8_t function = 0;
  // For reads: the number of registers asked for (0 otherwise).
  unsigned quantity = 0;
};

// Executes one complete, CRC-checked request frame against the model and builds the reply.
// The reply goes back under the address the request used, except that a request sent to the
// inverter's own address is answered under its address as it is after the request: a write of
// the serial number or of the slave address is answered under the new one, as the program
// expects.
Answer Respond(InverterModel& model, std::span<const uint8_t> frame, std::size_t addressLength,
               FramingMode mode);

// Exception reply (function | 0x80, code) to a request, under the request's address.
std::vector<uint8_t> ExceptionReply(std::span<const uint8_t> address, uint8_t function,
                                    uint8_t code);

// Appends the CRC, low byte first.
void AppendCrc(std::vector<uint8_t>& frame);

}  // namespace pyranex::sim
