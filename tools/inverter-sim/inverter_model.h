#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "day_curve.h"

namespace pyranex::sim {

inline constexpr unsigned kFirstInput = 1;
inline constexpr unsigned kLastInput = 81;
inline constexpr unsigned kFirstHolding = 301;
inline constexpr unsigned kLastHolding = 361;

struct InverterIdentity {
  uint64_t serialNumber = 123456789012;  // twelve decimal digits
  uint16_t firmwareVersion = 500;        // register 45: version x 100
  uint16_t ratedPower = 50;              // register 44: units of 100 W
  uint16_t addressRegister = 1;          // register 361: the low byte is the slave address
};

// Packed BCD of the twelve digits, most significant pair first.
std::array<uint8_t, 6> SerialToBcd(uint64_t serialNumber);
// Decimal value of packed BCD digits; nibbles above 9 are taken as they are (x10 weight).
uint64_t BcdToSerial(const std::array<uint8_t, 6>& bcd);

// One write the inverter took: holding registers from `first` (function 6 or 16), or a coil.
struct SimWrite {
  bool coil = false;
  unsigned first = 0;  // register number, or coil number
  std::vector<uint16_t> values;
  friend bool operator==(const SimWrite&, const SimWrite&) = default;
};

// Simulated seconds an auto test keeps the inverter off the grid (state "Waiting").
inline constexpr double kAutoTestSeconds = 30.0;

// The inverter behind the wire: its registers, coils and the day it lives through. Time moves
// only through AdvanceTo, so the model is deterministic and cheap to test.
class InverterModel {
 public:
  InverterModel(const InverterIdentity& identity, double startSecondOfDay);

  // Moves the simulated clock forward to `simSeconds` after the start, integrating energy and
  // running time on the way; crossing midnight starts a new day.
  void AdvanceTo(double simSeconds);

  std::optional<uint16_t> InputRegister(unsigned number) const;
  std::optional<uint16_t> HoldingRegister(unsigned number) const;
  // False for a register outside 301..361.
  bool WriteHolding(unsigned number, uint16_t value);
  // Coil 1 clears the energy counters, coil 2 starts the auto test; false for other coils.
  bool WriteCoil(unsigned number, bool on);

  uint8_t SlaveAddress() const {
    return static_cast<uint8_t>(holding_[361 - kFirstHolding] & 0xFF);
  }
  std::array<uint8_t, 6> SerialBcd() const;
  uint16_t FirmwareVersion() const { return identity_.firmwareVersion; }
  unsigned AutoTestCount() const { return autoTests_; }
  bool AutoTestRunning() const { return simSeconds_ < autoTestUntil_; }
  // Every write taken, in order.
  const std::vector<SimWrite>& Writes() const { return writes_; }
  void RecordWrite(SimWrite write) { writes_.push_back(std::move(write)); }
  void ClearWrites() { writes_.clear(); }
  double SecondOfDay() const { return secondOfDay_; }
  double EnergyTodayKwh() const { return energyTodayWh_ / 1000.0; }
  double EnergyTotalKwh() const { return energyTotalWh_ / 1000.0; }
  const CurvePoint& Now() const { return now_; }

 private:
  void Step(double dt);
  double RatedW() const { return identity_.ratedPower * 100.0; }

  InverterIdentity identity_;
  std::array<uint16_t, kLastHolding - kFirstHolding + 1> holding_{};
  double simSeconds_ = 0;
  double secondOfDay_;
  double energyTodayWh_ = 0;
  double energyTotalWh_ = 12'345'600;  // a few years of service
  double runSecondsToday_ = 0;
  double runSecondsTotal_ = 4321.0 * 3600;
  unsigned autoTests_ = 0;
  double autoTestUntil_ = -1;
  std::vector<SimWrite> writes_;
  CurvePoint now_;
};

}  // namespace pyranex::sim
