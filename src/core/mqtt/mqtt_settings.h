#pragma once

#include <cstddef>
#include <string>

namespace pyranex {

// How to reach the broker and what to publish there. The window keeps these in its settings
// (the password in the key store), the command line takes them from its options.
struct MqttSettings {
  std::string url;        // mqtt://host[:port] or mqtts://host[:port]
  std::string user;       // empty: anonymous
  std::string password;   // never from the command line
  std::string caFile;     // mqtts: the CA of the broker's certificate; empty: the system's CAs
  std::string baseTopic;  // empty: pyranex/<serial number>
  bool discovery = true;  // Home Assistant discovery
  // Records kept while the broker is away: an hour at one record a second. When full, the
  // oldest is dropped (and counted) so memory stays bounded however long the broker is gone.
  size_t queueCapacity = 3600;
};

}  // namespace pyranex
