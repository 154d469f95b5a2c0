#include "ui/dialogs/data_exchange.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace pyranex::ui {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// The text without leading and trailing blanks.
std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Digits only, accumulated with saturation; false when there are none or anything else.
ParseResult ParseDigits(const std::string& digits, uint64_t& value) {
  if (digits.empty()) return ParseResult::NotANumber;
  value = 0;
  bool overflow = false;
  for (const char c : digits) {
    if (c < '0' || c > '9') return ParseResult::NotANumber;
    const auto d = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - d) / 10) {
      overflow = true;
      value = std::numeric_limits<uint64_t>::max();
    } else if (!overflow) {
      value = value * 10 + d;
    }
  }
  return overflow ? ParseResult::OutOfType : ParseResult::Ok;
}

std::string FormatReal(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", 6, value);
  return buffer;
}

std::string ReplaceBounds(std::string text, const std::string& low, const std::string& high) {
  text.replace(text.find("%1"), 2, low);
  text.replace(text.find("%2"), 2, high);
  return text;
}

}  // namespace

std::string PromptNotInteger() {
  return "请输入一个整数。";
}
std::string PromptNotUnsigned() {
  return "请输入一个正整数。";
}
std::string PromptNotNumber() {
  return "请输入一个数字。";
}
std::string PromptIntegerRange(int64_t min, int64_t max) {
  return ReplaceBounds("请输入一个在 %1 和 %2 之间的整数。", std::to_string(min),
                       std::to_string(max));
}
std::string PromptUnsignedRange(uint64_t min, uint64_t max) {
  return ReplaceBounds("请输入一个在 %1 和 %2 之间的整数。", std::to_string(min),
                       std::to_string(max));
}
std::string PromptRealRange(double min, double max) {
  return ReplaceBounds("请输入一个在 %1 和 %2 之间的数字。", FormatReal(min), FormatReal(max));
}

ParseResult ParseSigned(const std::string& text, int64_t& value) {
  std::string t = Trimmed(text);
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.erase(0, 1);
  }
  uint64_t magnitude = 0;
  ParseResult result = ParseDigits(t, magnitude);
  if (result == ParseResult::NotANumber) return result;
  constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
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

ParseResult ParseUnsigned(const std::string& text, uint64_t& value) {
  std::string t = Trimmed(text);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  return ParseDigits(t, value);
}

ParseResult ParseReal(const std::string& text, double& value) {
  const std::string t = Trimmed(text);
  if (t.empty()) return ParseResult::NotANumber;
  // Only what a person types as a number: no hexadecimal, no "inf" or "nan".
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

void DataExchange::Fail(QLineEdit& edit, const std::string& prompt) {
  if (!ok_) return;
  ok_ = false;
  notifier_.Show(prompt, "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
  edit.setFocus(Qt::OtherFocusReason);
  edit.selectAll();
}

void DataExchange::Int(QLineEdit& edit, int& field) {
  Int(edit, field, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
}

void DataExchange::Int(QLineEdit& edit, int& field, int min, int max) {
  if (!Active()) return;
  if (!IsSaving()) {
    edit.setText(QString::number(field));
    return;
  }
  int64_t value = 0;
  const ParseResult r = ParseSigned(edit.text().toStdString(), value);
  const bool ranged =
      min != std::numeric_limits<int>::min() || max != std::numeric_limits<int>::max();
  if (r == ParseResult::NotANumber ||
      (!ranged && (r == ParseResult::OutOfType || value < min || value > max))) {
    return Fail(edit, PromptNotInteger());
  }
  if (value < min || value > max) return Fail(edit, PromptIntegerRange(min, max));
  field = static_cast<int>(value);
}

void DataExchange::UInt(QLineEdit& edit, uint32_t& field) {
  UInt(edit, field, 0, std::numeric_limits<uint32_t>::max());
}

void DataExchange::UInt(QLineEdit& edit, uint32_t& field, uint32_t min, uint32_t max) {
  uint64_t wide = field;
  const bool ranged = min != 0 || max != std::numeric_limits<uint32_t>::max();
  if (IsSaving() && Active() && !ranged) {
    // Without a range, a value beyond 32 bits is not a positive integer of this field.
    uint64_t value = 0;
    const ParseResult r = ParseUnsigned(edit.text().toStdString(), value);
    if (r != ParseResult::Ok || value > max) return Fail(edit, PromptNotUnsigned());
  }
  UInt64(edit, wide, min, max);
  field = static_cast<uint32_t>(wide);
}

void DataExchange::UInt64(QLineEdit& edit, uint64_t& field) {
  UInt64(edit, field, 0, std::numeric_limits<uint64_t>::max());
}

void DataExchange::UInt64(QLineEdit& edit, uint64_t& field, uint64_t min, uint64_t max) {
  if (!Active()) return;
  if (!IsSaving()) {
    edit.setText(QString::number(field));
    return;
  }
  uint64_t value = 0;
  const ParseResult r = ParseUnsigned(edit.text().toStdString(), value);
  const bool ranged = min != 0 || max != std::numeric_limits<uint64_t>::max();
  if (r == ParseResult::NotANumber || (r == ParseResult::OutOfType && !ranged)) {
    return Fail(edit, PromptNotUnsigned());
  }
  if (value < min || value > max) return Fail(edit, PromptUnsignedRange(min, max));
  field = value;
}

void DataExchange::Real(QLineEdit& edit, double& field, double min, double max) {
  if (!Active()) return;
  if (!IsSaving()) {
    edit.setText(QString::fromStdString(FormatReal(field)));
    return;
  }
  double value = 0;
  const ParseResult r = ParseReal(edit.text().toStdString(), value);
  if (r == ParseResult::NotANumber || (r == ParseResult::OutOfType && !std::isfinite(max))) {
    return Fail(edit, PromptNotNumber());
  }
  if (r == ParseResult::OutOfType || value < min || value > max) {
    return Fail(edit, PromptRealRange(min, max));
  }
  field = value;
}

void DataExchange::Real(QLineEdit& edit, double& field) {
  Real(edit, field, -std::numeric_limits<double>::infinity(),
       std::numeric_limits<double>::infinity());
}

void DataExchange::Real(QLineEdit& edit, float& field, double min, double max) {
  double wide = field;
  if (IsSaving() && Active() && !std::isfinite(max)) {
    // A value beyond float is no number this field can hold.
    double value = 0;
    if (ParseReal(edit.text().toStdString(), value) == ParseResult::Ok &&
        std::fabs(value) > std::numeric_limits<float>::max()) {
      return Fail(edit, PromptNotNumber());
    }
  }
  Real(edit, wide, min, max);
  field = static_cast<float>(wide);
}

void DataExchange::Real(QLineEdit& edit, float& field) {
  Real(edit, field, -std::numeric_limits<double>::infinity(),
       std::numeric_limits<double>::infinity());
}

void DataExchange::Text(QLineEdit& edit, std::string& field) {
  if (!Active()) return;
  if (!IsSaving()) {
    edit.setText(QString::fromStdString(field));
    return;
  }
  field = edit.text().toStdString();
}

void DataExchange::Check(QAbstractButton& box, bool& field) {
  if (!Active()) return;
  if (!IsSaving()) {
    box.setChecked(field);
    return;
  }
  field = box.isChecked();
}

}  // namespace pyranex::ui
