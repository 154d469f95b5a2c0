#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "inverter_simulator.h"
#include "wire_client.h"

namespace pyranex::test {

// Requests as the program frames them, built here from the wire rules rather than by any codec.
inline Bytes Addressed(const Bytes& address, Bytes pdu) {
  Bytes frame = address;
  frame.insert(frame.end(), pdu.begin(), pdu.end());
  return WithCrc(frame);
}
inline uint8_t Hi(unsigned v) {
  return static_cast<uint8_t>(v >> 8);
}
inline uint8_t Lo(unsigned v) {
  return static_cast<uint8_t>(v & 0xFF);
}

// Write multiple registers (0x10) from wire address `wire`, whatever the framing.
inline Bytes WritePdu(unsigned wire, const std::vector<uint16_t>& values) {
  Bytes pdu{0x10,
            Hi(wire),
            Lo(wire),
            0,
            static_cast<uint8_t>(values.size()),
            static_cast<uint8_t>(values.size() * 2)};
  for (uint16_t v : values) {
    pdu.push_back(Hi(v));
    pdu.push_back(Lo(v));
  }
  return pdu;
}

// Modbus framing: input register n is wire n - 1, holding register n is wire n - 301.
inline Bytes ModbusRead(uint8_t address, unsigned reg, unsigned count) {
  const bool input = reg <= 81;
  const unsigned wire = input ? reg - 1 : reg - 301;
  return Addressed({address}, {static_cast<uint8_t>(input ? 4 : 3), Hi(wire), Lo(wire), 0,
                               static_cast<uint8_t>(count)});
}
inline Bytes ModbusWrite(uint8_t address, unsigned reg, const std::vector<uint16_t>& values) {
  return Addressed({address}, WritePdu(reg - 301, values));
}
inline Bytes ModbusCoil(uint8_t address, unsigned coil) {
  return Addressed({address}, {5, 0, static_cast<uint8_t>(coil - 1), 0xFF, 0x00});
}

// Serial framing: six-byte address, wire n + 39990 (inputs) or n + 39890 (holding).
inline Bytes SerialRead(const Bytes& address, unsigned reg, unsigned count) {
  const bool input = reg <= 81;
  const unsigned wire = input ? reg + 39990 : reg + 39890;
  return Addressed(address, {static_cast<uint8_t>(input ? 4 : 3), Hi(wire), Lo(wire), 0,
                             static_cast<uint8_t>(count)});
}
inline Bytes SerialWrite(const Bytes& address, unsigned reg, const std::vector<uint16_t>& values) {
  return Addressed(address, WritePdu(reg + 39890, values));
}

inline const Bytes kBroadcast = {0x99, 0x99, 0x99, 0x99, 0x99, 0x99};
inline const Bytes kSerialAddress = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12};

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pyranex-sim-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    config.portsDir = dir_ / "ports";
    config.comNumber = 7;
    config.startSecondOfDay = 12 * 3600;
    config.identity.serialNumber = 123456789012;
  }
  void TearDown() override {
    client.reset();
    if (sim) sim->Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Start() {
    sim = std::make_unique<sim::InverterSimulator>(config);
    std::string error;
    ASSERT_TRUE(sim->Start(&error)) << error;
    Connect();
  }
  void Connect() {
    client = std::make_unique<WireClient>(sim->LinkPath());
    ASSERT_TRUE(client->IsOpen());
  }
  const std::filesystem::path& Dir() const { return dir_; }

  sim::SimulatorConfig config;
  std::unique_ptr<sim::InverterSimulator> sim;
  std::unique_ptr<WireClient> client;

 private:
  std::filesystem::path dir_;
};

}  // namespace pyranex::test
