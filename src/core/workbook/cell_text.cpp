#include "core/workbook/cell_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <vector>

namespace pyranex {

std::optional<CellRef> ParseCellName(std::string_view name) {
  size_t i = 0;
  uint32_t col = 0;
  while (i < name.size() && i < 3) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c < 'A' || c > 'Z') break;
    col = col * 26 + static_cast<uint32_t>(c - 'A' + 1);
    ++i;
  }
  if (i == 0 || col > kXlsMaxCols) return std::nullopt;
  const std::string_view digits = name.substr(i);
  if (digits.empty() || digits.size() > 5 || digits[0] == '0') return std::nullopt;
  uint32_t row = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), row);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (row < 1 || row > kXlsMaxRows) return std::nullopt;
  return CellRef{row - 1, col - 1};
}

namespace {

enum class PlainDecimal { Number, NotNumber, Unsure };

// Digits with at most one point, whose digits make an integer up to 2^53, with at most 22
// decimals: the integer and the power of ten are both exact doubles, so one division gives the
// correctly rounded value, the same that from_chars gives, much faster. Unsure for an exponent
// or more digits, where from_chars decides.
PlainDecimal ParsePlainDecimal(std::string_view text, double& value) {
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr uint64_t kExactLimit = uint64_t{1} << 53;
  const char* p = text.data();
  const char* const end = p + text.size();
  uint64_t digits = 0;
  bool tooMany = false;
  const auto take = [&] {
    const char* from = p;
    for (; p != end && static_cast<unsigned char>(*p - '0') <= 9; ++p) {
      digits = digits * 10 + static_cast<uint64_t>(*p - '0');
      if (digits > kExactLimit) {
        tooMany = true;
        return size_t{0};
      }
    }
    return static_cast<size_t>(p - from);
  };
  const size_t whole = take();
  size_t decimals = 0;
  if (!tooMany && p != end && *p == '.') {
    ++p;
    decimals = take();
  }
  if (tooMany || decimals >= std::size(kPowersOfTen) || (p != end && (*p == 'e' || *p == 'E'))) {
    return PlainDecimal::Unsure;
  }
  if (p != end || whole + decimals == 0) return PlainDecimal::NotNumber;
  value = static_cast<double>(digits);
  if (decimals != 0) value /= kPowersOfTen[decimals];
  return PlainDecimal::Number;
}

}  // namespace

std::optional<double> ParseCellNumber(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // from_chars would also take "inf", "nan" and their kin; a number starts with a digit or '.'.
  if (text.empty() || !((text.front() >= '0' && text.front() <= '9') || text.front() == '.')) {
    return std::nullopt;
  }
  double value = 0;
  switch (ParsePlainDecimal(text, value)) {
    case PlainDecimal::Number:
      return negative ? -value : value;
    case PlainDecimal::NotNumber:
      return std::nullopt;
    case PlainDecimal::Unsure:
      break;
  }
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

namespace {

// Decodes one UTF-8 sequence at s[i]; advances i. Malformed input yields U+FFFD.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    ++i;
    return 0xFFFD;
  }
  size_t k = i + 1;
  for (int n = 0; n < extra; ++n, ++k) {
    if (k >= s.size() || (byte(k) & 0xC0) != 0x80) {
      i = k;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(k) & 0x3F);
  }
  i = k;
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}

}  // namespace

XlsString EncodeXlsString(std::string_view utf8) {
  constexpr size_t kMaxUnits = 32767;
  // Plain ASCII, the usual case, is stored as it is.
  if (utf8.size() <= kMaxUnits && std::all_of(utf8.begin(), utf8.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
      })) {
    return XlsString{static_cast<uint16_t>(utf8.size()), false, std::string(utf8)};
  }
  std::vector<char16_t> units;
  units.reserve(utf8.size());
  bool wide = false;
  for (size_t i = 0; i < utf8.size();) {
    const char32_t cp = DecodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      if (units.size() + 2 > kMaxUnits) break;
      const char32_t v = cp - 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
      wide = true;
    } else {
      if (units.size() + 1 > kMaxUnits) break;
      units.push_back(static_cast<char16_t>(cp));
      if (cp > 0xFF) wide = true;
    }
  }
  XlsString out;
  out.units = static_cast<uint16_t>(units.size());
  out.wide = wide;
  out.bytes.reserve(units.size() * (wide ? 2 : 1));
  for (const char16_t u : units) {
    out.bytes.push_back(static_cast<char>(u & 0xFF));
    if (wide) out.bytes.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

}  // namespace pyranex
