#include "core/workbook/xls_structure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>

#include "core/workbook/compound_file.h"
#include "core/workbook/xls_writer.h"

namespace pyranex {
namespace {

std::vector<uint8_t> SmallStream() {
  XlsContent content;
  content.sheets.push_back({"tester-parset", {}});
  content.strings.push_back(EncodeXlsString("Parameter"));
  content.strings.push_back(EncodeXlsString(std::string(9000, 'w')));
  auto& cells = content.sheets[0].cells;
  cells.push_back({0, 0, XlsCell::Kind::String, 0, 0});
  cells.push_back({0, 1, XlsCell::Kind::String, 1, 0});
  cells.push_back({2, 1, XlsCell::Kind::Number, 0, 230.123456789});  // no RK form: NUMBER
  return EncodeWorkbookStream(content);
}

// Offset of the n-th record of a type in a stream.
size_t RecordAt(const std::vector<uint8_t>& s, uint16_t type, int n = 0) {
  for (size_t at = 0; at + 4 <= s.size();) {
    const uint16_t t = static_cast<uint16_t>(s[at] | s[at + 1] << 8);
    const size_t len = s[at + 2] | s[at + 3] << 8;
    if (t == type && n-- == 0) return at;
    at += 4 + len;
  }
  return SIZE_MAX;
}

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

TEST(XlsStructure, SoundStreamsPass) {
  std::string why;
  const auto stream = SmallStream();
  EXPECT_TRUE(CheckBiffRecords(stream, why)) << why;
  EXPECT_TRUE(CheckXlsStructure(BuildCompoundFile(stream), why)) << why;
}

TEST(XlsStructure, DamagedRecordsAreRefused) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"not BIFF8", [](auto& s) { Put16(s, 4, 0x0500); }},
      {"record too long", [](auto& s) { Put16(s, RecordAt(s, 0x0042) + 2, 8225); }},
      {"record past the end", [](auto& s) { s.resize(RecordAt(s, 0x023E) + 10); }},
      {"sheet name too long", [](auto& s) { s[RecordAt(s, 0x0085) + 4 + 6] = 200; }},
      {"font name too long", [](auto& s) { s[RecordAt(s, 0x0031) + 4 + 14] = 40; }},
      {"string index past the table", [](auto& s) { s[RecordAt(s, 0x00FD) + 4 + 6] = 2; }},
      {"cell below the dimensions", [](auto& s) { Put16(s, RecordAt(s, 0x0203) + 4, 3); }},
      {"cell right of the dimensions", [](auto& s) { Put16(s, RecordAt(s, 0x00FD, 1) + 6, 2); }},
      {"more shared strings than stored", [](auto& s) { s[RecordAt(s, 0x00FC) + 4 + 4] = 3; }},
      {"string longer than its records",
       [](auto& s) { Put16(s, RecordAt(s, 0x00FC) + 4 + 8 + 3 + 9 + 0, 9999); }},
      {"cell before any dimensions", [](auto& s) { Put16(s, RecordAt(s, 0x0200), 0x0201); }},
      {"second dimensions in a sheet",
       [](auto& s) {
         const size_t at = RecordAt(s, 0x0200);
         s.insert(s.begin() + static_cast<std::ptrdiff_t>(at), s.begin() + at, s.begin() + at + 18);
       }},
      {"sheet offset not at its BOF", [](auto& s) { s[RecordAt(s, 0x0085) + 4] ^= 1; }},
  };
  for (const Case& c : cases) {
    auto stream = SmallStream();
    c.damage(stream);
    std::string why;
    EXPECT_FALSE(CheckBiffRecords(stream, why)) << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
  }
}

// Hand-made streams: a BOF, the given records, an EOF.
std::vector<uint8_t> RawStream(
    std::initializer_list<std::pair<uint16_t, std::vector<uint8_t>>> records) {
  // Sized once: growing the eight-byte header by resize makes g++ 12 at -O3 warn of a memcpy
  // out of bounds that cannot happen.
  std::vector<uint8_t> s(4 + 16, 0);
  const uint8_t bof[] = {0x09, 0x08, 16, 0, 0x00, 0x06, 0x05, 0x00};
  std::copy(std::begin(bof), std::end(bof), s.begin());
  for (const auto& [type, body] : records) {
    s.insert(s.end(), {static_cast<uint8_t>(type), static_cast<uint8_t>(type >> 8),
                       static_cast<uint8_t>(body.size()), static_cast<uint8_t>(body.size() >> 8)});
    s.insert(s.end(), body.begin(), body.end());
  }
  s.insert(s.end(), {0x0A, 0x00, 0, 0});
  return s;
}

TEST(XlsStructure, SharedStringsOnlyAsExcelSplitsThem) {
  struct Case {
    const char* what;
    std::vector<uint8_t> stream;
    bool sound;
  };
  const Case cases[] = {
      {"string whole in the SST", RawStream({{0x00FC, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 'a'}}}),
       true},
      {"characters continued once",
       RawStream({{0x00FC, {1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 'a'}}, {0x003C, {0, 'b'}}}), true},
      {"header split from its characters' length",
       RawStream({{0x00FC, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0}}, {0x003C, {0, 'a'}}}), false},
      {"characters over three records",
       RawStream({{0x00FC, {1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 'a'}},
                  {0x003C, {0, 'b'}},
                  {0x003C, {0, 'c'}}}),
       false},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(CheckBiffRecords(c.stream, why), c.sound) << c.what << ": " << why;
  }
}

TEST(XlsStructure, DeclaredCellsAreBounded) {
  XlsContent content;
  for (int i = 0; i < 5; ++i) content.sheets.push_back({"s" + std::to_string(i), {}});
  for (auto& sheet : content.sheets)
    sheet.cells.push_back({65535, 15, XlsCell::Kind::Number, 0, 1});
  std::string why;
  EXPECT_FALSE(CheckBiffRecords(EncodeWorkbookStream(content), why));
  content.sheets.pop_back();
  EXPECT_TRUE(CheckBiffRecords(EncodeWorkbookStream(content), why)) << why;
}

TEST(XlsStructure, DamagedContainersAreRefused) {
  const auto good = BuildCompoundFile(SmallStream());
  const auto u32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const Case cases[] = {
      {"signature", [](auto& f) { f[0] = 0; }},
      {"short file", [](auto& f) { f.resize(300); }},
      {"sector size", [](auto& f) { f[30] = 10; }},
      {"FAT sector out of the file", [&](auto& f) { u32(f, 76, 100000); }},
      {"directory out of the file", [&](auto& f) { u32(f, 48, 99999); }},
      {"FAT loop",
       [&](auto& f) {
         // The stream's first FAT entry points back at itself.
         const uint32_t fatSector = f[76] | f[77] << 8;
         u32(f, 512 + fatSector * 512, 0);
       }},
      {"stream larger than its chain",
       [&](auto& f) {
         const uint32_t dirSector = f[48] | f[49] << 8;
         u32(f, 512 + dirSector * 512 + 128 + 120, 1 << 24);
       }},
      {"truncated after the header", [](auto& f) { f.resize(1024); }},
      {"FAT count beyond the file behind a looping DIFAT",
       [&](auto& f) {
         u32(f, 44, 0x7B000000);
         u32(f, 72, 0x7B000000);
         u32(f, 68, 0);
         u32(f, 512 + 508, 0);  // the DIFAT sector names itself as the next one
       }},
      {"DIFAT count beyond the file", [&](auto& f) { u32(f, 72, 0x10000); }},
      {"FAT sector listed past the FAT size", [&](auto& f) { u32(f, 76 + 4 * f[44], 0); }},
      {"root entry name longer than its field", [&](auto& f) { f[512 + f[48] * 512 + 65] = 0xFF; }},
      {"stream entry name longer than its field",
       [&](auto& f) { f[512 + f[48] * 512 + 128 + 64] = 66; }},
      {"Workbook entry is a storage", [&](auto& f) { f[512 + f[48] * 512 + 128 + 66] = 1; }},
      {"Workbook stream under the mini stream cutoff",
       [&](auto& f) { u32(f, 512 + f[48] * 512 + 128 + 120, 4000); }},
      {"chain longer than the stream",
       [&](auto& f) {
         const size_t at = 512 + f[48] * 512 + 128 + 120;
         u32(f, at, (f[at] | f[at + 1] << 8 | f[at + 2] << 16) - 1024);
       }},
  };
  for (const Case& c : cases) {
    auto file = good;
    c.damage(file);
    std::string why;
    EXPECT_FALSE(CheckXlsStructure(file, why)) << c.what;
  }
}

}  // namespace
}  // namespace pyranex
