#include "core/link/com_port_path.h"

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>

#include <unistd.h>

namespace pyranex {
namespace {

namespace fs = std::filesystem;

class ComPortPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("pyranex-com-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "dev");
    fs::create_directories(root / "exe");
  }
  void TearDown() override { fs::remove_all(root); }

  void Nodes(std::initializer_list<const char*> names) {
    for (const char* name : names) std::ofstream(root / "dev" / name).put('x');
  }
  // A by-id name for a node, as udev makes it.
  void ById(const std::string& name, const std::string& node) {
    fs::create_directories(root / "dev" / "serial" / "by-id");
    fs::create_symlink("../../" + node, root / "dev" / "serial" / "by-id" / name);
  }
  void Unplug(const std::string& node, const std::string& byIdName) {
    fs::remove(root / "dev" / node);
    fs::remove(root / "dev" / "serial" / "by-id" / byIdName);
  }
  std::optional<fs::path> Resolve(unsigned n) {
    return ResolveComPort(n, root / "exe", root / "dev");
  }

  fs::path root;
};

TEST_F(ComPortPathTest, NewDevicesAreNumberedByFamilyThenNodeGapsIncluded) {
  // ttyS0 is a plain file, not a UART: skipped like an empty 16550 slot.
  Nodes({"ttyS0", "ttyUSB0", "ttyUSB1", "ttyUSB3", "ttyACM0", "ttyACM1", "ttyAMA0"});
  const struct {
    unsigned port;
    const char* node;
  } cases[] = {{1, "ttyUSB0"}, {2, "ttyUSB1"}, {3, "ttyUSB3"},
               {4, "ttyACM0"}, {5, "ttyACM1"}, {6, nullptr}};
  for (const auto& c : cases) {
    const auto path = Resolve(c.port);
    if (c.node == nullptr) {
      EXPECT_FALSE(path.has_value()) << c.port;
    } else {
      ASSERT_TRUE(path.has_value()) << c.port;
      EXPECT_EQ(*path, root / "dev" / c.node) << c.port;
    }
  }
  EXPECT_FALSE(Resolve(0).has_value());
}

// Unplugging, replugging at another node and a newcomer never move a number; an absent device
// keeps its number and nothing else is found behind it.
TEST_F(ComPortPathTest, NumbersStayWithTheirDevices) {
  Nodes({"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyACM0"});
  ById("usb-Inverter_A-if00", "ttyUSB0");
  ById("usb-Logger_B-if00", "ttyUSB1");
  fs::remove(root / "dev" / "ttyUSB2");
  const auto expect = [&](const char* step, std::initializer_list<const char*> byCom) {
    unsigned n = 1;
    for (const char* want : byCom) {
      const auto path = Resolve(n);
      if (want == nullptr) {
        EXPECT_FALSE(path.has_value()) << step << " COM" << n;
      } else {
        EXPECT_EQ(path.value_or("none").filename(), want) << step << " COM" << n;
      }
      ++n;
    }
  };
  expect("first seen", {"usb-Inverter_A-if00", "usb-Logger_B-if00", "ttyACM0", nullptr});

  Unplug("ttyUSB0", "usb-Inverter_A-if00");
  expect("inverter unplugged", {nullptr, "usb-Logger_B-if00", "ttyACM0", nullptr});
  const auto absent = ListComPorts(root / "exe", root / "dev");
  ASSERT_EQ(absent.size(), 3u);
  EXPECT_FALSE(absent[0].present);
  EXPECT_EQ(absent[0].byIdName, "usb-Inverter_A-if00");

  Nodes({"ttyUSB2"});
  ById("usb-Inverter_A-if00", "ttyUSB2");
  Nodes({"ttyUSB0"});
  ById("usb-Newcomer_C-if00", "ttyUSB0");
  expect("back at ttyUSB2, newcomer at ttyUSB0",
         {"usb-Inverter_A-if00", "usb-Logger_B-if00", "ttyACM0", "usb-Newcomer_C-if00"});
  EXPECT_EQ(fs::canonical(*Resolve(1)), fs::canonical(root / "dev" / "ttyUSB2"));
}

TEST_F(ComPortPathTest, RememberedNumbersAreReadFromTheTableAsWritten) {
  Nodes({"ttyUSB0", "ttyUSB1", "ttyACM0"});
  ById("usb-Inverter_A-if00", "ttyUSB0");
  std::ofstream(root / "exe" / kComPortTableName) << "# moved by hand\n"
                                                     "COM7 usb-Inverter_A-if00\n"
                                                     "COM7 ttyUSB1\n"              // taken
                                                     "COM8 usb-Inverter_A-if00\n"  // again
                                                     "COM0 ttyACM0\n"
                                                     "garbage\n"
                                                     "COM2 ttyACM0\n";
  EXPECT_EQ(Resolve(7), root / "dev" / "serial" / "by-id" / "usb-Inverter_A-if00");
  EXPECT_EQ(Resolve(2), root / "dev" / "ttyACM0");
  EXPECT_EQ(Resolve(1), root / "dev" / "ttyUSB1") << "the lowest free number";
  EXPECT_FALSE(Resolve(8).has_value());
  std::ifstream in(root / "exe" / kComPortTableName);
  std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(table.find("COM1 ttyUSB1\nCOM2 ttyACM0\nCOM7 usb-Inverter_A-if00\n"), std::string::npos)
      << table;
}

TEST_F(ComPortPathTest, OverrideBesideTheExecutableComesFirst) {
  Nodes({"ttyUSB0"});
  fs::create_directories(root / "exe" / "ports");
  // A dangling link still names the port: opening it is what fails.
  fs::create_symlink("/nonexistent/pts/99", root / "exe" / "ports" / "COM1");
  EXPECT_EQ(Resolve(1), root / "exe" / "ports" / "COM1");
  EXPECT_EQ(Resolve(2), root / "dev" / "ttyUSB0") << "numbers of overrides are not given out";
  fs::create_symlink(root / "dev" / "ttyUSB0", root / "exe" / "ports" / "COM12");
  EXPECT_EQ(Resolve(12), root / "exe" / "ports" / "COM12");
  EXPECT_FALSE(Resolve(3).has_value());
}

TEST_F(ComPortPathTest, LocatingTheConnectedDevice) {
  Nodes({"ttyUSB0", "ttyUSB1"});
  ById("usb-Inverter_A-if00", "ttyUSB0");
  fs::create_directories(root / "exe" / "ports");
  fs::create_symlink(root / "dev" / "ttyUSB1", root / "exe" / "ports" / "COM3");
  fs::create_symlink(root / "dev" / "ttyUSB0", root / "exe" / "ports" / "COM4");
  using State = DeviceWhereabouts::State;
  const fs::path byId = root / "dev" / "serial" / "by-id" / "usb-Inverter_A-if00";
  const struct {
    fs::path name;
    const char* byIdName;
    State state;
  } cases[] = {
      {byId, "usb-Inverter_A-if00", State::Here},
      {root / "dev" / "ttyUSB1", "", State::Here},
      {root / "exe" / "ports" / "COM4", "usb-Inverter_A-if00", State::Here},
      {root / "exe" / "ports" / "COM3", "usb-Inverter_A-if00", State::Other},  // re-pointed
      {root / "exe" / "ports" / "COM3", "", State::Here},  // a link without a by-id name
      {root / "dev" / "ttyUSB1", "usb-Inverter_A-if00", State::Other},  // took its node
      {root / "dev" / "ttyUSB9", "", State::Absent},
      {root / "exe" / "ports" / "COM5", "", State::Absent},
  };
  for (const auto& c : cases) {
    const DeviceWhereabouts where = LocateDevice(c.name, c.byIdName, root / "dev");
    EXPECT_EQ(where.state, c.state) << c.name << " " << c.byIdName;
    if (c.state == State::Here) {
      EXPECT_EQ(where.node, fs::canonical(c.name)) << c.name;
    }
  }
  Unplug("ttyUSB0", "usb-Inverter_A-if00");
  EXPECT_EQ(LocateDevice(byId, "usb-Inverter_A-if00", root / "dev").state, State::Absent);
}

TEST_F(ComPortPathTest, ListingNumbersLikeTheResolverWithByIdNames) {
  Nodes({"ttyUSB0", "ttyUSB1", "ttyACM0"});
  ById("usb-FTDI_A1-port0", "ttyUSB1");
  fs::create_directories(root / "exe" / "ports");
  fs::create_symlink(root / "dev" / "ttyUSB1", root / "exe" / "ports" / "COM1");
  fs::create_symlink("/nonexistent/pts/3", root / "exe" / "ports" / "COM7");
  fs::create_symlink("/nonexistent/pts/4", root / "exe" / "ports" / "COM007");  // not a COM name
  fs::create_symlink("/nonexistent/pts/5", root / "exe" / "ports" / "COM100");  // beyond the range
  const auto list = ListComPorts(root / "exe", root / "dev", 99);
  const struct {
    unsigned number;
    fs::path device;
    bool isOverride;
    const char* byId;
    bool present;
  } expected[] = {{1, root / "dev" / "ttyUSB1", true, "usb-FTDI_A1-port0", true},
                  {2, root / "dev" / "ttyUSB0", false, "", true},
                  {3, root / "dev" / "ttyUSB1", false, "usb-FTDI_A1-port0", true},
                  {4, root / "dev" / "ttyACM0", false, "", true},
                  {7, "/nonexistent/pts/3", true, "", false}};
  ASSERT_EQ(list.size(), std::size(expected));
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].number, expected[i].number) << i;
    EXPECT_EQ(list[i].device, expected[i].device) << i;
    EXPECT_EQ(list[i].isOverride, expected[i].isOverride) << i;
    EXPECT_EQ(list[i].byIdName, expected[i].byId) << i;
    EXPECT_EQ(list[i].present, expected[i].present) << i;
    EXPECT_EQ(list[i].path, *Resolve(list[i].number)) << i;
  }
  // The COM dialog and `pyranex-cli ports` show these lines.
  EXPECT_EQ(DescribeComPort(list[0]),
            "COM1  " + (root / "dev" / "ttyUSB1").string() + "  (usb-FTDI_A1-port0)  [ports/COM1]");
  EXPECT_EQ(DescribeComPort(list[1]), "COM2  " + (root / "dev" / "ttyUSB0").string());
  EXPECT_EQ(DescribeComPort(list[4]), "COM7  not connected  /nonexistent/pts/3  [ports/COM7]");
}

TEST(WindowsComPortName, DevicePrefixFromTen) {
  EXPECT_EQ(WindowsComPortName(1), "COM1");
  EXPECT_EQ(WindowsComPortName(9), "COM9");
  EXPECT_EQ(WindowsComPortName(10), "\\\\.\\COM10");
  EXPECT_EQ(WindowsComPortName(99), "\\\\.\\COM99");
}

}  // namespace
}  // namespace pyranex
