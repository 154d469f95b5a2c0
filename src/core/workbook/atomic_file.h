#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string>

namespace pyranex {

// Writes the parts, in order, to a new file in the target's folder, flushes it to the disk and
// renames it over the target; the target is never seen half written. Returns an empty text on
// success, otherwise the reason (the previous target, if any, is left as it was).
std::string WriteFileAtomically(const std::filesystem::path& target,
                                std::initializer_list<std::span<const uint8_t>> parts);

}  // namespace pyranex
