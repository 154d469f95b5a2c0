#pragma once

#include <cstdint>
#include <string>

#include "core/link/frame_codec.h"
#include "core/platform/clock.h"

namespace pyranex {

enum class LinkCondition {
  Closed,       // no port open (never connected, or the port did not open)
  Identifying,  // looking for the inverter: the probe or the serial broadcast is out
  Connected,    // polling, and the last request was answered
  NoReply,      // polling, but the last request went unanswered past its time-out
  Lost,         // the device went away; the port is reopened about once a second
};

// What the link is doing, at a glance.
struct LinkStatus {
  LinkCondition condition = LinkCondition::Closed;
  unsigned comPort = 0;  // the COM number chosen last; 0 before any connect
  std::string device;    // what that number named at connect (a reconnect waits for it)
  Framing framing = FramingModbus;
  uint8_t modbusAddress = 0;  // the slave address in Modbus framing
  std::string serialNumber;   // twelve digits, in serial framing once learned
  bool hasReply = false;      // a reply with values came since the last connect
  uint32_t lastReplyTick = 0;
  int64_t lastReplyTime = 0;  // calendar seconds of that reply
};

// The one-line text for the status bar, e.g. "COM3: connected, Std. Modbus address 1, last
// reply 12:00:05 (2 s ago)" or "COM3: no reply since 18:02:11". Times are local, as `clock` shows
// them.
std::string FormatLinkStatus(const LinkStatus& status, const Clock& clock);

}  // namespace pyranex
