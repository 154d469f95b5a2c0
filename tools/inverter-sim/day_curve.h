#pragma once

#include <cstdint>

namespace pyranex::sim {

// Operating states as register 41 reports them.
enum class OperatingState : uint16_t { Waiting = 0, Inverting = 1, Warning = 2, Fault = 3 };

// What the inverter measures at one moment of a clear day with a few events in it.
struct CurvePoint {
  double acPowerW;
  double dcVoltageV;
  double acVoltageV;
  double frequencyHz;
  double temperatureC;
  int16_t dcInjectionMa;
  uint32_t faultBits;
  OperatingState state;
};

// Fault bit numbers used by the day's events (bit i of the 32-bit fault value).
inline constexpr int kFaultBitHighTemperature = 29;
inline constexpr int kFaultBitGridVoltage = 27;

// Times of day (seconds after local midnight) that shape the day.
inline constexpr double kSunrise = 6.0 * 3600;
inline constexpr double kSunset = 18.0 * 3600;
inline constexpr double kStartDelay = 5.0 * 60;  // the inverter waits this long after sunrise
inline constexpr double kWarningBegin = 11.0 * 3600;
inline constexpr double kWarningEnd = kWarningBegin + 10 * 60;
inline constexpr double kFaultBegin = 14.0 * 3600;
inline constexpr double kFaultEnd = kFaultBegin + 3 * 60;

// The day as a pure function of the time of day and the rated power: a sine-shaped power curve
// between sunrise and sunset with a little ripple, an over-temperature warning that derates the
// output late in the morning and a short grid-voltage fault in the afternoon.
CurvePoint CurveAt(double secondOfDay, double ratedPowerW);

}  // namespace pyranex::sim
