#include "core/platform/entry_rules.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace pyranex {

namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Digits only, accumulated with saturation.
ParseResult ParseDigits(std::string_view digits, uint64_t& value) {
  if (digits.empty()) return ParseResult::NotANumber;
  value = 0;
  bool overflow = false;
  for (const char c : digits) {
    if (c < '0' || c > '9') return ParseResult::NotANumber;
    const auto d = static_cast<uint64_t>(c - '0');
    if (overflow || value > (std::numeric_limits<uint64_t>::max() - d) / 10) {
      overflow = true;
      value = std::numeric_limits<uint64_t>::max();
    } else {
      value = value * 10 + d;
    }
  }
  return overflow ? ParseResult::OutOfType : ParseResult::Ok;
}

// Every %1 and %2 of the text (the Chinese and the English line both name the bounds).
std::string WithBounds(std::string text, const std::string& low, const std::string& high) {
  for (size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1", at)) {
    text.replace(at, 2, low);
    at += low.size();
  }
  for (size_t at = text.find("%2"); at != std::string::npos; at = text.find("%2", at)) {
    text.replace(at, 2, high);
    at += high.size();
  }
  return text;
}

}  // namespace

ParseResult ParseSigned(std::string_view text, int64_t& value) {
  std::string_view t = Trimmed(text);
  bool negative = false;
  if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  uint64_t magnitude = 0;
  ParseResult result = ParseDigits(t, magnitude);
  if (result == ParseResult::NotANumber) return result;
  constexpr auto kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (negative) {
    if (magnitude > kMaxPositive + 1) result = ParseResult::OutOfType;
    value = magnitude >= kMaxPositive + 1 ? std::numeric_limits<int64_t>::min()
                                          : -static_cast<int64_t>(magnitude);
  } else {
    if (magnitude > kMaxPositive) result = ParseResult::OutOfType;
    value = magnitude > kMaxPositive ? std::numeric_limits<int64_t>::max()
                                     : static_cast<int64_t>(magnitude);
  }
  return result;
}

ParseResult ParseUnsigned(std::string_view text, uint64_t& value) {
  std::string_view t = Trimmed(text);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  return ParseDigits(t, value);
}

ParseResult ParseReal(std::string_view text, double& value) {
  const std::string t(Trimmed(text));
  if (t.empty()) return ParseResult::NotANumber;
  // Only what a person types as a number; strtod alone would also take hexadecimal and "inf".
  for (const char c : t) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) {
      return ParseResult::NotANumber;
    }
  }
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size()) return ParseResult::NotANumber;
  if (errno == ERANGE && std::isinf(parsed)) return ParseResult::OutOfType;
  value = parsed;
  return ParseResult::Ok;
}

std::string PromptNotNumber() {
  return "请输入一个数字。\nEnter a number.";
}

std::string PromptNotInteger() {
  return "请输入一个整数。\nEnter an integer.";
}

std::string PromptNotUnsigned() {
  return "请输入一个正整数。\nEnter a positive integer.";
}

std::string PromptIntegerRange(const std::string& low, const std::string& high) {
  return WithBounds("请输入一个在 %1 和 %2 之间的整数。\nEnter an integer between %1 and %2.", low,
                    high);
}

std::string PromptRealRange(double low, double high) {
  return WithBounds("请输入一个在 %1 和 %2 之间的数字。\nEnter a number between %1 and %2.",
                    FormatSignificant(low), FormatSignificant(high));
}

std::string FormatSignificant(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", 6, value);
  return buffer;
}

std::string FieldPromptCaption(std::string_view fieldName) {
  if (fieldName.empty()) return "Quorvane";
  return std::string(fieldName) + " - Quorvane";
}

}  // namespace pyranex
