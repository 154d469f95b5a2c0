#include "day_curve.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace pyranex::sim {

CurvePoint CurveAt(double t, double ratedPowerW) {
  CurvePoint p{};
  const double pi = std::numbers::pi;
  p.acVoltageV = 230.0 + 3.0 * std::sin(t / 600.0);
  p.frequencyHz = 50.0 + 0.02 * std::sin(t / 97.0);
  p.dcInjectionMa = static_cast<int16_t>(std::lround(6.0 * std::sin(t / 400.0)));
  p.state = OperatingState::Waiting;
  p.temperatureC = 20.0;

  const bool sunUp = t > kSunrise && t < kSunset;
  if (!sunUp) return p;

  const double x = (t - kSunrise) / (kSunset - kSunrise);
  const double sun = std::sin(pi * x);
  p.dcVoltageV = 250.0 + 130.0 * std::sqrt(sun);
  if (t < kSunrise + kStartDelay) return p;

  const double ripple = 1.0 - 0.06 * (0.5 + 0.5 * std::sin(t / 317.0));
  p.acPowerW = 0.92 * ratedPowerW * std::pow(sun, 1.3) * ripple;
  p.state = OperatingState::Inverting;

  if (t >= kWarningBegin && t < kWarningEnd) {
    p.state = OperatingState::Warning;
    p.faultBits = 1u << kFaultBitHighTemperature;
    p.acPowerW *= 0.7;
    p.temperatureC += 12.0;
  } else if (t >= kFaultBegin && t < kFaultEnd) {
    p.state = OperatingState::Fault;
    p.faultBits = 1u << kFaultBitGridVoltage;
    p.acPowerW = 0.0;
    p.acVoltageV = 266.0;
  }
  p.temperatureC += 25.0 * std::clamp(p.acPowerW / ratedPowerW, 0.0, 1.0);
  return p;
}

}  // namespace pyranex::sim
