#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pyranex::sim {

// "01 04 00 0A" style text of bytes.
std::string HexText(std::span<const uint8_t> bytes);
// Bytes from hex text; spaces optional between pairs. Nothing on malformed input.
std::optional<std::vector<uint8_t>> ParseHex(std::string_view text);

// One line of the traffic record: local time with milliseconds, a tag (RX, TX, SKIP, ...), the
// bytes in hex and an optional note.
std::string FormatTrafficLine(std::chrono::system_clock::time_point when, std::string_view tag,
                              std::span<const uint8_t> bytes, std::string_view note);

}  // namespace pyranex::sim
