#include "inverter_model.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace pyranex::sim {

namespace {

constexpr double kDay = 86400.0;
constexpr double kMaxStep = 10.0;  // integration step, simulated seconds

uint16_t Tenths(double v) {
  return static_cast<uint16_t>(std::lround(std::max(0.0, v) * 10.0));
}
uint16_t High(uint32_t v) {
  return static_cast<uint16_t>(v >> 16);
}
uint16_t Low(uint32_t v) {
  return static_cast<uint16_t>(v & 0xFFFF);
}

}  // namespace

std::array<uint8_t, 6> SerialToBcd(uint64_t serialNumber) {
  std::array<uint8_t, 6> bcd{};
  for (int i = 5; i >= 0; --i) {
    const auto pair = static_cast<unsigned>(serialNumber % 100);
    bcd[static_cast<std::size_t>(i)] = static_cast<uint8_t>((pair / 10) * 16 + pair % 10);
    serialNumber /= 100;
  }
  return bcd;
}

uint64_t BcdToSerial(const std::array<uint8_t, 6>& bcd) {
  uint64_t value = 0;
  for (uint8_t b : bcd) value = value * 100 + (b >> 4) * 10 + (b & 0x0F);
  return value;
}

InverterModel::InverterModel(const InverterIdentity& identity, double startSecondOfDay)
    : identity_(identity), secondOfDay_(std::fmod(std::max(0.0, startSecondOfDay), kDay)) {
  auto set = [this](unsigned n, uint16_t v) { holding_[n - kFirstHolding] = v; };
  const auto bcd = SerialToBcd(identity.serialNumber);
  for (unsigned i = 0; i < 3; ++i)
    set(301 + i, static_cast<uint16_t>(bcd[2 * i] << 8 | bcd[2 * i + 1]));
  // Grid-protection defaults: limits in tenths of volts or hundredths of hertz, times in 10 ms.
  const uint16_t protection[] = {1500, 60,   2030, 1800, 50,   10,   2700, 2900, 50,   10,
                                 4800, 4500, 50,   10,   5200, 5500, 50,   10,   3000, 2000};
  for (unsigned i = 0; i < std::size(protection); ++i) set(311 + i, protection[i]);
  set(331, 1);  // language
  set(332, 3);  // contrast
  constexpr std::string_view standard = "AS4777      ";
  for (unsigned i = 0; i < 6; ++i) {
    set(333 + i, static_cast<uint16_t>(standard[2 * i] << 8 | standard[2 * i + 1]));
  }
  set(339, 1);                                                // GFCI on
  set(340, 1);                                                // ISO on
  for (unsigned n = 341; n <= 356; n += 2) set(n + 1, 1000);  // gains 100.0, offsets 0
  set(357, 1);                                                // island test off
  set(358, 0);                                                // standard number
  set(359, 1000);                                             // full power limit 100.0 %
  set(360, 1);
  set(361, identity.addressRegister);
  // The day so far: an inverter met at noon has already made the morning's energy.
  const double start = secondOfDay_;
  secondOfDay_ = 0;
  now_ = CurveAt(0, RatedW());
  while (secondOfDay_ < start) Step(std::min(kMaxStep, start - secondOfDay_));
  secondOfDay_ = start;
  now_ = CurveAt(secondOfDay_, RatedW());
}

void InverterModel::AdvanceTo(double simSeconds) {
  while (simSeconds_ < simSeconds) {
    const double dt = std::min(kMaxStep, simSeconds - simSeconds_);
    Step(dt);
    simSeconds_ += dt;
  }
}

void InverterModel::Step(double dt) {
  const CurvePoint before = CurveAt(secondOfDay_, RatedW());
  double next = secondOfDay_ + dt;
  if (next >= kDay) {
    // A new day: the day counters start again from zero.
    next -= kDay;
    energyTodayWh_ = 0;
    runSecondsToday_ = 0;
    secondOfDay_ = next;
    now_ = CurveAt(secondOfDay_, RatedW());
    return;
  }
  const CurvePoint after = CurveAt(next, RatedW());
  const double limit = holding_[359 - kFirstHolding] / 1000.0;  // full power limit, %/100
  const double energyWh =
      0.5 * (before.acPowerW + after.acPowerW) * std::min(limit, 1.0) * dt / 3600.0;
  energyTodayWh_ += energyWh;
  energyTotalWh_ += energyWh;
  if (after.state == OperatingState::Inverting || after.state == OperatingState::Warning) {
    runSecondsToday_ += dt;
    runSecondsTotal_ += dt;
  }
  secondOfDay_ = next;
  now_ = after;
  now_.acPowerW *= std::min(limit, 1.0);
}

std::array<uint8_t, 6> InverterModel::SerialBcd() const {
  std::array<uint8_t, 6> bcd{};
  for (unsigned i = 0; i < 3; ++i) {
    const uint16_t word = holding_[301 + i - kFirstHolding];
    bcd[2 * i] = static_cast<uint8_t>(word >> 8);
    bcd[2 * i + 1] = static_cast<uint8_t>(word & 0xFF);
  }
  return bcd;
}

std::optional<uint16_t> InverterModel::HoldingRegister(unsigned n) const {
  if (n < kFirstHolding || n > kLastHolding) return std::nullopt;
  return holding_[n - kFirstHolding];
}

bool InverterModel::WriteHolding(unsigned n, uint16_t value) {
  if (n < kFirstHolding || n > kLastHolding) return false;
  holding_[n - kFirstHolding] = value;
  return true;
}

bool InverterModel::WriteCoil(unsigned number, bool on) {
  if (number == 1) {
    if (on) {
      energyTodayWh_ = 0;
      energyTotalWh_ = 0;
    }
    return true;
  }
  if (number == 2) {
    if (on) {
      ++autoTests_;
      autoTestUntil_ = simSeconds_ + kAutoTestSeconds;
    }
    return true;
  }
  return false;
}

std::optional<uint16_t> InverterModel::InputRegister(unsigned n) const {
  if (n < kFirstInput || n > kLastInput) return std::nullopt;
  CurvePoint p = now_;
  if (AutoTestRunning()) {
    // Off the grid while it tests its trip points.
    p.acPowerW = 0;
    p.state = OperatingState::Waiting;
  }
  const bool rawWatts = identity_.firmwareVersion == 500;
  const auto power = static_cast<uint32_t>(std::lround(p.acPowerW * (rawWatts ? 1.0 : 10.0)));
  const auto energyToday = static_cast<uint32_t>(std::lround(energyTodayWh_ / 100.0));
  const auto energyTotal = static_cast<uint32_t>(std::lround(energyTotalWh_ / 100.0));
  const auto minutesToday = static_cast<uint32_t>(runSecondsToday_ / 60.0);
  const auto hoursTotal = static_cast<uint32_t>(runSecondsTotal_ / 3600.0);
  const bool producing = p.state == OperatingState::Inverting || p.state == OperatingState::Warning;
  switch (n) {
    case 1:
    case 2:
    case 3:
      return holding_[301 + (n - 1) - kFirstHolding];
    case 11:
      return Tenths(p.dcVoltageV);
    case 12:
      return Tenths(p.dcVoltageV > 0 ? p.acPowerW / p.dcVoltageV : 0);  // DC current
    case 15:
      return Tenths(p.acVoltageV);
    case 16:
      return Tenths(p.acPowerW / p.acVoltageV);  // AC current
    case 21:
      return static_cast<uint16_t>(std::lround(p.frequencyHz * 100.0));
    case 22:
      return High(power);
    case 23:
      return Low(power);
    case 24:
      return static_cast<uint16_t>(std::min<uint32_t>(energyToday, 0xFFFF));
    case 25:
      return High(energyTotal);
    case 26:
      return Low(energyTotal);
    case 27:
      return High(minutesToday);
    case 28:
      return Low(minutesToday);
    case 29:
      return High(hoursTotal);
    case 30:
      return Low(hoursTotal);
    case 31:
      return Tenths(p.temperatureC);
    case 32:
      return static_cast<uint16_t>(2048 + p.dcInjectionMa / 2);
    case 35:
      return static_cast<uint16_t>(p.dcInjectionMa);
    case 39:
      return High(p.faultBits);
    case 40:
      return Low(p.faultBits);
    case 41:
      return static_cast<uint16_t>(p.state);
    case 42:
      return Tenths(p.acVoltageV + 0.4);
    case 43:
      return Tenths(producing ? 380.0 : p.dcVoltageV);
    case 44:
      return identity_.ratedPower;
    case 45:
      return identity_.firmwareVersion;
    case 76:
      return static_cast<uint16_t>(producing ? 12 : 3);
    case 77:
      return 60;
    case 78:
      return 1500;
    case 79:
    case 80:
      return 0;
    case 81:
      return holding_[359 - kFirstHolding];
    default:
      break;
  }
  // 46..75 mirror the parameter registers 311..340 the program writes.
  if (n >= 46 && n <= 75) return holding_[n + 265 - kFirstHolding];
  return 0;
}

}  // namespace pyranex::sim
