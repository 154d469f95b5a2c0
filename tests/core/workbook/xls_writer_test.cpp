#include "core/workbook/xls_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <bit>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/workbook/compound_file.h"
#include "xls_readback.h"

namespace pyranex {
namespace {

using test::ReadBook;
using test::ReadCell;
using test::TempDir;

ReadCell Num(double v) {
  return {true, v, {}};
}
ReadCell Txt(std::string t) {
  return {false, 0, std::move(t)};
}

void ExpectBothReadersSee(const std::filesystem::path& file, const test::CellMap& expected,
                          const std::vector<std::string>& sheets) {
  for (const ReadBook& book : {test::ReadWithFreeXl(file), test::ReadWithXlrd(file)}) {
    ASSERT_TRUE(book.ok) << book.error;
    EXPECT_EQ(book.sheetNames, sheets);
    EXPECT_EQ(book.cells.size(), expected.size());
    for (const auto& [key, cell] : expected) {
      const auto it = book.cells.find(key);
      ASSERT_NE(it, book.cells.end()) << std::get<1>(key) << "," << std::get<2>(key);
      EXPECT_EQ(it->second, cell) << std::get<1>(key) << "," << std::get<2>(key);
    }
  }
}

TEST(XlsWriter, CellsSurviveBothReaders) {
  TempDir dir;
  auto writer = XlsWriter::Start();
  ASSERT_TRUE(writer);
  writer->NewWorkbook();
  writer->FirstSheet();
  EXPECT_TRUE(writer->PutCellText("A1", "SN: 000000000001,Model: 5000"));
  EXPECT_TRUE(writer->PutCellText("J2", "T(°C)"));
  EXPECT_TRUE(writer->PutCellText("B3", "230.5"));
  EXPECT_TRUE(writer->PutCellText("C3", " -12 "));
  EXPECT_TRUE(writer->PutCellText("D3", "2011-11-24 08-05-00"));
  EXPECT_TRUE(writer->PutCellText("E3", "温度"));
  EXPECT_TRUE(writer->PutCellText("F3", "first"));
  EXPECT_TRUE(writer->PutCellText("F3", "7"));  // replaced by a number
  EXPECT_TRUE(writer->PutCellText("G3", "gone"));
  EXPECT_TRUE(writer->PutCellText("G3", ""));  // cleared
  EXPECT_FALSE(writer->PutCellText("IW1", "x"));
  EXPECT_FALSE(writer->PutCellText(65536, 0, "x"));
  const auto file = dir / "cells.xls";
  ASSERT_EQ(writer->SaveAs(file), "");

  const test::CellMap expected = {
      {{0, 0, 0}, Txt("SN: 000000000001,Model: 5000")},
      {{0, 1, 9}, Txt("T(°C)")},
      {{0, 2, 1}, Num(230.5)},
      {{0, 2, 2}, Num(-12)},
      {{0, 2, 3}, Txt("2011-11-24 08-05-00")},
      {{0, 2, 4}, Txt("温度")},
      {{0, 2, 5}, Num(7)},
  };
  ExpectBothReadersSee(file, expected, {"Sheet1"});
}

TEST(XlsWriter, LastRowAndColumn) {
  TempDir dir;
  auto writer = XlsWriter::Start();
  writer->NewWorkbook();
  writer->FirstSheet();
  EXPECT_TRUE(writer->PutCellText("IV65536", "corner"));
  EXPECT_TRUE(writer->PutCellText(65535, 0, "1"));
  ASSERT_EQ(writer->SaveAs(dir / "corner.xls"), "");
  // xlrd only: FreeXL's full scan of a 65536 x 256 sheet takes seconds.
  const ReadBook book = test::ReadWithXlrd(dir / "corner.xls");
  ASSERT_TRUE(book.ok) << book.error;
  EXPECT_EQ(book.cells, (test::CellMap{{{0, 65535, 255}, Txt("corner")}, {{0, 65535, 0}, Num(1)}}));
}

TEST(XlsWriter, NoCellsBeforeASheetIsSelected) {
  auto writer = XlsWriter::Start();
  writer->NewWorkbook();
  EXPECT_FALSE(writer->PutCellText("A1", "x"));
  writer->FirstSheet();
  EXPECT_TRUE(writer->PutCellText("A1", "x"));
  writer->Quit();
  EXPECT_FALSE(writer->PutCellText("A1", "x"));
  TempDir dir;
  EXPECT_NE(writer->SaveAs(dir / "none.xls"), "");
  EXPECT_FALSE(std::filesystem::exists(dir / "none.xls"));
}

TEST(XlsWriter, EmptyWorkbookAndSeveralSheets) {
  TempDir dir;
  auto writer = XlsWriter::Start();
  writer->NewWorkbook();
  writer->FirstSheet();
  ASSERT_EQ(writer->SaveAs(dir / "empty.xls"), "");
  ExpectBothReadersSee(dir / "empty.xls", {}, {"Sheet1"});

  writer->NameSheet("tester-parset");
  writer->PutCellText("A1", "Parameter");
  writer->AddSheet("tester-modelcode");
  writer->PutCellText("B2", "12");
  writer->AddSheet("Größe");
  writer->PutCellText("A1", "x");
  ASSERT_EQ(writer->SaveAs(dir / "three.xls"), "");
  ExpectBothReadersSee(dir / "three.xls",
                       {{{0, 0, 0}, Txt("Parameter")}, {{1, 1, 1}, Num(12)}, {{2, 0, 0}, Txt("x")}},
                       {"tester-parset", "tester-modelcode", "Größe"});
}

// Strings that fill the shared string table past one record, split inside long strings
// (narrow and wide) and land exactly at record boundaries.
void WriteStrings(const std::filesystem::path& file, const std::vector<std::string>& texts,
                  test::CellMap& expected) {
  auto writer = XlsWriter::Start();
  writer->NewWorkbook();
  writer->FirstSheet();
  for (uint32_t row = 0; row < texts.size(); ++row) {
    ASSERT_TRUE(writer->PutCellText(row, 0, texts[row]));
    expected[{0, row, 0}] = Txt(texts[row]);
  }
  ASSERT_EQ(writer->SaveAs(file), "");
}

std::string Repeat(const std::string& piece, size_t times) {
  std::string text;
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(XlsWriter, SharedStringsAcrossContinueRecords) {
  // Each long string spans two records at most (see below).
  std::vector<std::string> texts;
  texts.push_back(std::string(12000, 'n'));
  texts.push_back(Repeat("é€", 3000));  // 12000 bytes of UTF-16
  for (int len = 8200; len < 8230; ++len) {
    texts.push_back(std::string(static_cast<size_t>(len), static_cast<char>('a' + len % 26)));
  }
  for (int i = 0; i < 3000; ++i) texts.push_back("text " + std::to_string(i));
  for (int i = 0; i < 200; ++i) {
    texts.push_back("µ" + std::string(static_cast<size_t>(i * 37 % 700), 'z') + "Ω");
  }
  TempDir dir;
  test::CellMap expected;
  WriteStrings(dir / "sst.xls", texts, expected);
  ExpectBothReadersSee(dir / "sst.xls", expected, {"Sheet1"});
}

// FreeXL 1.0.6 reads no workbook with a string over more than two records (xlwt's files
// included), so strings this long are checked with xlrd alone.
TEST(XlsWriter, StringsOverManyRecords) {
  const std::vector<std::string> texts = {std::string(32767, 'n'), Repeat("é€", 9000),
                                          std::string(40000, 'c')};
  TempDir dir;
  test::CellMap expected;
  WriteStrings(dir / "long.xls", texts, expected);
  expected[{0, 2, 0}] = Txt(std::string(32767, 'c'));  // cut at the cell limit
  const ReadBook book = test::ReadWithXlrd(dir / "long.xls");
  ASSERT_TRUE(book.ok) << book.error;
  EXPECT_EQ(book.cells, expected);
}

TEST(XlsWriter, SaveReplacesAnExistingFile) {
  TempDir dir;
  const auto file = dir / "book.xls";
  auto writer = XlsWriter::Start();
  for (const char* text : {"first", "second"}) {
    writer->NewWorkbook();
    writer->FirstSheet();
    writer->PutCellText("A1", text);
    ASSERT_EQ(writer->SaveAs(file), "");
  }
  ExpectBothReadersSee(file, {{{0, 0, 0}, Txt("second")}}, {"Sheet1"});
  // Only the workbook is left in the folder: no temporary files.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(XlsWriter, LongButValidNamesSave) {
  TempDir dir;
  auto writer = XlsWriter::Start();
  for (const size_t length : {200u, 240u, 250u, 255u}) {
    SCOPED_TRACE(length);
    std::string name(length - 4, 'n');
    name.append(".xls");
    const auto file = dir / name;
    writer->NewWorkbook();
    writer->FirstSheet();
    writer->PutCellText("A1", "long");
    ASSERT_EQ(writer->SaveAs(file), "");
    EXPECT_TRUE(std::filesystem::exists(file));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}

TEST(XlsWriter, FailedSavesReportTheReasonAndKeepThePreviousFile) {
  TempDir dir;
  const auto file = dir / "keep.xls";
  auto writer = XlsWriter::Start();
  writer->NewWorkbook();
  writer->FirstSheet();
  writer->PutCellText("A1", "old");
  ASSERT_EQ(writer->SaveAs(file), "");
  const std::string before = test::ReadFileBytes(file);

  writer->PutCellText("A1", "new");
  const std::string missing = writer->SaveAs(dir / "no-such-folder" / "x.xls");
  EXPECT_NE(missing.find("No such file or directory"), std::string::npos) << missing;

  std::filesystem::create_directory(dir / "a-folder.xls");
  EXPECT_NE(writer->SaveAs(dir / "a-folder.xls"), "");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a-folder.xls"));

  EXPECT_NE(writer->SaveAs(file, 56), "");  // only the Excel 97-2003 format is written

  // A save that fails midway: the disk "fills" after 8 KiB of the new file.
  for (int i = 0; i < 20000; ++i) writer->PutCellText(static_cast<uint32_t>(i), 1, "12.5");
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 8192;
  setrlimit(RLIMIT_FSIZE, &small);
  const std::string midway = writer->SaveAs(file);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_NE(midway.find("cannot write"), std::string::npos) << midway;

  EXPECT_EQ(test::ReadFileBytes(file), before);
  ExpectBothReadersSee(file, {{{0, 0, 0}, Txt("old")}}, {"Sheet1"});
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 2u);  // the workbook and a-folder.xls; no temporary files left behind
}

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

}  // namespace
}  // namespace pyranex

namespace pyranex {
namespace {

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

// Numbers in runs (MULRK), alone (RK) and without an RK form (NUMBER) read back exactly.
TEST(RkNumbers, ReadBackExactly) {
  const double values[] = {
      0,     1,       -1,    536870911, -536870912,   536870912, 230.5,       49.95,        -0.01,
      0.001, 1.0 / 3, 1e300, -1e-300,   5368709120.0, 12345.6,   -2147483647, 4294967295.0, 0.1};
  test::TempDir dir;
  auto writer = XlsWriter::Start();
  writer->NewWorkbook();
  writer->FirstSheet();
  test::CellMap expected;
  char text[64];
  for (uint32_t i = 0; i < std::size(values); ++i) {
    std::snprintf(text, sizeof text, "%.17g", values[i]);
    // Row 0: one run across all columns; rows 1..: each value alone in column i.
    ASSERT_TRUE(writer->PutCellText(0, i, text));
    ASSERT_TRUE(writer->PutCellText(1 + i, i, text));
    expected[{0, 0, i}] = Num(values[i]);
    expected[{0, 1 + i, i}] = Num(values[i]);
  }
  ASSERT_EQ(writer->SaveAs(dir / "numbers.xls"), "");
  ExpectBothReadersSee(dir / "numbers.xls", expected, {"Sheet1"});
}

}  // namespace
}  // namespace pyranex
