#include "core/mqtt/mqtt_status.h"

#include <algorithm>

namespace pyranex {

std::string FormatMqttStatus(const MqttStatus& status) {
  std::string text = "MQTT: ";
  switch (status.state) {
    case MqttState::WaitingForInverter:
      text += "waiting for the inverter's serial number";
      break;
    case MqttState::Connecting:
      text += "connecting to " + status.broker;
      break;
    case MqttState::Connected:
      text += "connected to " + status.broker;
      break;
    case MqttState::Retrying: {
      text += status.broker + (status.loginRefused ? " refused the login" : " away");
      if (!status.lastError.empty()) text += " (" + status.lastError + ")";
      const auto seconds = (status.retryIn.count() + 999) / 1000;
      text += ", next try in " + std::to_string(seconds) + " s";
      break;
    }
    case MqttState::Stopped:
      text += "off";
      break;
  }
  if (status.queued > 0 || status.dropped > 0) {
    text += "; " + std::to_string(status.queued) + " record" + (status.queued == 1 ? "" : "s") +
            " queued";
    if (status.dropped > 0) text += ", " + std::to_string(status.dropped) + " dropped";
  }
  return text;
}

std::chrono::milliseconds ReconnectDelay(unsigned failures, double jitter) {
  const unsigned doublings = std::min(failures == 0 ? 0u : failures - 1, 5u);
  const int64_t base = std::min<int64_t>(int64_t{1000} << doublings, 30'000);
  const double stretch = 1.0 + 0.2 * std::clamp(jitter, 0.0, 1.0);
  return std::chrono::milliseconds(static_cast<int64_t>(static_cast<double>(base) * stretch));
}

}  // namespace pyranex
