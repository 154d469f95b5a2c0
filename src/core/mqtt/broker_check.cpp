#include "core/mqtt/broker_check.h"

#include <mosquitto.h>

#include <optional>

#include "core/mqtt/broker_url.h"
#include "core/mqtt/mosquitto_client.h"
#include "core/mqtt/topics.h"

namespace pyranex {

namespace {

struct Attempt {
  std::optional<int> connack;
  std::string logError;
};

BrokerCheck Result(BrokerCheckOutcome outcome, std::string text) {
  return BrokerCheck{outcome, std::move(text)};
}

}  // namespace

BrokerCheck CheckBroker(const MqttSettings& settings, std::chrono::milliseconds limit) {
  std::string error;
  const std::optional<BrokerAddress> address = ParseBrokerUrl(settings.url, &error);
  if (!address) return Result(BrokerCheckOutcome::Unusable, error);
  if (!settings.baseTopic.empty()) {
    if (std::string why = CheckBaseTopic(settings.baseTopic); !why.empty()) {
      return Result(BrokerCheckOutcome::Unusable, why);
    }
  }
  Attempt attempt;
  MosquittoPtr client = MakeMosquittoClient(settings, *address, &attempt, &error);
  if (!client) return Result(BrokerCheckOutcome::Unusable, error);
  mosquitto_connect_callback_set(client.get(), [](mosquitto*, void* userdata, int rc) {
    static_cast<Attempt*>(userdata)->connack = rc;
  });
  mosquitto_log_callback_set(client.get(),
                             [](mosquitto*, void* userdata, int level, const char* text) {
                               if (level == MOSQ_LOG_ERR && text != nullptr)
                                 static_cast<Attempt*>(userdata)->logError = text;
                             });

  const std::string where = FormatBrokerAddress(*address);
  int rc = mosquitto_connect_async(client.get(), address->host.c_str(), address->port, 30);
  if (rc == MOSQ_ERR_EAI) {
    return Result(BrokerCheckOutcome::Unusable,
                  "the broker's host name '" + address->host + "' is not known");
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (rc == MOSQ_ERR_SUCCESS && !attempt.connack &&
         std::chrono::steady_clock::now() < deadline) {
    rc = mosquitto_loop(client.get(), 50, 1);
  }
  if (attempt.connack) {
    const int code = *attempt.connack;
    if (code == 0) {
      mosquitto_disconnect(client.get());
      mosquitto_loop(client.get(), 0, 1);
      std::string text = "Connected to " + where;
      if (!settings.user.empty()) text += " as '" + settings.user + "'";
      text += address->tls ? " over TLS." : ".";
      return Result(BrokerCheckOutcome::Ok, text);
    }
    std::string text = where + " refused the login: " + mosquitto_connack_string(code);
    if (code == 4 || code == 5) text += " (check the user name and the password)";
    return Result(BrokerCheckOutcome::Refused, text);
  }
  if (rc == MOSQ_ERR_TLS) {
    std::string text = "TLS with " + where + " failed";
    if (!attempt.logError.empty()) text += ": " + attempt.logError;
    text +=
        " (is the CA file the one that signed the broker's certificate, and does the "
        "certificate name this host?)";
    return Result(BrokerCheckOutcome::TlsFailed, text);
  }
  if (rc == MOSQ_ERR_CONN_LOST && !address->tls) {
    return Result(BrokerCheckOutcome::Unreachable,
                  where + " closed the connection at once (a TLS port? then use mqtts://)");
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    return Result(BrokerCheckOutcome::Unreachable,
                  "no MQTT broker at " + where + " (" + MosquittoErrorText(rc) + ")");
  }
  return Result(BrokerCheckOutcome::Unreachable, "no answer from " + where + " within " +
                                                     std::to_string(limit.count() / 1000) +
                                                     " s (is it an MQTT broker?)");
}

}  // namespace pyranex
