#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pyranex {

// What a typed number may look like, and the prompts shown when a field refuses it. Every
// dialog's data exchange and the monitor engine use these, so a field accepts and refuses the
// same texts wherever it is typed.

// Leading and trailing blanks are allowed; anything else beside the number is NotANumber.
// Decimal only: "0x10", "1e", "inf" and "nan" are no numbers.
enum class ParseResult { Ok, NotANumber, OutOfType };
// OutOfType: digits beyond 64 bits; `value` then holds the nearest limit.
ParseResult ParseSigned(std::string_view text, int64_t& value);
ParseResult ParseUnsigned(std::string_view text, uint64_t& value);
// Digits, one point, an exponent and signs only; OutOfType when it overflows a double.
ParseResult ParseReal(std::string_view text, double& value);

// Each prompt is the program's own Chinese text, unchanged, with its English line under it.
std::string PromptNotNumber();    // "请输入一个数字。"
std::string PromptNotInteger();   // "请输入一个整数。"
std::string PromptNotUnsigned();  // "请输入一个正整数。"
// "请输入一个在 %1 和 %2 之间的整数。" with the bounds as given.
std::string PromptIntegerRange(const std::string& low, const std::string& high);
// "请输入一个在 %1 和 %2 之间的数字。" with the bounds as "%.6g".
std::string PromptRealRange(double low, double high);

// "%.*g" with 6 significant digits: 150.0 gives "150".
std::string FormatSignificant(double value);

// The caption of a prompt box that names the field it is about.
std::string FieldPromptCaption(std::string_view fieldName);

}  // namespace pyranex
