// The parts of a workbook file that need no reader to check: the compound file's sector
// tables and the RK form of numbers.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/workbook/biff_stream.h"
#include "core/workbook/compound_file.h"

namespace pyranex {
namespace {

TEST(CompoundFile, FatAndDifatCoverEverySector) {
  struct Case {
    size_t streamSize;
    uint32_t fatSectors;
    uint32_t difatSectors;
  };
  const Case cases[] = {
      {4096, 1, 0},
      {512 * 126, 1, 0},  // 126 + directory + FAT = 128 sectors
      {512 * 127, 2, 0},  // one more needs a second FAT sector
      {7000000, 108, 0},
      {109 * 128 * 512 - 512 * 111, 109, 0},
      {109 * 128 * 512, 110, 1},  // past the header's 109 FAT sectors: DIFAT needed
      {17000000, 262, 2},
  };
  for (const Case& c : cases) {
    const CompoundFrame f = FrameWorkbookStream(c.streamSize);
    const auto u32 = [&](const std::vector<uint8_t>& b, size_t at) {
      return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
             uint32_t{b[at + 3]} << 24;
    };
    EXPECT_EQ(u32(f.header, 44), c.fatSectors) << c.streamSize;
    EXPECT_EQ(u32(f.header, 72), c.difatSectors) << c.streamSize;
    const size_t streamSectors = (c.streamSize + 511) / 512;
    EXPECT_EQ(f.padding, streamSectors * 512 - c.streamSize);
    const size_t totalSectors = streamSectors + f.trailer.size() / 512;
    EXPECT_LE(totalSectors, size_t{c.fatSectors} * 128) << c.streamSize;
    EXPECT_GT(totalSectors, size_t{c.fatSectors - 1} * 128) << c.streamSize;
  }
}

TEST(RkNumbers, FormChosenOnlyWhenExact) {
  struct Case {
    double value;
    bool rk;
    uint32_t bits;
  };
  const Case cases[] = {
      {0, true, 0x2},
      {1, true, 0x6},
      {-1, true, 0xFFFFFFFE},
      {536870911, true, 0x7FFFFFFE},   // 2^29 - 1
      {-536870912, true, 0x80000002},  // -2^29
      {536870912, true, 0x41C00000},   // 2^29: too big for 30 bits, but a short double
      {536870913, false, 0},
      {230.5, true, (23050u << 2) | 3},  // hundredths
      {49.95, true, (4995u << 2) | 3},
      {-0.01, true, (static_cast<uint32_t>(-1) << 2) | 3},
      {0.001, false, 0},
      {1.0 / 3, false, 0},
      {1e300, false, 0},
      {-0.0, false, 0},
      {5368709120.0, true, 0x41F40000},  // a double whose low 34 bits are zero
  };
  for (const Case& c : cases) {
    uint32_t rk = 0;
    EXPECT_EQ(EncodeRk(c.value, rk), c.rk) << c.value;
    if (c.rk) {
      EXPECT_EQ(rk, c.bits) << c.value;
    }
  }
}

// The RK form worked out by the library's rounding: the reference for the quicker one.
bool LibraryRk(double value, uint32_t& rk) {
  if (!std::isfinite(value) || (value == 0 && std::signbit(value))) return false;
  for (const int scale : {1, 100}) {
    const double scaled = std::round(value * scale);
    if (scaled >= -536870912.0 && scaled < 536870912.0 && scaled / scale == value) {
      rk = static_cast<uint32_t>(static_cast<int32_t>(scaled)) << 2 | (scale == 1 ? 2u : 3u);
      return true;
    }
  }
  const auto bits = std::bit_cast<uint64_t>(value);
  rk = static_cast<uint32_t>(bits >> 32);
  return (bits & 0x3FFFFFFFFull) == 0;
}

TEST(RkNumbers, SameFormAsWithTheLibrarysRounding) {
  std::mt19937_64 random(5);
  std::vector<double> values = {0.5, -0.5, 1.005, 2.675, 536870911.5, -536870912.5, 0.015};
  for (int n = 0; n < 100000; ++n) {
    const auto hundredths = static_cast<int64_t>(random() % 2000000000) - 1000000000;
    values.push_back(static_cast<double>(hundredths) / 100);
    values.push_back(static_cast<double>(hundredths) / 100 + 0.005);
    values.push_back(std::bit_cast<double>(random()));  // any double at all
  }
  for (const double v : values) {
    uint32_t ours = 0, theirs = 0;
    const bool isRk = EncodeRk(v, ours);
    ASSERT_EQ(isRk, LibraryRk(v, theirs)) << v;
    if (isRk) {
      ASSERT_EQ(ours, theirs) << v;
    }
  }
}

}  // namespace
}  // namespace pyranex
