#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pyranex {

// Paths travel through the program as UTF-8 texts. The file system gets them in its own form
// (UTF-16 on Windows), never through the narrow code page std::filesystem would use there.
inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace pyranex
