#include "core/acquisition/link_status.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"

namespace pyranex::test {
namespace {

struct StatusCase {
  const char* name;
  LinkStatus status;
  const char* text;
};

LinkStatus Status(LinkCondition condition, Framing framing, bool hasReply,
                  std::string serial = {}) {
  LinkStatus s;
  s.condition = condition;
  s.comPort = 3;
  s.framing = framing;
  s.modbusAddress = 1;
  s.serialNumber = std::move(serial);
  s.hasReply = hasReply;
  s.lastReplyTime = 1322136605;  // 2011-11-24 12:10:05 UTC
  return s;
}

TEST(LinkStatusTest, OneLineForEachCondition) {
  const StatusCase cases[] = {
      {"closed", LinkStatus{}, "Port closed"},
      {"identifying", Status(LinkCondition::Identifying, FramingModbus, false),
       "COM3: looking for the inverter"},
      {"identifying after replies", Status(LinkCondition::Identifying, FramingSerial, true),
       "COM3: looking for the inverter, no reply since 12:10:05"},
      {"connected modbus", Status(LinkCondition::Connected, FramingModbus, true),
       "COM3: connected, Std. Modbus address 1, last reply 12:10:05"},
      {"connected serial", Status(LinkCondition::Connected, FramingSerial, true, "123456789012"),
       "COM3: connected, serial number 123456789012, last reply 12:10:05"},
      {"no reply", Status(LinkCondition::NoReply, FramingModbus, true),
       "COM3: no reply since 12:10:05 (Std. Modbus address 1)"},
      {"no reply ever", Status(LinkCondition::NoReply, FramingSerial, false, "123456789012"),
       "COM3: no reply yet (serial number 123456789012)"},
      {"lost", Status(LinkCondition::Lost, FramingModbus, true),
       "COM3: device lost, reconnecting (last reply 12:10:05)"},
  };
  const FakeClock clock;
  for (const auto& c : cases) EXPECT_EQ(FormatLinkStatus(c.status, clock), c.text) << c.name;
}

TEST(LinkStatusTest, ConnectedShowsTheAgeOfTheLastReply) {
  FakeClock clock(1322136605 + 7);
  EXPECT_EQ(FormatLinkStatus(Status(LinkCondition::Connected, FramingModbus, true), clock),
            "COM3: connected, Std. Modbus address 1, last reply 12:10:05 (7 s ago)");
}

}  // namespace
}  // namespace pyranex::test
