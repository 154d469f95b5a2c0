#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pyranex {

enum class MqttState {
  WaitingForInverter,  // the base topic names the inverter: nothing to say before it answers
  Connecting,
  Connected,
  Retrying,  // the broker is away or refused us; the next attempt comes by itself
  Stopped,
};

// What the publisher is doing, for the status bar and the command line.
struct MqttStatus {
  MqttState state = MqttState::Stopped;
  std::string broker;     // "host:port"
  std::string lastError;  // why the last attempt failed or the connection ended
  bool loginRefused = false;
  size_t queued = 0;  // records waiting for the broker
  size_t capacity = 0;
  uint64_t dropped = 0;    // records dropped, oldest first, because the queue was full
  uint64_t published = 0;  // records handed to the broker
  uint64_t unsent = 0;     // records still queued when the publisher stopped
  std::chrono::milliseconds retryIn{0};
};

// One line: "MQTT: connected to host:1883", "MQTT: host:1883 away (connection refused), next
// try in 4 s; 12 records queued, 3 dropped", "MQTT: host:1883 refused the login (...)".
std::string FormatMqttStatus(const MqttStatus& status);

// The wait before reconnecting after `failures` failed attempts in a row (1 after the first):
// 1 s, 2 s, 4 s, ... at most 30 s, stretched by up to 20 % by `jitter` (0 to 1) so that loggers
// restarted together do not all knock at the same moment.
std::chrono::milliseconds ReconnectDelay(unsigned failures, double jitter);

}  // namespace pyranex
