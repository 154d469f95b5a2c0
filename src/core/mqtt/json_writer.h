#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pyranex {

// Builds one compact JSON text. Keys and values are appended in the order of the calls; the
// writer puts the commas and colons. Numbers never depend on the C locale.
class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view key);

  JsonWriter& String(std::string_view text);
  JsonWriter& Int(int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // Fixed notation with `decimals` digits after the point; NaN and infinities are null.
  JsonWriter& Number(double value, int decimals);

  // Shorthands for a key and its value.
  JsonWriter& Field(std::string_view key, std::string_view text) { return Key(key).String(text); }
  JsonWriter& Field(std::string_view key, const char* text) { return Key(key).String(text); }
  JsonWriter& Field(std::string_view key, int64_t value) { return Key(key).Int(value); }
  JsonWriter& Field(std::string_view key, bool value) { return Key(key).Bool(value); }

  const std::string& Text() const { return text_; }
  std::string Take() { return std::move(text_); }

 private:
  void BeforeValue();

  std::string text_;
  // One entry per open object or array: whether it holds an element already.
  std::vector<bool> hasElement_;
  bool afterKey_ = false;
};

// `value` in fixed notation with `decimals` digits after the point ("230.1"); "-0.0" becomes
// "0.0". Independent of the locale. Empty for NaN and infinities.
std::string FormatFixed(double value, int decimals);

}  // namespace pyranex
