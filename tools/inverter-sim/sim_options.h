#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inverter_simulator.h"

namespace pyranex::sim {

struct SimOptions {
  SimulatorConfig config;
  bool help = false;
};

// Parses the inverter-sim command line (without the program name). On failure returns false
// with a one-line reason in `error`.
bool ParseSimOptions(const std::vector<std::string>& args, SimOptions* options, std::string* error);

// Applies one fault option ("bad-crc", "delay 300", "clear", ...: the long option without its
// dashes, then its value) to `faults`; used for the command line and for commands typed while
// running. Returns false with a reason for an unknown name or a bad value.
bool ApplyFaultOption(std::string_view name, std::string_view value, FaultConfig* faults,
                      std::string* error);
// True when the fault option `name` takes a value.
bool FaultOptionTakesValue(std::string_view name);

std::string SimUsage();

}  // namespace pyranex::sim
