#pragma once

#include <chrono>
#include <string>

#include "core/mqtt/mqtt_settings.h"

namespace pyranex {

enum class BrokerCheckOutcome {
  Ok,           // connected and logged in
  Unusable,     // the settings cannot work: bad URL, unreadable CA file, unknown host
  TlsFailed,    // the broker's certificate was not accepted, or TLS did not start
  Refused,      // the broker refused the login
  Unreachable,  // nobody answered at that address (yet)
};

struct BrokerCheck {
  BrokerCheckOutcome outcome = BrokerCheckOutcome::Unreachable;
  std::string text;  // one plain sentence: what happened and, where it helps, what to do
};

// Connects to the broker once, as the publisher would, and says plainly how it went. Blocks
// for at most about `limit`.
BrokerCheck CheckBroker(const MqttSettings& settings, std::chrono::milliseconds limit);

}  // namespace pyranex
