#include "core/mqtt/broker_url.h"

#include <charconv>

namespace pyranex {

namespace {

bool IsHostNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool IsIpv6Char(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
         c == '.';
}

std::optional<BrokerAddress> Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return std::nullopt;
}

}  // namespace

std::optional<BrokerAddress> ParseBrokerUrl(std::string_view url, std::string* error) {
  BrokerAddress address;
  const std::string_view plain = "mqtt://";
  const std::string_view secure = "mqtts://";
  std::string_view rest;
  if (url.substr(0, plain.size()) == plain) {
    rest = url.substr(plain.size());
  } else if (url.substr(0, secure.size()) == secure) {
    rest = url.substr(secure.size());
    address.tls = true;
    address.port = 8883;
  } else if (url.empty()) {
    return Fail(error, "no broker URL (mqtt://host[:port] or mqtts://host[:port])");
  } else {
    return Fail(error, "the broker URL must start with mqtt:// or mqtts:// (got '" +
                           std::string(url) + "')");
  }
  if (rest.find('@') != std::string_view::npos) {
    return Fail(error,
                "no user or password in the broker URL: give the user separately and the password "
                "from a file or the environment");
  }
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find_first_of("/?#") != std::string_view::npos) {
    return Fail(error, "the broker URL has a path; only mqtt://host[:port] is understood");
  }

  std::string_view portText;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) return Fail(error, "unclosed '[' in the broker URL");
    const std::string_view host = rest.substr(1, close - 1);
    for (char c : host) {
      if (!IsIpv6Char(c)) return Fail(error, "bad IPv6 address in the broker URL");
    }
    address.host = std::string(host);
    rest.remove_prefix(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return Fail(error, "unexpected text after ']' in the broker URL");
      portText = rest.substr(1);
      if (portText.empty()) return Fail(error, "no port after ':' in the broker URL");
    }
  } else {
    const size_t colon = rest.find(':');
    const std::string_view host = rest.substr(0, colon);
    for (char c : host) {
      if (!IsHostNameChar(c)) {
        return Fail(error, "bad character '" + std::string(1, c) + "' in the broker's host name");
      }
    }
    address.host = std::string(host);
    if (colon != std::string_view::npos) {
      portText = rest.substr(colon + 1);
      if (portText.empty()) return Fail(error, "no port after ':' in the broker URL");
    }
  }
  if (address.host.empty()) return Fail(error, "no host in the broker URL");
  if (!portText.empty()) {
    unsigned port = 0;
    const char* end = portText.data() + portText.size();
    const auto [ptr, ec] = std::from_chars(portText.data(), end, port);
    if (ec != std::errc() || ptr != end || port == 0 || port > 65535) {
      return Fail(error, "bad port '" + std::string(portText) + "' in the broker URL (1 to 65535)");
    }
    address.port = static_cast<uint16_t>(port);
  }
  return address;
}

std::string FormatBrokerAddress(const BrokerAddress& address) {
  const bool ipv6 = address.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace pyranex
