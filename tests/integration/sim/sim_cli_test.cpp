// The inverter-sim command line: help, bad arguments, serving, commands typed while running.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "support/child_process.h"
#include "wire_client.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;

const Bytes kProbe = Hex("FF 03 00 3C 00 01 51 D8");

class SimCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pyranex-simcli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path dir_;
};

TEST_F(SimCliTest, HelpPrintsUsageAndBadArgumentsFail) {
  ChildProcess help({INVERTER_SIM, "--help"});
  ASSERT_TRUE(help.Started());
  const std::string usage = help.ReadAll(5s);
  EXPECT_EQ(help.Finish(0), 0);
  EXPECT_NE(usage.find("Usage: inverter-sim --ports-dir DIR"), std::string::npos) << usage;
  EXPECT_NE(usage.find("--hang-up-after"), std::string::npos);

  ChildProcess bad({INVERTER_SIM, "--ports-dir", dir_.string(), "--serial", "12"});
  ASSERT_TRUE(bad.Started());
  EXPECT_EQ(bad.Finish(0), 2);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir_ / "COM1")));
}

TEST_F(SimCliTest, ServesTakesCommandsAndStopsOnSigterm) {
  const auto ports = dir_ / "ports";
  const auto record = dir_ / "traffic.txt";
  ChildProcess sim({INVERTER_SIM, "--ports-dir", ports.string(), "--com", "3", "--address",
                    "0x0102", "--start", "12:00", "--record", record.string()});
  ASSERT_TRUE(sim.Started());
  const std::string ready = sim.ReadLine(10s);
  ASSERT_EQ(ready.rfind("READY " + (ports / "COM3").string() + " -> /dev/pts/", 0), 0u) << ready;

  auto client = std::make_unique<WireClient>(ports / "COM3");
  ASSERT_TRUE(client->IsOpen());
  EXPECT_EQ(client->Exchange(kProbe), WithCrc({0xFF, 3, 2, 0x01, 0x02}));

  ASSERT_TRUE(sim.Write("silent\n"));
  EXPECT_EQ(sim.ReadLine(5s), "OK silent");
  EXPECT_TRUE(client->Exchange(kProbe, 300ms).empty());
  ASSERT_TRUE(sim.Write("clear\n"));
  EXPECT_EQ(sim.ReadLine(5s), "OK clear");
  EXPECT_FALSE(client->Exchange(kProbe).empty());
  ASSERT_TRUE(sim.Write("delay soon\n"));
  EXPECT_EQ(sim.ReadLine(5s).rfind("ERROR ", 0), 0u);

  ASSERT_TRUE(sim.Write("hang-up 0.2\n"));
  EXPECT_EQ(sim.ReadLine(5s), "OK hang-up");
  bool hungUp = false;
  client->Receive(2s, 60ms, &hungUp);
  EXPECT_TRUE(hungUp);
  client.reset();
  // Back on the same COM number.
  Bytes reply;
  for (int attempt = 0; attempt < 40 && reply.empty(); ++attempt) {
    std::this_thread::sleep_for(50ms);
    WireClient again(ports / "COM3");
    if (again.IsOpen()) reply = again.Exchange(kProbe, 300ms);
  }
  EXPECT_EQ(reply, WithCrc({0xFF, 3, 2, 0x01, 0x02}));

  EXPECT_EQ(sim.Finish(SIGTERM), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ports / "COM3")));
  std::ifstream file(record);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_NE(text.str().find(" RX FF 03 00 3C 00 01 51 D8"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find(" DOWN"), std::string::npos);
  EXPECT_NE(text.str().find(" STOP"), std::string::npos);
}

}  // namespace
}  // namespace pyranex::test
