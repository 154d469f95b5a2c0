#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/acquisition/link_status.h"
#include "core/acquisition/live_record.h"
#include "core/mqtt/topics.h"
#include "core/platform/clock.h"

namespace pyranex {

// One message to publish (always QoS 1).
struct MqttMessage {
  std::string topic;
  std::string payload;
  bool retain = false;
};

// Who the inverter is, as the live records tell it.
struct InverterIdentity {
  std::string serialNumber;
  std::string firmwareVersion;  // "V5.00"; empty while unknown
  int ratedPower = 0;           // units of 100 W; 0 while unknown

  bool operator==(const InverterIdentity&) const = default;
};
InverterIdentity IdentityOf(const LiveRecord& record);

// The link at a glance, as the status bar shows it.
struct LinkReport {
  LinkCondition condition = LinkCondition::Closed;
  std::string text;       // the status bar's line
  std::string lastReply;  // ISO 8601 time of the last reply; empty before any
};
LinkReport MakeLinkReport(const LinkStatus& status, const Clock& clock);

// "closed", "identifying", "connected", "no_reply", "lost".
std::string_view LinkStateName(LinkCondition condition);

// The texts of the set fault bits in bit order; a bit without a text is "bit <n>".
std::vector<std::string> FaultNames(uint32_t bits);
// "Waiting", "Inverting", "Warning", "Fault"; "Unknown <n>" for any other value.
std::string OperatingStateText(uint32_t state);

// The live record as one JSON object: time (ISO 8601 with offset), identity, link, each value
// under its key (null when missing), state, faults, and the unit of each value.
std::string RecordPayload(const LiveRecord& record);
// A value as its retained topic carries it: fixed decimals, e.g. "230.1"; empty when missing.
std::string ValueText(const LiveRecord& record, LiveField field);
// Everything one record publishes: the record, each present value (retained), the operating
// state, the fault list and the fault flag (retained).
std::vector<MqttMessage> RecordMessages(const TopicLayout& layout, const LiveRecord& record);

std::string IdentityPayload(const InverterIdentity& identity);
std::string LinkPayload(const LinkReport& link);

// Home Assistant discovery: one retained config per entity (a sensor per value, the operating
// state, the link and a binary sensor for "fault"), all on one device named by the identity.
std::vector<MqttMessage> DiscoveryMessages(const TopicLayout& layout,
                                           const InverterIdentity& identity);
// Empty retained configs that take an inverter's entities out of Home Assistant again.
std::vector<MqttMessage> DiscoveryRemovals(const InverterIdentity& identity);

}  // namespace pyranex
