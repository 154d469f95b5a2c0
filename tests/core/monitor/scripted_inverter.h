#pragma once

// An inverter in standard Modbus framing for the monitor tests: answers reads from a register
// table and takes writes into it, recording them; what it takes reads back as the device's does.

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "core/acquisition/engine_harness.h"
#include "core/link/frame_codec.h"

namespace pyranex::test {

// The inverter behind the line, in standard Modbus framing: registers by the program's numbers.
struct ScriptedInverter {
  uint8_t address = 1;
  std::map<uint32_t, uint16_t> regs;
  std::vector<std::pair<uint32_t, std::vector<uint16_t>>> writes;
  std::vector<uint32_t> coils;

  uint16_t Get(uint32_t n) const {
    const auto it = regs.find(n);
    return it == regs.end() ? 0 : it->second;
  }
  // The reply to one request frame, or nothing when it is not addressed to us.
  Bytes Answer(const Bytes& request) const {
    if (request.size() < 8 || request[0] != address) return {};
    const uint8_t function = request[1];
    const unsigned wire = request[2] * 256u + request[3];
    Bytes reply{address, function};
    if (function == 3 || function == 4) {
      const unsigned count = request[4] * 256u + request[5];
      const uint32_t first = function == 4 ? wire + 1 : wire + 301;
      reply.push_back(static_cast<uint8_t>(count * 2));
      for (unsigned i = 0; i < count; ++i) {
        reply.push_back(static_cast<uint8_t>(Get(first + i) >> 8));
        reply.push_back(static_cast<uint8_t>(Get(first + i) & 0xFF));
      }
    } else {
      reply.insert(reply.end(), request.begin() + 2, request.begin() + 6);
    }
    return WithCrc(reply);
  }
  void Apply(const Bytes& request) {
    if (request[1] == 16) {
      const uint32_t first = request[2] * 256u + request[3] + 301;
      std::vector<uint16_t> values;
      for (size_t i = 7; i + 2 < request.size(); i += 2) {
        values.push_back(static_cast<uint16_t>(request[i] << 8 | request[i + 1]));
      }
      for (size_t i = 0; i < values.size(); ++i) {
        const uint32_t n = first + static_cast<uint32_t>(i);
        regs[n] = values[i];
        // As the device does: the serial number, the settings 311..340 and the power limit
        // are read back through input registers.
        if (n >= 301 && n <= 303) regs[n - 300] = values[i];
        if (n >= 311 && n <= 340) regs[n - 265] = values[i];
        if (n == 359) regs[81] = values[i];
      }
      writes.emplace_back(first, values);
    } else if (request[1] == 5) {
      coils.push_back(request[2] * 256u + request[3] + 1);
    }
  }
};

}  // namespace pyranex::test
