#include "core/acquisition/link_status.h"

namespace pyranex {

namespace {

std::string ReplyTime(const LinkStatus& status, const Clock& clock) {
  return FormatLocal(clock, status.lastReplyTime, "%H:%M:%S");
}

std::string Device(const LinkStatus& status) {
  if (status.framing == FramingModbus) {
    return "Std. Modbus address " + std::to_string(status.modbusAddress);
  }
  return status.serialNumber.empty() ? std::string("serial number framing")
                                     : "serial number " + status.serialNumber;
}

}  // namespace

std::string FormatLinkStatus(const LinkStatus& status, const Clock& clock) {
  if (status.condition == LinkCondition::Closed) return "Port closed";
  std::string text = "COM" + std::to_string(status.comPort) + ": ";
  switch (status.condition) {
    case LinkCondition::Identifying:
      text += "looking for the inverter";
      if (status.hasReply) text += ", no reply since " + ReplyTime(status, clock);
      break;
    case LinkCondition::Connected:
      text += "connected, " + Device(status);
      if (status.hasReply) {
        text += ", last reply " + ReplyTime(status, clock);
        // The age tells at a glance whether replies still come; a clock set back shows none.
        const int64_t age = clock.Now() - status.lastReplyTime;
        if (age >= 0 && age < 24 * 3600) text += " (" + std::to_string(age) + " s ago)";
      }
      break;
    case LinkCondition::NoReply:
      text += status.hasReply ? "no reply since " + ReplyTime(status, clock)
                              : std::string("no reply yet");
      text += " (" + Device(status) + ")";
      break;
    case LinkCondition::Lost:
      text += "device lost, reconnecting";
      if (!status.device.empty()) text += " to " + status.device;
      if (status.hasReply) text += " (last reply " + ReplyTime(status, clock) + ")";
      break;
    case LinkCondition::Closed:
      break;
  }
  return text;
}

}  // namespace pyranex
