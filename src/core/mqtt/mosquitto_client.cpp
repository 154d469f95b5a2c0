#include "core/mqtt/mosquitto_client.h"

#include <mosquitto.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

namespace pyranex {

namespace {

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

// At most 23 characters, which every broker accepts; unique enough that two loggers (or a
// window and a command line) never take each other's session.
std::string NewClientId() {
  std::random_device random;
  char id[32];
  std::snprintf(id, sizeof id, "pyranex-%d-%08x", static_cast<int>(::getpid() % 100000),
                static_cast<unsigned>(random()));
  return id;
}

}  // namespace

void MosquittoDeleter::operator()(mosquitto* client) const {
  mosquitto_destroy(client);
}

MosquittoPtr MakeMosquittoClient(const MqttSettings& settings, const BrokerAddress& address,
                                 void* userdata, std::string* error) {
  InitLibrary();
  MosquittoPtr client(mosquitto_new(NewClientId().c_str(), true, userdata));
  if (!client) {
    *error = "cannot make an MQTT client (" + MosquittoErrorText(MOSQ_ERR_ERRNO) + ")";
    return nullptr;
  }
  mosquitto_int_option(client.get(), MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_int_option(client.get(), MOSQ_OPT_TCP_NODELAY, 1);
  if (!settings.user.empty()) {
    const int rc =
        mosquitto_username_pw_set(client.get(), settings.user.c_str(),
                                  settings.password.empty() ? nullptr : settings.password.c_str());
    if (rc != MOSQ_ERR_SUCCESS) {
      *error = "the MQTT user name is not usable (" + MosquittoErrorText(rc) + ")";
      return nullptr;
    }
  } else if (!settings.password.empty()) {
    *error = "an MQTT password needs a user name";
    return nullptr;
  }
  if (address.tls) {
    if (settings.caFile.empty()) {
      const int rc = mosquitto_int_option(client.get(), MOSQ_OPT_TLS_USE_OS_CERTS, 1);
      if (rc != MOSQ_ERR_SUCCESS) {
        *error = "cannot use the system's CA certificates (" + MosquittoErrorText(rc) + ")";
        return nullptr;
      }
    } else {
      const int rc = mosquitto_tls_set(client.get(), settings.caFile.c_str(), nullptr, nullptr,
                                       nullptr, nullptr);
      if (rc != MOSQ_ERR_SUCCESS) {
        *error = "the CA file '" + settings.caFile + "' cannot be read";
        return nullptr;
      }
    }
  } else if (!settings.caFile.empty()) {
    *error = "a CA file is only used with mqtts:// (TLS)";
    return nullptr;
  }
  return client;
}

std::string MosquittoErrorText(int rc) {
  if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
  return mosquitto_strerror(rc);
}

}  // namespace pyranex
