#include "core/mqtt/topics.h"

namespace pyranex {

std::string CheckBaseTopic(std::string_view topic) {
  if (topic.empty()) return "the base topic is empty";
  if (topic.size() > 200) return "the base topic is longer than 200 characters";
  if (topic.find_first_of("+#") != std::string_view::npos) {
    return "the base topic may not contain '+' or '#' (they are wildcards)";
  }
  if (topic.front() == '/' || topic.back() == '/' || topic.find("//") != std::string_view::npos) {
    return "the base topic may not start or end with '/' or hold an empty level";
  }
  for (const char c : topic) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      return "the base topic may not contain control characters";
    }
  }
  return {};
}

std::string TopicSafe(std::string_view text) {
  if (text.empty()) return "unknown";
  std::string safe(text);
  for (char& c : safe) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
    if (!keep) c = '_';
  }
  return safe;
}

std::string BaseTopicFor(std::string_view configured, std::string_view serialNumber) {
  if (!configured.empty()) return std::string(configured);
  return "pyranex/" + TopicSafe(serialNumber);
}

std::string DiscoveryObjectId(std::string_view serialNumber, std::string_view key) {
  return "pyranex_" + TopicSafe(serialNumber) + "_" + std::string(key);
}

std::string DiscoveryTopic(std::string_view component, std::string_view objectId) {
  return std::string(kDiscoveryPrefix) + "/" + std::string(component) + "/" +
         std::string(objectId) + "/config";
}

}  // namespace pyranex
