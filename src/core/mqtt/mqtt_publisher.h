#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "core/acquisition/live_record.h"
#include "core/mqtt/mqtt_settings.h"
#include "core/mqtt/mqtt_status.h"
#include "core/mqtt/payloads.h"

namespace pyranex {

// Feeds the home energy bus: publishes each live record, the link, the inverter's identity and
// Home Assistant discovery to an MQTT broker, from a network thread of its own.
//
// Accept and SetLink only queue and return: a slow or absent broker never holds up the thread
// that calls them. The queue holds at most `queueCapacity` records; when it is full the oldest
// record is dropped and counted. While the broker is away the publisher reconnects by itself
// with a growing wait (ReconnectDelay) and then sends what is queued, in order. The broker
// announces "offline" on the availability topic (the last will) when the program dies; a
// normal Stop says so itself.
class MqttPublisher final : public RecordSink {
 public:
  // Starts the network thread. Nothing, and why in `error`, when the settings cannot work (a
  // bad URL or base topic, an unreadable CA file): nothing is started then.
  static std::unique_ptr<MqttPublisher> Start(MqttSettings settings, std::string* error);
  ~MqttPublisher() override;
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  // RecordSink: queues the record (any thread).
  void Accept(const LiveRecord& record) override;
  // The link as the status bar shows it; published when its condition changes (any thread).
  void SetLink(const LinkReport& link);

  MqttStatus Status() const;

  // Sends what is queued for at most `limit`, announces "offline" and disconnects; the records
  // still queued then are counted as unsent. Idempotent.
  void Stop(std::chrono::milliseconds limit = std::chrono::seconds(3));

  // True once the broker holds everything handed over so far (tests and benchmarks).
  bool WaitUntilIdle(std::chrono::milliseconds limit);

  struct Impl;

 private:
  explicit MqttPublisher(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace pyranex
