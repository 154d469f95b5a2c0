#include "traffic_text.h"

#include <cstdio>
#include <ctime>

namespace pyranex::sim {

std::string HexText(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

std::optional<std::vector<uint8_t>> ParseHex(std::string_view text) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<uint8_t> bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const int hi = nibble(text[i]);
    const int lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    i += 2;
  }
  return bytes;
}

std::string FormatTrafficLine(std::chrono::system_clock::time_point when, std::string_view tag,
                              std::span<const uint8_t> bytes, std::string_view note) {
  const auto since = when.time_since_epoch();
  const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[40];
  const std::size_t len = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(stamp + len, sizeof stamp - len, ".%03d", static_cast<int>(millis));
  std::string line = std::string(stamp) + ' ' + std::string(tag);
  if (!bytes.empty()) line += ' ' + HexText(bytes);
  if (!note.empty()) line += " # " + std::string(note);
  return line;
}

}  // namespace pyranex::sim
