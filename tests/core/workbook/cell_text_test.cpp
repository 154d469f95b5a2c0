#include "core/workbook/cell_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace pyranex {
namespace {

TEST(CellText, CellNames) {
  struct Case {
    const char* name;
    std::optional<CellRef> ref;
  };
  const Case cases[] = {
      {"A1", CellRef{0, 0}},
      {"B7", CellRef{6, 1}},
      {"n3", CellRef{2, 13}},
      {"Z9", CellRef{8, 25}},
      {"AA1", CellRef{0, 26}},
      {"IV65536", CellRef{65535, 255}},
      {"A65532", CellRef{65531, 0}},
      {"IW1", std::nullopt},
      {"A65537", std::nullopt},
      {"A0", std::nullopt},
      {"A01", std::nullopt},
      {"1A", std::nullopt},
      {"", std::nullopt},
      {"A", std::nullopt},
      {"A1 ", std::nullopt},
      {"AAAA1", std::nullopt},
      {"A-1", std::nullopt},
      {"A1:A1", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseCellName(c.name), c.ref) << c.name;
}

TEST(CellText, TextsThatAreNumbers) {
  struct Case {
    const char* text;
    std::optional<double> number;
  };
  const Case cases[] = {
      {"230.5", 230.5},
      {"  50.00 ", 50.0},
      {"-3", -3.0},
      {"+7", 7.0},
      {".5", 0.5},
      {"1e3", 1000.0},
      {"0", 0.0},
      {"65535", 65535.0},
      {"-2147483648", -2147483648.0},
      {"2011-11-24 08-05-00", std::nullopt},
      {"SN: 000000000001,Model: 5000", std::nullopt},
      {"T(°C)", std::nullopt},
      {"inf", std::nullopt},
      {"nan", std::nullopt},
      {"-inf", std::nullopt},
      {"1e999", std::nullopt},
      {"0x10", std::nullopt},
      {"12abc", std::nullopt},
      {"1 2", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"-", std::nullopt},
      {"+-1", std::nullopt},
      {"1e", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseCellNumber(c.text), c.number) << c.text;
}

TEST(CellText, StringEncoding) {
  struct Case {
    std::string utf8;
    bool wide;
    std::string bytes;
  };
  const Case cases[] = {
      {"Time", false, "Time"},
      {"T(°C)", false, std::string("T(\xB0") + "C)"},
      {"€", true, std::string("\xAC\x20", 2)},
      {"a\xF0\x9F\x98\x80", true, std::string("a\0\x3D\xD8\x00\xDE", 6)},
      {"\xFF"
       "a",
       true,
       std::string("\xFD\xFF"
                   "a\0",
                   4)},  // a bad byte becomes U+FFFD
      {"", false, ""},
  };
  for (const Case& c : cases) {
    const XlsString s = EncodeXlsString(c.utf8);
    EXPECT_EQ(s.wide, c.wide) << c.utf8;
    EXPECT_EQ(s.bytes, c.bytes) << c.utf8;
    EXPECT_EQ(s.units * (s.wide ? 2u : 1u), s.bytes.size());
  }
}

TEST(CellText, LongTextIsCutAt32767Units) {
  const XlsString s = EncodeXlsString(std::string(40000, 'x'));
  EXPECT_EQ(s.units, 32767);
  EXPECT_EQ(s.bytes.size(), 32767u);
}

}  // namespace
}  // namespace pyranex
