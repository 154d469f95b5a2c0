#include "core/link/com_port_path.h"

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
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
  std::optional<fs::path> Resolve(unsigned n) {
    return ResolveComPort(n, root / "exe", root / "dev");
  }

  fs::path root;
};

TEST_F(ComPortPathTest, FamiliesInWineOrderEachUpToItsFirstGap) {
  // ttyS0 is a plain file, not a UART: skipped like an empty 16550 slot. ttyUSB3 follows a gap.
  Nodes({"ttyS0", "ttyUSB0", "ttyUSB1", "ttyUSB3", "ttyACM0", "ttyACM1"});
  const struct {
    unsigned port;
    const char* node;
  } cases[] = {{1, "ttyUSB0"}, {2, "ttyUSB1"}, {3, "ttyACM0"}, {4, "ttyACM1"}, {5, nullptr}};
  for (const auto& c : cases) {
    const auto path = Resolve(c.port);
    if (c.node == nullptr) {
      EXPECT_FALSE(path.has_value()) << c.port;
    } else {
      ASSERT_TRUE(path.has_value()) << c.port;
      EXPECT_EQ(*path, root / "dev" / c.node) << c.port;
    }
  }
}

TEST_F(ComPortPathTest, AFamilyStartingWithAGapIsSkippedWhole) {
  Nodes({"ttyUSB1", "ttyACM0"});
  EXPECT_EQ(Resolve(1), root / "dev" / "ttyACM0");
  EXPECT_FALSE(Resolve(2).has_value());
}

TEST_F(ComPortPathTest, OverrideBesideTheExecutableComesFirst) {
  Nodes({"ttyUSB0"});
  fs::create_directories(root / "exe" / "ports");
  // A dangling link still names the port: opening it is what fails.
  fs::create_symlink("/nonexistent/pts/99", root / "exe" / "ports" / "COM1");
  EXPECT_EQ(Resolve(1), root / "exe" / "ports" / "COM1");
  fs::create_symlink(root / "dev" / "ttyUSB0", root / "exe" / "ports" / "COM12");
  EXPECT_EQ(Resolve(12), root / "exe" / "ports" / "COM12");
  EXPECT_FALSE(Resolve(2).has_value());
}

TEST_F(ComPortPathTest, PortZeroNamesNothing) {
  Nodes({"ttyUSB0"});
  EXPECT_FALSE(Resolve(0).has_value());
}

TEST_F(ComPortPathTest, ListingNumbersLikeTheResolverWithByIdNames) {
  Nodes({"ttyUSB0", "ttyUSB1", "ttyACM0"});
  fs::create_directories(root / "dev" / "serial" / "by-id");
  fs::create_symlink("../../ttyUSB1", root / "dev" / "serial" / "by-id" / "usb-FTDI_A1-port0");
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
  } expected[] = {{1, root / "dev" / "ttyUSB1", true, "usb-FTDI_A1-port0"},
                  {2, root / "dev" / "ttyUSB1", false, "usb-FTDI_A1-port0"},
                  {3, root / "dev" / "ttyACM0", false, ""},
                  {7, "/nonexistent/pts/3", true, ""}};
  ASSERT_EQ(list.size(), std::size(expected));
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].number, expected[i].number) << i;
    EXPECT_EQ(list[i].device, expected[i].device) << i;
    EXPECT_EQ(list[i].isOverride, expected[i].isOverride) << i;
    EXPECT_EQ(list[i].byIdName, expected[i].byId) << i;
    EXPECT_EQ(list[i].path, *Resolve(list[i].number)) << i;
  }
}

TEST(WindowsComPortName, DevicePrefixFromTen) {
  EXPECT_EQ(WindowsComPortName(1), "COM1");
  EXPECT_EQ(WindowsComPortName(9), "COM9");
  EXPECT_EQ(WindowsComPortName(10), "\\\\.\\COM10");
  EXPECT_EQ(WindowsComPortName(99), "\\\\.\\COM99");
}

}  // namespace
}  // namespace pyranex
