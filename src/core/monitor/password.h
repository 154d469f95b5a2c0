#pragma once

#include <string_view>

namespace pyranex {

// The parameter-setting password: the right text opens the monitor with full access (writes and
// device commands), any other text as a monitor only.
inline constexpr std::string_view kParameterPassword = "HQDWZEMAXL";

// Exact comparison: same length, same characters, letter case included, nothing trimmed.
constexpr bool IsParameterPassword(std::string_view entered) {
  return entered == kParameterPassword;
}

}  // namespace pyranex
