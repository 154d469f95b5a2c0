#pragma once

#include <cstdint>
#include <string>

namespace pyranex {

// The widgets and the system view as the power view drives them. The GUI implements it with
// the chart pane, the gauge, the two text boxes and the system view's CO2 figure.
class PowerViewDisplay {
 public:
  virtual ~PowerViewDisplay() = default;
  // Chart pane.
  virtual void SetStartTime(int64_t seconds) = 0;
  virtual void SetYRange(double minimum, double maximum) = 0;
  virtual void AddPoint(uint32_t tickMs, float value) = 0;
  virtual void Clear() = 0;
  // Gauge.
  virtual void SetPercent(int percent) = 0;
  // Text boxes.
  virtual void SetPowerText(const std::string& text, int lines) = 0;
  virtual void SetEnergyText(const std::string& text, int lines) = 0;
  // System view.
  virtual void SetCo2Reduction(float kg) = 0;
  // The whole view is to be repainted (a new day log began).
  virtual void InvalidateView() {}
};

}  // namespace pyranex
