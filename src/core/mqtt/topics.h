#pragma once

#include <string>
#include <string_view>

#include "core/acquisition/live_record.h"

namespace pyranex {

inline constexpr std::string_view kDiscoveryPrefix = "homeassistant";
// Home Assistant says "online" here when it (re)starts: the moment to announce ourselves again.
inline constexpr std::string_view kHomeAssistantStatusTopic = "homeassistant/status";

// Empty when `topic` can be a base topic, else why not (wildcards, empty levels, ...).
std::string CheckBaseTopic(std::string_view topic);

// Letters, digits, '-' and '_' kept, anything else '_'; "unknown" for an empty text. For topic
// levels and Home Assistant ids built from what the inverter reports.
std::string TopicSafe(std::string_view text);

// The base topic in use: `configured` when set, else "pyranex/<serial number>".
std::string BaseTopicFor(std::string_view configured, std::string_view serialNumber);

// Every topic under one base.
struct TopicLayout {
  std::string base;

  std::string Availability() const { return base + "/availability"; }  // online / offline
  std::string Link() const { return base + "/link"; }                  // the link, JSON
  std::string Identity() const { return base + "/identity"; }          // JSON
  std::string Record() const { return base + "/record"; }              // each live record, JSON
  std::string State() const { return base + "/state"; }                // "Inverting", ...
  std::string Faults() const { return base + "/faults"; }              // JSON: bits and texts
  std::string Fault() const { return base + "/fault"; }                // ON / OFF
  std::string Value(LiveField field) const { return base + "/" + std::string(InfoOf(field).key); }
};

// "pyranex_<serial>_<key>": the Home Assistant unique id and discovery object id of one entity.
std::string DiscoveryObjectId(std::string_view serialNumber, std::string_view key);
// "homeassistant/<component>/<object id>/config".
std::string DiscoveryTopic(std::string_view component, std::string_view objectId);

}  // namespace pyranex
