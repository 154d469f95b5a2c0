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

TEST(WindowsComPortName, DevicePrefixFromTen) {
  EXPECT_EQ(WindowsComPortName(1), "COM1");
  EXPECT_EQ(WindowsComPortName(9), "COM9");
  EXPECT_EQ(WindowsComPortName(10), "\\\\.\\COM10");
  EXPECT_EQ(WindowsComPortName(99), "\\\\.\\COM99");
}

}  // namespace
}  // namespace pyranex
