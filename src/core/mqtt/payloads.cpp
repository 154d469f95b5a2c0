#include "core/mqtt/payloads.h"

#include <array>
#include <cmath>
#include <optional>

#include "core/monitor/register_display.h"
#include "core/mqtt/json_writer.h"

namespace pyranex {

namespace {

// How Home Assistant should see each value of the record.
struct ValueEntity {
  LiveField field;
  std::string_view name;
  std::string_view deviceClass;  // empty: none
  std::string_view stateClass;
  bool diagnostic;
};

constexpr std::array<ValueEntity, 11> kValueEntities = {{
    {LiveField::Udc, "DC voltage", "voltage", "measurement", false},
    {LiveField::Uac, "AC voltage", "voltage", "measurement", false},
    {LiveField::Freq, "AC frequency", "frequency", "measurement", false},
    {LiveField::Pac, "AC power", "power", "measurement", false},
    // Counters: the Energy dashboard takes only total_increasing (a drop is a meter reset, as
    // the daily counter does at night and "Clear kwh" does to both).
    {LiveField::EToday, "Energy today", "energy", "total_increasing", false},
    {LiveField::ETotal, "Energy total", "energy", "total_increasing", false},
    {LiveField::TToday, "Running time today", "duration", "total_increasing", false},
    {LiveField::TTotal, "Running time total", "duration", "total_increasing", false},
    {LiveField::Temp, "Temperature", "temperature", "measurement", false},
    {LiveField::IacShift, "Current zero shift", "", "measurement", true},
    {LiveField::Dci, "DC injection current", "current", "measurement", false},
}};

constexpr std::string_view kLinkAvailableTemplate =
    "{{ 'online' if value_json.state == 'connected' else 'offline' }}";

std::optional<uint32_t> Bits(const LiveRecord& record, LiveField field) {
  if (!record.Has(field)) return std::nullopt;
  return static_cast<uint32_t>(record.Get(field));
}

bool IsFault(const LiveRecord& record) {
  const auto bits = Bits(record, LiveField::State1);
  const auto state = Bits(record, LiveField::State2);
  return (bits && *bits != 0) || (state && *state == 3);
}

std::string FaultsPayload(uint32_t bits) {
  JsonWriter json;
  json.BeginObject().Field("bits", static_cast<int64_t>(bits)).Key("faults").BeginArray();
  for (const std::string& name : FaultNames(bits)) json.String(name);
  json.EndArray().EndObject();
  return json.Take();
}

// The keys every entity of the inverter shares: its device, origin and availability. Values go
// unavailable while the link is down, so a stale reading never passes for a live one; the link
// itself only needs the program to be there.
void CommonKeys(JsonWriter& json, const TopicLayout& layout, const InverterIdentity& identity,
                bool needsLink) {
  json.Key("availability").BeginArray();
  json.BeginObject().Field("topic", layout.Availability()).EndObject();
  if (needsLink) {
    json.BeginObject()
        .Field("topic", layout.Link())
        .Field("value_template", kLinkAvailableTemplate)
        .EndObject();
  }
  json.EndArray();
  if (needsLink) json.Field("availability_mode", "all");
  const std::string serial = TopicSafe(identity.serialNumber);
  json.Key("device").BeginObject();
  json.Key("identifiers").BeginArray().String("pyranex_" + serial).EndArray();
  json.Field("name", "PV inverter " + identity.serialNumber);
  json.Field("model", identity.ratedPower > 0
                          ? "PV inverter " + std::to_string(identity.ratedPower * 100) + " W"
                          : std::string("PV inverter"));
  if (!identity.firmwareVersion.empty()) json.Field("sw_version", identity.firmwareVersion);
  json.Field("serial_number", identity.serialNumber);
  json.EndObject();
  json.Key("origin").BeginObject().Field("name", "Pyranex").EndObject();
}

MqttMessage Config(std::string_view component, const std::string& objectId, std::string payload) {
  return MqttMessage{DiscoveryTopic(component, objectId), std::move(payload), true};
}

}  // namespace

InverterIdentity IdentityOf(const LiveRecord& record) {
  return InverterIdentity{record.serialNumber, record.firmwareVersion, record.ratedPower};
}

LinkReport MakeLinkReport(const LinkStatus& status, const Clock& clock) {
  LinkReport report;
  report.condition = status.condition;
  report.text = FormatLinkStatus(status, clock);
  if (status.hasReply) {
    report.lastReply =
        FormatIso8601(status.lastReplyTime, UtcOffsetSeconds(clock, status.lastReplyTime));
  }
  return report;
}

std::string_view LinkStateName(LinkCondition condition) {
  switch (condition) {
    case LinkCondition::Closed:
      return "closed";
    case LinkCondition::Identifying:
      return "identifying";
    case LinkCondition::Connected:
      return "connected";
    case LinkCondition::NoReply:
      return "no_reply";
    case LinkCondition::Lost:
      return "lost";
  }
  return "closed";
}

std::vector<std::string> FaultNames(uint32_t bits) {
  std::vector<std::string> names;
  for (unsigned bit = 0; bit < 32; ++bit) {
    if ((bits & (1u << bit)) == 0) continue;
    const std::string_view text = FaultTexts()[bit];
    names.push_back(text.empty() ? "bit " + std::to_string(bit) : std::string(text));
  }
  return names;
}

std::string OperatingStateText(uint32_t state) {
  if (const auto look = OperatingState(state)) return std::string(look->text);
  return "Unknown " + std::to_string(state);
}

std::string RecordPayload(const LiveRecord& record) {
  JsonWriter json;
  json.BeginObject();
  json.Field("time", FormatIso8601(record.time, record.utcOffsetSeconds));
  json.Field("serial_number", record.serialNumber);
  if (!record.firmwareVersion.empty()) json.Field("firmware", record.firmwareVersion);
  if (record.ratedPower > 0) json.Field("rated_power", int64_t{record.ratedPower} * 100);
  json.Field("link", LinkStateName(record.link));
  for (size_t i = 0; i < kLiveFieldCount; ++i) {
    const auto field = static_cast<LiveField>(i);
    const LiveFieldInfo& info = InfoOf(field);
    json.Key(info.key).Number(record.Get(field), info.decimals);
  }
  if (const auto state = Bits(record, LiveField::State2)) {
    json.Field("state", OperatingStateText(*state));
  }
  if (const auto bits = Bits(record, LiveField::State1)) {
    json.Key("faults").BeginArray();
    for (const std::string& name : FaultNames(*bits)) json.String(name);
    json.EndArray();
  }
  json.Key("units").BeginObject();
  for (size_t i = 0; i < kLiveFieldCount; ++i) {
    const LiveFieldInfo& info = InfoOf(static_cast<LiveField>(i));
    if (!info.unit.empty()) json.Field(info.key, info.unit);
  }
  json.EndObject();
  json.EndObject();
  return json.Take();
}

std::string ValueText(const LiveRecord& record, LiveField field) {
  return FormatFixed(record.Get(field), InfoOf(field).decimals);
}

std::vector<MqttMessage> RecordMessages(const TopicLayout& layout, const LiveRecord& record) {
  std::vector<MqttMessage> messages;
  messages.reserve(kLiveFieldCount + 4);
  messages.push_back({layout.Record(), RecordPayload(record), false});
  for (size_t i = 0; i < kLiveFieldCount; ++i) {
    const auto field = static_cast<LiveField>(i);
    std::string text = ValueText(record, field);
    if (!text.empty()) messages.push_back({layout.Value(field), std::move(text), true});
  }
  if (const auto state = Bits(record, LiveField::State2)) {
    messages.push_back({layout.State(), OperatingStateText(*state), true});
  }
  if (const auto bits = Bits(record, LiveField::State1)) {
    messages.push_back({layout.Faults(), FaultsPayload(*bits), true});
    messages.push_back({layout.Fault(), IsFault(record) ? "ON" : "OFF", true});
  }
  return messages;
}

std::string IdentityPayload(const InverterIdentity& identity) {
  JsonWriter json;
  json.BeginObject().Field("serial_number", identity.serialNumber);
  json.Key("firmware");
  if (identity.firmwareVersion.empty()) {
    json.Null();
  } else {
    json.String(identity.firmwareVersion);
  }
  json.Key("rated_power");
  if (identity.ratedPower > 0) {
    json.Int(int64_t{identity.ratedPower} * 100);
  } else {
    json.Null();
  }
  json.EndObject();
  return json.Take();
}

std::string LinkPayload(const LinkReport& link) {
  JsonWriter json;
  json.BeginObject().Field("state", LinkStateName(link.condition)).Field("text", link.text);
  json.Key("last_reply");
  if (link.lastReply.empty()) {
    json.Null();
  } else {
    json.String(link.lastReply);
  }
  json.EndObject();
  return json.Take();
}

std::vector<MqttMessage> DiscoveryMessages(const TopicLayout& layout,
                                           const InverterIdentity& identity) {
  std::vector<MqttMessage> messages;
  for (const ValueEntity& entity : kValueEntities) {
    const LiveFieldInfo& info = InfoOf(entity.field);
    const std::string id = DiscoveryObjectId(identity.serialNumber, info.key);
    JsonWriter json;
    json.BeginObject().Field("name", entity.name).Field("unique_id", id);
    json.Field("state_topic", layout.Value(entity.field));
    if (!entity.deviceClass.empty()) json.Field("device_class", entity.deviceClass);
    if (!info.unit.empty()) json.Field("unit_of_measurement", info.unit);
    json.Field("state_class", entity.stateClass);
    json.Field("suggested_display_precision", int64_t{info.decimals});
    if (entity.diagnostic) json.Field("entity_category", "diagnostic");
    CommonKeys(json, layout, identity, true);
    json.EndObject();
    messages.push_back(Config("sensor", id, json.Take()));
  }
  {
    const std::string id = DiscoveryObjectId(identity.serialNumber, "state");
    JsonWriter json;
    json.BeginObject().Field("name", "Operating state").Field("unique_id", id);
    json.Field("state_topic", layout.State()).Field("icon", "mdi:solar-power");
    CommonKeys(json, layout, identity, true);
    json.EndObject();
    messages.push_back(Config("sensor", id, json.Take()));
  }
  {
    const std::string id = DiscoveryObjectId(identity.serialNumber, "link");
    JsonWriter json;
    json.BeginObject().Field("name", "Link").Field("unique_id", id);
    json.Field("state_topic", layout.Link()).Field("value_template", "{{ value_json.state }}");
    json.Field("json_attributes_topic", layout.Link());
    json.Field("entity_category", "diagnostic").Field("icon", "mdi:serial-port");
    CommonKeys(json, layout, identity, false);
    json.EndObject();
    messages.push_back(Config("sensor", id, json.Take()));
  }
  {
    const std::string id = DiscoveryObjectId(identity.serialNumber, "fault");
    JsonWriter json;
    json.BeginObject().Field("name", "Fault").Field("unique_id", id);
    json.Field("state_topic", layout.Fault()).Field("device_class", "problem");
    json.Field("payload_on", "ON").Field("payload_off", "OFF");
    json.Field("json_attributes_topic", layout.Faults());
    CommonKeys(json, layout, identity, true);
    json.EndObject();
    messages.push_back(Config("binary_sensor", id, json.Take()));
  }
  return messages;
}

std::vector<MqttMessage> DiscoveryRemovals(const InverterIdentity& identity) {
  std::vector<MqttMessage> messages = DiscoveryMessages(TopicLayout{}, identity);
  for (MqttMessage& message : messages) message.payload.clear();
  return messages;
}

}  // namespace pyranex
