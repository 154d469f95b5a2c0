// The pymodbus peer server (tests/peers) answers as a standard Modbus RTU slave on COM<n>.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "wire_client.h"

extern char** environ;

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
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
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
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    ASSERT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];

    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1) break;
      line += c;
    }
    ASSERT_EQ(line.rfind("READY ", 0), 0u) << line;
    client_ = std::make_unique<WireClient>(dir_ / "ports" / "COM5");
    ASSERT_TRUE(client_->IsOpen());
  }

  int Terminate() {
    client_.reset();
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::filesystem::path dir_;
  pid_t pid_ = -1;
  int out_ = -1;
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

  EXPECT_EQ(Terminate(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(dir_ / "ports" / "COM5")));
}

}  // namespace
}  // namespace pyranex::test
