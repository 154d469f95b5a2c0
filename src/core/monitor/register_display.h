#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pyranex {

// Where a register read in the monitor dialog is shown: its read-only display, the edit field
// that takes the same text during the first pass, and the scale of the display rule.
struct RegisterPlace {
  uint32_t registerNumber;
  int display;   // 0: none
  int edit;      // 0: none
  double scale;  // 0: no numeric text
  bool isSigned;
  std::string_view label;  // the dialog's label of the display
};

// The numeric registers of the map, in register order.
const std::vector<RegisterPlace>& RegisterPlaces();
const RegisterPlace* FindRegisterPlace(uint32_t registerNumber);

// The display rule: scale 10 "%3.1f", 100 "%3.2f", 0.1 "%d" of v / s rounded, 1 "%d";
// anything else the empty text.
std::string DisplayText(int64_t value, double scale);

// Twelve characters, one per nibble from the highest of word 0, each nibble + 0x30.
std::string SerialDisplayText(const std::array<uint32_t, 3>& words);
// Twelve characters, high byte then low byte of each word; trailing spaces stay.
std::string StandardDisplayText(const std::array<uint32_t, 6>& words);

// Fault texts by bit number; empty where a bit has no text.
const std::array<std::string_view, 32>& FaultTexts();
// One line per set bit, in the sorted order of the list box (case ignored; empty lines first).
std::vector<std::string> FaultLines(uint32_t bits);

// Text and lamp icon of operating states 0..3; nothing for any other value.
struct StateLook {
  std::string_view text;
  int lamp;
};
std::optional<StateLook> OperatingState(uint32_t value);

// "V%3.2f" of register 45 / 100: 500 gives "V5.00".
std::string FirmwareVersionText(uint16_t value);
// The firmware whose AC power is in watts and whose blocks stop at 359.
inline constexpr std::string_view kUnscaledFirmware = "V5.00";

}  // namespace pyranex
