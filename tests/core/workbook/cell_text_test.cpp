#include "core/workbook/cell_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

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

// What a typed-in text reads as, by the library alone: the reference for the quick path.
std::optional<double> LibraryNumber(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text[0] == '.'))
    return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return negative ? -value : value;
}

TEST(CellText, NumbersReadAsTheLibraryReadsThem) {
  std::vector<std::string> texts = {"9007199254740992",
                                    "9007199254740993",
                                    "0.1",
                                    "0.30000000000000004",
                                    "123456789.123456",
                                    "1.7976931348623157e308",
                                    "-0",
                                    "-0.0",
                                    "0000000000000000000000000000012.5",
                                    "1.",
                                    "5.e3",
                                    ".",
                                    "1.2.3",
                                    "0.00000000000000000000001",
                                    "4.9e-324",
                                    "12-5",
                                    " -.5\t",
                                    "99999999999999999999"};
  std::mt19937_64 random(11);
  for (int n = 0; n < 200000; ++n) {
    // Up to 20 digits, a point anywhere or nowhere, now and then a sign or an exponent.
    std::string text = random() % 8 == 0 ? "-" : "";
    const int digits = 1 + static_cast<int>(random() % 20);
    const int point = static_cast<int>(random() % (digits + 2)) - 1;
    for (int i = 0; i < digits; ++i) {
      if (i == point) text += '.';
      text += static_cast<char>('0' + random() % 10);
    }
    if (random() % 16 == 0) text += "e" + std::to_string(static_cast<int>(random() % 40) - 20);
    texts.push_back(text);
  }
  for (const std::string& text : texts) {
    const auto ours = ParseCellNumber(text);
    const auto theirs = LibraryNumber(text);
    ASSERT_EQ(ours.has_value(), theirs.has_value()) << text;
    if (ours) {
      ASSERT_EQ(std::bit_cast<uint64_t>(*ours), std::bit_cast<uint64_t>(*theirs)) << text;
    }
  }
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
