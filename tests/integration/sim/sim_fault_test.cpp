// Fault injection and hang-up, seen from the wire.
#include <functional>

#include "sim_fixture.h"

namespace pyranex::test {
namespace {

using namespace std::chrono_literals;

const Bytes kPoll = Hex("01 04 00 0A 00 1F 91 C0");
constexpr std::size_t kPollReplySize = 1 + 2 + 62 + 2;

struct FaultCase {
  const char* name;
  std::function<void(sim::FaultConfig&)> set;
  // Checks the replies to three live polls in a row (empty: no reply).
  std::function<void(const std::vector<Bytes>&)> check;
};

void ExpectGood(const Bytes& reply) {
  EXPECT_EQ(reply.size(), kPollReplySize);
  EXPECT_TRUE(CrcOk(reply));
}

class FaultTest : public SimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, ShapesTheReplies) {
  Start();
  sim::FaultConfig faults;
  GetParam().set(faults);
  sim->SetFaults(faults);
  std::vector<Bytes> replies;
  for (int i = 0; i < 3; ++i) replies.push_back(client->Exchange(kPoll, 700ms));
  GetParam().check(replies);
  EXPECT_EQ(sim->Requests().size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FaultTest,
    ::testing::Values(FaultCase{"none", [](sim::FaultConfig&) {},
                                [](const std::vector<Bytes>& r) {
                                  for (const auto& reply : r) ExpectGood(reply);
                                }},
                      FaultCase{"silent", [](sim::FaultConfig& f) { f.silent = true; },
                                [](const std::vector<Bytes>& r) {
                                  for (const auto& reply : r) EXPECT_TRUE(reply.empty());
                                }},
                      FaultCase{"silentAfterTwo",
                                [](sim::FaultConfig& f) { f.silentAfterReplies = 2; },
                                [](const std::vector<Bytes>& r) {
                                  ExpectGood(r[0]);
                                  ExpectGood(r[1]);
                                  EXPECT_TRUE(r[2].empty());
                                }},
                      FaultCase{"silentForASecond",
                                [](sim::FaultConfig& f) { f.silentFor = 1000ms; },
                                [](const std::vector<Bytes>& r) {
                                  // Each exchange waits 700 ms for nothing: the third falls after
                                  // the quiet.
                                  EXPECT_TRUE(r[0].empty());
                                  EXPECT_TRUE(r[1].empty());
                                  ExpectGood(r[2]);
                                }},
                      FaultCase{"dropEverySecond", [](sim::FaultConfig& f) { f.dropEvery = 2; },
                                [](const std::vector<Bytes>& r) {
                                  ExpectGood(r[0]);
                                  EXPECT_TRUE(r[1].empty());
                                  ExpectGood(r[2]);
                                }},
                      FaultCase{"badCrc", [](sim::FaultConfig& f) { f.badCrc = true; },
                                [](const std::vector<Bytes>& r) {
                                  for (const auto& reply : r) {
                                    EXPECT_EQ(reply.size(), kPollReplySize);
                                    EXPECT_FALSE(CrcOk(reply));
                                    EXPECT_EQ(Values(reply, 1).size(), 31u);
                                  }
                                }},
                      FaultCase{"badCrcOnce",
                                [](sim::FaultConfig& f) {
                                  f.badCrc = true;
                                  f.damageLimit = 1;
                                },
                                [](const std::vector<Bytes>& r) {
                                  EXPECT_FALSE(CrcOk(r[0]));
                                  ExpectGood(r[1]);
                                  ExpectGood(r[2]);
                                }},
                      FaultCase{"strayByte",
                                [](sim::FaultConfig& f) {
                                  f.strayByte = true;
                                  f.strayValue = 0x01;
                                },
                                [](const std::vector<Bytes>& r) {
                                  for (const auto& reply : r) {
                                    ASSERT_EQ(reply.size(), kPollReplySize + 1);
                                    EXPECT_EQ(reply[0], 0x01);
                                    ExpectGood(Bytes(reply.begin() + 1, reply.end()));
                                  }
                                }},
                      FaultCase{"exception", [](sim::FaultConfig& f) { f.exceptionReply = true; },
                                [](const std::vector<Bytes>& r) {
                                  for (const auto& reply : r)
                                    EXPECT_EQ(reply, WithCrc({1, 0x84, 2}));
                                }},
                      FaultCase{"shortReply", [](sim::FaultConfig& f) { f.shortReply = true; },
                                [](const std::vector<Bytes>& r) {
                                  for (const auto& reply : r) {
                                    EXPECT_TRUE(CrcOk(reply));
                                    EXPECT_EQ(reply[2], 60);
                                    EXPECT_EQ(Values(reply, 1).size(), 30u);
                                  }
                                }},
                      FaultCase{"stuck", [](sim::FaultConfig& f) { f.stuckPartial = true; },
                                [](const std::vector<Bytes>& r) {
                                  for (const auto& reply : r) {
                                    // Header declares 62 bytes, about half of them arrive, then
                                    // nothing.
                                    ASSERT_GE(reply.size(), 4u);
                                    EXPECT_LT(reply.size(), kPollReplySize - 2);
                                    EXPECT_EQ(reply[0], 1);
                                    EXPECT_EQ(reply[1], 4);
                                    EXPECT_EQ(reply[2], 62);
                                  }
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimTest, LateRepliesComeAfterTheDelay) {
  config.faults.delay = 300ms;
  Start();
  ASSERT_TRUE(client->Send(kPoll));
  EXPECT_TRUE(client->Receive(200ms).empty());
  ExpectGood(client->Receive(1000ms));
}

TEST_F(SimTest, PacedRepliesTakeTheirTimeOnTheWire) {
  config.paceReplies = true;
  Start();
  ASSERT_TRUE(client->Send(kPoll));
  const auto sent = std::chrono::steady_clock::now();
  ExpectGood(client->Receive(1000ms, 30ms));
  // 67 characters at 1.04 ms each; the last one leaves about 69 ms after the first.
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 65ms);
}

TEST_F(SimTest, FaultsSetAtStartApplyAndCanBeClearedWhileRunning) {
  config.faults.silent = true;
  Start();
  EXPECT_TRUE(client->Exchange(kPoll, 300ms).empty());
  sim->SetFaults({});
  ExpectGood(client->Exchange(kPoll));
}

TEST_F(SimTest, HangUpClosesTheLineAndComesBackOnTheSameComNumber) {
  Start();
  ExpectGood(client->Exchange(kPoll));

  sim->HangUp(1500ms);  // long enough to still be down when the test looks, even under load
  bool hungUp = false;
  client->Receive(1000ms, 60ms, &hungUp);
  EXPECT_TRUE(hungUp);  // the program's end sees the device go away
  EXPECT_FALSE(sim->IsLineUp());
  EXPECT_EQ(sim->HangUpCount(), 1u);
  for (int i = 0; i < 100 && std::filesystem::exists(sim->LinkPath()); ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(std::filesystem::exists(sim->LinkPath())) << "dangles, as a gone device node";
  client.reset();

  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (!sim->IsLineUp() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(sim->IsLineUp());
  EXPECT_EQ(std::filesystem::read_symlink(sim->LinkPath()), sim->SlavePath());
  EXPECT_TRUE(std::filesystem::exists(sim->SlavePath()));
  Connect();
  ExpectGood(client->Exchange(kPoll));
}

TEST_F(SimTest, HangUpAfterRepliesComesBackByItself) {
  config.faults.hangUpAfterReplies = 1;
  config.faults.hangUpFor = 300ms;
  Start();
  ExpectGood(client->Exchange(kPoll));
  bool hungUp = false;
  ASSERT_TRUE(client->Send(kPoll));
  EXPECT_TRUE(client->Receive(1000ms, 60ms, &hungUp).empty());
  EXPECT_TRUE(hungUp);
  client.reset();
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (!sim->IsLineUp() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_TRUE(sim->IsLineUp());
  Connect();
  ExpectGood(client->Exchange(kPoll));
  ExpectGood(client->Exchange(kPoll));  // one hang-up only
  EXPECT_EQ(sim->HangUpCount(), 1u);
}

TEST_F(SimTest, StopDuringALongDelayReturnsPromptly) {
  config.faults.delay = 10s;
  Start();
  ASSERT_TRUE(client->Send(kPoll));
  ASSERT_TRUE(sim->WaitForRequests(1, 1s));
  const auto before = std::chrono::steady_clock::now();
  sim->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

}  // namespace
}  // namespace pyranex::test
