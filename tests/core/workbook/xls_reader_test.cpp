#include "core/workbook/xls_reader.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>

#include "core/workbook/biff_stream.h"
#include "core/workbook/compound_file.h"

namespace pyranex {
namespace {

// A two-column sheet: "Name"/"Value" over one row "x"/42, as a file's bytes.
std::vector<uint8_t> SmallWorkbook() {
  XlsContent content;
  content.sheets.push_back({"tester-parset", {}});
  for (const char* text : {"Name", "Value", "x"}) content.strings.push_back(EncodeXlsString(text));
  auto& cells = content.sheets[0].cells;
  cells.push_back({0, 0, XlsCell::Kind::String, 0, 0});
  cells.push_back({0, 1, XlsCell::Kind::String, 1, 0});
  cells.push_back({1, 0, XlsCell::Kind::String, 2, 0});
  cells.push_back({1, 1, XlsCell::Kind::Number, 0, 42});
  return BuildCompoundFile(EncodeWorkbookStream(content));
}

// The reader hands FreeXL a private copy of the bytes it checked; no file is involved at all.
TEST(XlsTableReader, ReadsCheckedBytesHeldOnlyInMemory) {
  XlsTableReader reader;
  XlsReadError error;
  ASSERT_TRUE(reader.OpenBytes(SmallWorkbook(), "in-memory.xls", error)) << error.description;
  ASSERT_TRUE(reader.SelectSheet("tester-parset", error)) << error.description;
  XlsTableReader::Cell cell;
  ASSERT_TRUE(reader.ReadCell("Name", cell, error)) << error.description;
  EXPECT_EQ(cell.text, "x");
  ASSERT_TRUE(reader.ReadCell("Value", cell, error)) << error.description;
  EXPECT_EQ(cell.kind, XlsTableReader::CellKind::Number);
  EXPECT_EQ(cell.number, 42);
}

// More opens than the process may hold descriptors: each private copy must be let go.
TEST(XlsTableReader, RepeatedOpensKeepNoDescriptor) {
  struct DescriptorLimit {
    rlimit saved{};
    explicit DescriptorLimit(rlim_t limit) {
      ::getrlimit(RLIMIT_NOFILE, &saved);
      rlimit lowered = saved;
      lowered.rlim_cur = std::min(limit, saved.rlim_cur);
      ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
  } limit(128);
  const auto bytes = SmallWorkbook();
  XlsTableReader reader;
  XlsReadError error;
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(reader.OpenBytes(bytes, "again.xls", error)) << i << ": " << error.description;
  }
}

TEST(XlsTableReader, DamagedBytesAreRefusedWithTheirName) {
  auto bytes = SmallWorkbook();
  bytes[512 * 1 + 2] = 0xFF;  // the first record's length runs past the stream
  bytes[512 * 1 + 3] = 0xFF;
  XlsTableReader reader;
  XlsReadError error;
  EXPECT_FALSE(reader.OpenBytes(bytes, "broken.xls", error));
  EXPECT_EQ(error.code, kXlsErrorDamaged);
  EXPECT_NE(error.description.find("'broken.xls' is damaged"), std::string::npos)
      << error.description;
  EXPECT_FALSE(reader.IsOpen());
}

}  // namespace
}  // namespace pyranex
