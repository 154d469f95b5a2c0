#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pyranex {

// Where the broker is: `mqtt://host[:port]` (plain, port 1883) or `mqtts://host[:port]` (TLS,
// port 8883). An IPv6 address goes in brackets: `mqtt://[::1]:1883`.
struct BrokerAddress {
  std::string host;
  uint16_t port = 1883;
  bool tls = false;
};

// Nothing, and the reason in `error`, for anything else: another scheme, a user or password in
// the URL (they would show in the process list and in logs), a path, a bad port.
std::optional<BrokerAddress> ParseBrokerUrl(std::string_view url, std::string* error);

// "host:port" (IPv6 in brackets), for messages.
std::string FormatBrokerAddress(const BrokerAddress& address);

}  // namespace pyranex
