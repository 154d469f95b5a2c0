#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pyranex {

// What goes around one "Workbook" stream to make a compound file (version 3, 512-byte sectors):
// the file is header, the stream, padding zeros, then the trailer (directory, FAT, DIFAT).
// The stream takes the first sectors; it must be at least 4096 bytes (no mini stream).
struct CompoundFrame {
  std::vector<uint8_t> header;  // 512 bytes
  size_t padding = 0;           // zeros after the stream up to the next sector boundary
  std::vector<uint8_t> trailer;
};

CompoundFrame FrameWorkbookStream(size_t streamSize);

// The whole file in memory, for tests and tools.
std::vector<uint8_t> BuildCompoundFile(std::span<const uint8_t> workbookStream);

}  // namespace pyranex
