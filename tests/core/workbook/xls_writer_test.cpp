#include "core/workbook/xls_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <string>
#include <vector>

#include "core/workbook/compound_file.h"
#include "core/workbook/xls_structure.h"
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

// The reader's structure gate lets through what another writer writes.
TEST(XlsStructure, WorkbooksOfAnotherWriterPass) {
  test::TempDir dir;
  const auto file = dir / "xlwt.xls";
  ASSERT_TRUE(
      test::WriteWithXlwt("=== a\nx\t1\t\ts:2\n=== b\n" + std::string(5000, 'y') + "\n", file));
  const std::string bytes = test::ReadFileBytes(file);
  std::string why;
  EXPECT_TRUE(CheckXlsStructure(std::vector<uint8_t>(bytes.begin(), bytes.end()), why)) << why;
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
