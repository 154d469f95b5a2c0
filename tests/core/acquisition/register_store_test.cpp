#include "core/acquisition/register_store.h"

#include <gtest/gtest.h>

#include <vector>

namespace pyranex {
namespace {

class RegisterStoreTest : public ::testing::Test {
 protected:
  RegisterStore::Outcome Put(uint32_t reg, int value, bool unscaled = false) {
    return store.Store(value, reg, tick, unscaled);
  }
  void PutRecord(const std::vector<std::pair<uint32_t, int>>& values) {
    for (auto [reg, value] : values) Put(reg, value);
  }
  DayLog log;
  int rated = 0;
  RegisterStore store{log, rated};
  uint32_t tick = 5000;
};

struct SingleCase {
  uint32_t reg;
  int raw;
  float expected;
  const std::vector<float>& (*series)(const DayLog&);
};

TEST_F(RegisterStoreTest, SingleRegistersAreScaledByTheirDivisor) {
  const std::vector<SingleCase> cases = {
      {11, 3605, 360.5f, [](const DayLog& l) -> const std::vector<float>& { return l.udc; }},
      {21, 4998, 49.98f, [](const DayLog& l) -> const std::vector<float>& { return l.freq; }},
      {24, 123, 12.3f, [](const DayLog& l) -> const std::vector<float>& { return l.eToday; }},
      {31, 456, 45.6f, [](const DayLog& l) -> const std::vector<float>& { return l.temp; }},
      {35, 0xFFF6, -10.0f, [](const DayLog& l) -> const std::vector<float>& { return l.dci; }},
      {35, 25, 25.0f, [](const DayLog& l) -> const std::vector<float>& { return l.dci; }},
  };
  for (const SingleCase& c : cases) {
    const size_t before = c.series(log).size();
    EXPECT_EQ(Put(c.reg, c.raw), RegisterStore::Outcome::Stored);
    ASSERT_EQ(c.series(log).size(), before + 1) << "register " << c.reg;
    EXPECT_FLOAT_EQ(c.series(log).back(), c.expected) << "register " << c.reg;
  }
}

struct PairCase {
  bool firmwareV500;
  uint16_t high;
  uint16_t low;
  float pac;
};

class PowerScalingTest : public RegisterStoreTest,
                         public ::testing::WithParamInterface<PairCase> {};

TEST_P(PowerScalingTest, PowerPairIsDividedUnlessFirmwareV500) {
  const PairCase c = GetParam();
  store.Store(c.high, 22, tick, c.firmwareV500);
  store.Store(c.low, 23, tick, c.firmwareV500);
  ASSERT_EQ(log.pac.size(), 1u);
  EXPECT_FLOAT_EQ(log.pac[0], c.pac);
  ASSERT_EQ(log.tickMs.size(), 1u);
  EXPECT_EQ(log.tickMs[0], tick);
}

INSTANTIATE_TEST_SUITE_P(Firmware, PowerScalingTest,
                         ::testing::Values(PairCase{true, 0, 1500, 1500.0f},
                                           PairCase{false, 0, 1500, 150.0f},
                                           PairCase{false, 1, 0, 6553.6f},
                                           PairCase{true, 1, 2, 65538.0f}));

TEST_F(RegisterStoreTest, PairsJoinHighAndLowWords) {
  PutRecord({{25, 2},
             {26, 5},
             {27, 0},
             {28, 300},
             {29, 1},
             {30, 4},
             {39, 0x8001},
             {40, 0x0002},
             {41, 3},
             {32, 9}});
  EXPECT_FLOAT_EQ(log.eTotal.at(0), (2 * 65536 + 5) / 10.0f);
  EXPECT_EQ(log.tToday.at(0), 300u);
  EXPECT_EQ(log.tTotal.at(0), 65540u);
  EXPECT_EQ(log.state1.at(0), 0x80010002u);
  EXPECT_EQ(log.state2.at(0), 3u);
  EXPECT_EQ(log.iacShift.at(0), 9u);
}

TEST_F(RegisterStoreTest, LowWordWithoutExactlyOnePendingHighWordIsDropped) {
  EXPECT_EQ(Put(23, 100), RegisterStore::Outcome::Ignored);  // none pending
  EXPECT_TRUE(log.pac.empty());
  EXPECT_TRUE(log.tickMs.empty());
  Put(22, 0);
  Put(25, 0);
  EXPECT_EQ(Put(26, 100), RegisterStore::Outcome::Ignored);  // two pending
  EXPECT_EQ(store.PendingHighWords(), 2u);
  EXPECT_TRUE(log.eTotal.empty());
}

TEST_F(RegisterStoreTest, NewReplyForgetsHalfPairsOfACutShortOne) {
  Put(22, 0);  // reply cut after the high word
  store.BeginReply();
  Put(22, 0);
  Put(23, 1500);
  EXPECT_EQ(log.pac.size(), 1u);
  EXPECT_EQ(store.PendingHighWords(), 0u);
}

TEST_F(RegisterStoreTest, NewReplyCutsSeriesBackToTheLastWholeCycle) {
  PutRecord({{11, 1}, {15, 2}, {21, 3}});  // a reply that stopped early
  store.BeginReply();
  EXPECT_TRUE(log.udc.empty());
  EXPECT_TRUE(log.uac.empty());
  EXPECT_TRUE(log.freq.empty());
}

TEST_F(RegisterStoreTest, UacLengthDifferentFromUdcIsReported) {
  EXPECT_EQ(Put(15, 2300), RegisterStore::Outcome::UdcUacMismatch);
  EXPECT_EQ(log.uac.size(), 1u);  // the value stays
  Put(11, 3000);
  Put(11, 3000);
  EXPECT_EQ(Put(15, 2300), RegisterStore::Outcome::Stored);  // two and two
  EXPECT_EQ(Put(15, 2300), RegisterStore::Outcome::UdcUacMismatch);
}

TEST_F(RegisterStoreTest, RatedPowerAndIgnoredRegisters) {
  EXPECT_EQ(Put(44, 50), RegisterStore::Outcome::Stored);
  EXPECT_EQ(rated, 50);
  EXPECT_EQ(Put(45, 500), RegisterStore::Outcome::Ignored);
  EXPECT_EQ(store.VersionRegister(), 500);
  for (uint32_t reg : {1u, 12u, 33u, 42u, 81u, 361u}) {
    EXPECT_EQ(Put(reg, 7), RegisterStore::Outcome::Ignored) << reg;
  }
  EXPECT_EQ(log.CompleteCount(), 0u);
  EXPECT_TRUE(log.udc.empty());
}

TEST(RegisterDivisorTest, TableOfTheLiveRecord) {
  const std::vector<std::pair<uint32_t, float>> table = {
      {11, 10}, {15, 10}, {21, 100}, {23, 10}, {24, 10}, {26, 10}, {28, 1},
      {30, 1},  {31, 10}, {32, 1},   {35, 1},  {40, 1},  {41, 1},  {12, 0}};
  for (auto [reg, divisor] : table) EXPECT_EQ(RegisterDivisor(reg), divisor) << reg;
}

}  // namespace
}  // namespace pyranex
