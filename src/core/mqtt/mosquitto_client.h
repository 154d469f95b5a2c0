#pragma once

#include <memory>
#include <string>

#include "core/mqtt/broker_url.h"
#include "core/mqtt/mqtt_settings.h"

struct mosquitto;

namespace pyranex {

struct MosquittoDeleter {
  void operator()(mosquitto* client) const;
};
using MosquittoPtr = std::unique_ptr<mosquitto, MosquittoDeleter>;

// A libmosquitto client for `settings` (MQTT 3.1.1, clean session, a client id of its own,
// user and password, TLS with the CA file or the system's CAs, no Nagle delay); `userdata` goes
// to its callbacks. Null, and why in `error`, when the settings cannot work (an unreadable CA
// file, say).
MosquittoPtr MakeMosquittoClient(const MqttSettings& settings, const BrokerAddress& address,
                                 void* userdata, std::string* error);

// What a libmosquitto return code means, in words (the system's text for MOSQ_ERR_ERRNO).
std::string MosquittoErrorText(int rc);

}  // namespace pyranex
