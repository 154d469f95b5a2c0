// The pymodbus peer server (tests/peers) answers as a standard Modbus RTU slave on COM<n>.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/child_process.h"
#include "wire_client.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;

class PeerServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("/usr/bin/python3 -c 'import pymodbus, serial_asyncio' 2>/dev/null") != 0) {
      GTEST_SKIP() << "python3-pymodbus or python3-serial-asyncio missing: run scripts/setup";
    }
    char pattern[] = "/tmp/pyranex-peer-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    client_.reset();
    server_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Starts the server and waits for its READY line.
  void Launch(std::vector<std::string> extra) {
    std::vector<std::string> args = {"/usr/bin/python3",
                                     PYMODBUS_RTU_SERVER,
                                     "--ports-dir",
                                     (dir_ / "ports").string(),
                                     "--com",
                                     "5"};
    args.insert(args.end(), extra.begin(), extra.end());
    server_ = std::make_unique<ChildProcess>(args);
    ASSERT_TRUE(server_->Started());
    const std::string line = server_->ReadLine(20s);
    ASSERT_EQ(line.rfind("READY ", 0), 0u) << line;
    client_ = std::make_unique<WireClient>(dir_ / "ports" / "COM5");
    ASSERT_TRUE(client_->IsOpen());
  }

  std::filesystem::path dir_;
  std::unique_ptr<ChildProcess> server_;
  std::unique_ptr<WireClient> client_;
};

TEST_F(PeerServerTest, AnswersProbeLivePollAndWritesThenExitsCleanly) {
  Launch({"--address", "0x0105", "--rated", "30", "--firmware", "410", "--input", "41=2"});
  const Bytes probe = client_->Exchange(Hex("FF 03 00 3C 00 01 51 D8"), 3000ms);
  EXPECT_EQ(probe, WithCrc({0xFF, 3, 2, 0x01, 0x05}));

  const Bytes live = client_->Exchange(Hex("01 04 00 0A 00 1F 91 C0"), 3000ms);
  ASSERT_TRUE(CrcOk(live));
  const auto values = Values(live, 1);
  ASSERT_EQ(values.size(), 31u);
  EXPECT_EQ(values[41 - 11], 2);
  EXPECT_EQ(values[21 - 11], 5000);

  EXPECT_EQ(Values(client_->Exchange(Hex("01 04 00 00 00 03 B0 0B"), 3000ms), 1),
            (std::vector<uint16_t>{0x1234, 0x5678, 0x9012}));
  EXPECT_EQ(Values(client_->Exchange(Hex("01 04 00 2B 00 02 01 C3"), 3000ms), 1),
            (std::vector<uint16_t>{30, 410}));

  const Bytes gfci = Hex("01 10 00 26 00 01 02 00 01 60 96");
  EXPECT_EQ(client_->Exchange(gfci, 3000ms), WithCrc({1, 0x10, 0, 0x26, 0, 1}));
  EXPECT_EQ(Values(client_->Exchange(WithCrc({1, 3, 0, 0x26, 0, 1}), 3000ms), 1),
            std::vector<uint16_t>{1});

  client_.reset();
  EXPECT_EQ(server_->Finish(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir_ / "ports" / "COM5")));
}

TEST_F(PeerServerTest, RejectsRegistersOutsideTheMap) {
  auto server = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", PYMODBUS_RTU_SERVER, "--ports-dir",
                               (dir_ / "ports").string(), "--holding", "362=1"});
  ASSERT_TRUE(server->Started());
  EXPECT_EQ(server->Finish(0), 2);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "ports"));
}

}  // namespace
}  // namespace pyranex::test
