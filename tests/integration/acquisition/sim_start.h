#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "inverter_simulator.h"

namespace pyranex::test {

// A simulated inverter on COM<com> through `portsDir`, its day begun at `hour` o'clock. Null,
// with the reason in `error`, when it cannot start.
inline std::unique_ptr<sim::InverterSimulator> StartSimulator(const std::filesystem::path& portsDir,
                                                              unsigned com,
                                                              sim::FramingMode framing, int hour,
                                                              const sim::FaultConfig& faults,
                                                              std::string& error) {
  sim::SimulatorConfig config;
  config.portsDir = portsDir;
  config.comNumber = com;
  config.framing = framing;
  config.startSecondOfDay = hour * 3600;
  config.faults = faults;
  auto simulator = std::make_unique<sim::InverterSimulator>(config);
  if (!simulator->Start(&error)) return nullptr;
  return simulator;
}

}  // namespace pyranex::test
