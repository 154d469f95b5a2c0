// The device behind a COM number goes away while other devices stay behind the numbering: the
// link waits for that same device, never writes to another, and finds it again when it is back.
#include <gtest/gtest.h>

#include "acquisition/sim_fixture.h"
#include "core/link/posix_serial_device.h"
#include "support/pty_master.h"
#include "support/time_scale.h"

namespace pyranex::test {
namespace {

namespace fs = std::filesystem;

enum class Naming {
  PortsLink,  // ports/COM1 beside the program, removed while the inverter is away
  ByIdName,  // an adapter with a by-id name; it returns at the next node, another takes its old one
  PlainNode,  // a node without a by-id name, gone while the adapter is unplugged
};

struct SameDeviceCase {
  const char* name;
  Naming naming;
  const char* awaited;  // how the status names the device it waits for
};
void PrintTo(const SameDeviceCase& c, std::ostream* os) {
  *os << c.name;
}

class SameDeviceTest : public SimEngineTest, public ::testing::WithParamInterface<SameDeviceCase> {
 protected:
  SameDeviceTest() {
    dev_ = Dir() / "dev";
    fs::create_directories(dev_ / "serial" / "by-id");
  }

  // A node of the fake device folder pointing at `target`, with a by-id name when one is given.
  void Node(const std::string& node, const fs::path& target, const std::string& byId = {}) {
    fs::create_symlink(target, dev_ / node);
    if (!byId.empty()) fs::create_symlink("../../" + node, dev_ / "serial" / "by-id" / byId);
  }
  void Unplug(const std::string& node, const std::string& byId = {}) {
    fs::remove(dev_ / node);
    if (!byId.empty()) fs::remove(dev_ / "serial" / "by-id" / byId);
  }

  void StartInverter(const fs::path& portsDir) {
    std::string error;
    sim = StartSimulator(portsDir, 1, sim::FramingMode::Modbus, 12, {}, error);
    ASSERT_TRUE(sim) << error;
  }

  void Connect() {
    PowerViewServices services(
        LinkContext{queue, SystemClock::Instance(), notifier, Paths{Dir(), Dir()},
                    [exe = Dir(), dev = dev_] { return MakePosixSerialDevice(exe, dev); }});
    services.onSample = [this](size_t, int64_t) { ++samples; };
    engine = std::make_unique<PowerViewEngine>(std::move(services));
    ASSERT_TRUE(engine->OnComSetting(1));
  }

  LinkCondition Condition() const { return engine->GetLinkStatus().condition; }

  fs::path dev_;
};

TEST_P(SameDeviceTest, ReconnectWaitsForTheSameDeviceAndWritesToNoOther) {
  PtyMaster other;
  PtyMaster newcomer;
  ASSERT_TRUE(other.Ok() && newcomer.Ok());
  const fs::path simPorts = Dir() / "sim";
  const Naming naming = GetParam().naming;
  Node("ttyACM0", other.SlavePath(), naming == Naming::ByIdName ? "usb-Other_Modem_77-if00" : "");
  if (naming == Naming::PortsLink) {
    StartInverter(Dir() / "ports");
  } else {
    StartInverter(simPorts);
    Node("ttyUSB0", simPorts / "COM1", naming == Naming::ByIdName ? "usb-Inverter_A1-if00" : "");
  }
  Connect();
  ASSERT_TRUE(PumpSamples(1, Scaled(15s)));

  // The inverter goes away.
  if (naming == Naming::PortsLink) {
    sim->Stop();
    sim.reset();
  } else {
    sim->HangUp(Scaled(4s));
    ASSERT_TRUE(PumpUntil([&] { return !sim->IsLineUp(); }, 5s));
    if (naming == Naming::ByIdName) {
      // Another adapter takes the freed node; the inverter's comes back as the next one.
      Unplug("ttyUSB0", "usb-Inverter_A1-if00");
      Node("ttyUSB0", newcomer.SlavePath(), "usb-Newcomer_9-if00");
      Node("ttyUSB1", simPorts / "COM1", "usb-Inverter_A1-if00");
    }
  }
  ASSERT_TRUE(PumpUntil([&] { return Condition() == LinkCondition::Lost; }, 5s));
  PumpFor(2500ms);  // several reopening attempts
  const std::string status = FormatLinkStatus(engine->GetLinkStatus(), SystemClock::Instance());
  EXPECT_EQ(Condition(), LinkCondition::Lost) << status;
  const size_t awaited = status.find("reconnecting to ");
  EXPECT_NE(status.find(GetParam().awaited, awaited), std::string::npos) << status;

  if (naming == Naming::PortsLink) StartInverter(Dir() / "ports");
  const int before = samples;
  EXPECT_TRUE(PumpUntil([&] { return samples > before; }, Scaled(15s)))
      << FormatLinkStatus(engine->GetLinkStatus(), SystemClock::Instance());
  EXPECT_EQ(Condition(), LinkCondition::Connected);
  EXPECT_TRUE(other.Read(1, 100ms).empty()) << "a byte went to the device behind COM2";
  EXPECT_TRUE(newcomer.Read(1, 100ms).empty()) << "a byte went to the adapter at the old node";
}

INSTANTIATE_TEST_SUITE_P(
    Namings, SameDeviceTest,
    ::testing::Values(SameDeviceCase{"portsLink", Naming::PortsLink, "ports/COM1"},
                      SameDeviceCase{"byIdName", Naming::ByIdName, "usb-Inverter_A1-if00"},
                      SameDeviceCase{"plainNode", Naming::PlainNode, "dev/ttyUSB0 "}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pyranex::test
