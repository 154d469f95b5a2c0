// The nearest-sample search the chart and the export share.
#include "core/samples/sample_index.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace pyranex {
namespace {

struct IndexCase {
  std::vector<uint32_t> times;
  double minutes;
  int expected;
};

class FindSampleIndexTest : public testing::TestWithParam<IndexCase> {};

TEST_P(FindSampleIndexTest, Nearest) {
  EXPECT_EQ(FindSampleIndex(GetParam().times, GetParam().minutes), GetParam().expected);
}

const std::vector<uint32_t> kEvery = {0, 60000, 120000, 180000};  // span 3 minutes

INSTANTIATE_TEST_SUITE_P(
    Cases, FindSampleIndexTest,
    testing::Values(IndexCase{{}, 1.0, -1},               // no samples
                    IndexCase{{5000}, 0.5, -1},           // one sample
                    IndexCase{kEvery, 0.0, -1},           // at the first sample
                    IndexCase{kEvery, -2.0, -1},          // before it
                    IndexCase{kEvery, 3.0, -1},           // at the last
                    IndexCase{kEvery, 4.0, -1},           // after it
                    IndexCase{kEvery, std::nan(""), -1},  // not a number
                    IndexCase{{7, 7, 7}, 0.5, -1},        // no time between samples
                    IndexCase{kEvery, 0.0001, 0},         // just inside
                    IndexCase{kEvery, 2.9999, 3},         //
                    IndexCase{kEvery, 1.4, 1},            //
                    IndexCase{kEvery, 1.6, 2},            //
                    IndexCase{kEvery, 0.5, 1},            // tie, guess before the target: later
                    IndexCase{{0, 1000, 2000, 60000}, 0.025, 2},    // tie, guess before: later
                    IndexCase{{0, 58000, 59000, 60000}, 0.975, 1},  // tie, guess after: earlier
                    IndexCase{{0xFFFFF000u, 0xFFFFF000u + 60000u, 0xFFFFF000u + 120000u}, 1.2, 1}));

TEST(FindSampleIndex, AlwaysTheNearestAndInsideTheArray) {
  // Uneven spacing so that the proportional guess is often wrong and the walks do the work.
  std::vector<uint32_t> times{0};
  std::srand(7);
  for (int i = 1; i < 500; ++i) times.push_back(times.back() + 200 + std::rand() % 9000);
  const double span = times.back() / 60000.0;
  for (double m = 0.003; m < span; m += span / 997) {
    const int i = FindSampleIndex(times, m);
    ASSERT_GE(i, 0);
    ASSERT_LT(i, static_cast<int>(times.size()));
    const int64_t target = static_cast<int64_t>(std::trunc(m * 60000));
    const int64_t best = std::llabs(static_cast<int64_t>(times[i]) - target);
    for (uint32_t t : times) {
      ASSERT_LE(best, std::llabs(static_cast<int64_t>(t) - target)) << m;
    }
  }
}

}  // namespace
}  // namespace pyranex
