#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/acquisition/link_status.h"
#include "core/mqtt/mqtt_publisher.h"
#include "core/platform/clock.h"

namespace pyranex::cli {

// Exit statuses of `poll --mqtt`, decided before any polling starts (7 is a failed output).
inline constexpr int kExitMqttUnusable = 8;  // bad URL, unknown host, unreadable file, TLS failed
inline constexpr int kExitMqttRefused = 9;   // the broker refused the login

// The environment variable that may hold the broker's password.
inline constexpr const char* kMqttPasswordVariable = "PYRANEX_MQTT_PASSWORD";

struct MqttCliOptions {
  std::string url;  // empty: no publishing
  std::string user;
  std::string passwordFile;
  std::string caFile;
  std::string baseTopic;
  bool discovery = true;
  std::optional<size_t> queueCapacity;

  bool Requested() const { return !url.empty(); }
};

// Takes the MQTT options out of `args` (the rest is left for the other options). False, with
// the reason in `error`, for a bad one: a missing value, a password on the command line, an
// MQTT option without --mqtt.
bool ExtractMqttOptions(std::vector<std::string>& args, MqttCliOptions* options,
                        std::string* error);

std::string MqttUsage();

// The MQTT side of `poll`: checks the broker before polling, then publishes every live record
// and reports the broker's ups and downs on standard error.
class MqttCliSession {
 public:
  // Reads the password, checks the broker once and starts the publisher. Null, with the exit
  // status in `exitStatus` and a line on standard error, when publishing cannot work; a broker
  // that does not answer yet is only reported, as it may come later.
  static std::unique_ptr<MqttCliSession> Start(const MqttCliOptions& options, int* exitStatus);
  ~MqttCliSession();

  RecordSink& Sink() { return *publisher_; }
  // Passes the link on and reports changes of the broker's state (the interface loop calls it).
  void Tick(const LinkStatus& link, const Clock& clock);

 private:
  explicit MqttCliSession(std::unique_ptr<MqttPublisher> publisher);

  std::unique_ptr<MqttPublisher> publisher_;
  std::optional<LinkCondition> lastLink_;
  std::optional<MqttState> lastState_;
  uint64_t lastDropped_ = 0;
};

// The password: the first line of `path` (its line end taken off), else the environment
// variable. False, with the reason in `error`, when the file cannot be read.
bool ReadMqttPassword(const std::string& path, const char* fromEnvironment, std::string* password,
                      std::string* warning, std::string* error);

}  // namespace pyranex::cli
