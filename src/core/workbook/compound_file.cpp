#include "core/workbook/compound_file.h"

#include <algorithm>
#include <string_view>

namespace pyranex {
namespace {

constexpr size_t kSector = 512;
constexpr uint32_t kEntriesPerFatSector = kSector / 4;
constexpr uint32_t kHeaderDifatEntries = 109;
constexpr uint32_t kDifatEntriesPerSector = kEntriesPerFatSector - 1;  // last one chains
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t CeilDiv(size_t a, size_t b) {
  return static_cast<uint32_t>((a + b - 1) / b);
}

void DirectoryEntry(std::vector<uint8_t>& b, size_t at, std::u16string_view name, uint8_t type,
                    uint32_t child, uint32_t start, uint32_t size) {
  for (size_t i = 0; i < name.size(); ++i) Put16(b, at + 2 * i, name[i]);
  Put16(b, at + 64, static_cast<uint16_t>((name.size() + 1) * 2));
  b[at + 66] = type;
  b[at + 67] = 1;  // black
  Put32(b, at + 68, kNoStream);
  Put32(b, at + 72, kNoStream);
  Put32(b, at + 76, child);
  Put32(b, at + 116, start);
  Put32(b, at + 120, size);
}

}  // namespace

CompoundFrame FrameWorkbookStream(size_t streamSize) {
  const uint32_t streamSectors = CeilDiv(streamSize, kSector);
  const uint32_t dirSector = streamSectors;
  uint32_t fatSectors = 1;
  uint32_t difatSectors = 0;
  for (;;) {
    const uint32_t total = streamSectors + 1 + fatSectors + difatSectors;
    const uint32_t fat = CeilDiv(total, kEntriesPerFatSector);
    const uint32_t difat =
        fat > kHeaderDifatEntries ? CeilDiv(fat - kHeaderDifatEntries, kDifatEntriesPerSector) : 0;
    if (fat == fatSectors && difat == difatSectors) break;
    fatSectors = std::max(fat, fatSectors);
    difatSectors = std::max(difat, difatSectors);
  }
  const uint32_t firstFat = dirSector + 1;
  const uint32_t firstDifat = firstFat + fatSectors;

  CompoundFrame frame;
  frame.padding = static_cast<size_t>(streamSectors) * kSector - streamSize;

  std::vector<uint8_t>& h = frame.header;
  h.assign(kSector, 0);
  static constexpr uint8_t kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(std::begin(kSignature), std::end(kSignature), h.begin());
  Put16(h, 24, 0x003E);  // minor version
  Put16(h, 26, 0x0003);  // major version
  Put16(h, 28, 0xFFFE);  // little-endian
  Put16(h, 30, 9);       // 512-byte sectors
  Put16(h, 32, 6);       // 64-byte mini sectors
  Put32(h, 44, fatSectors);
  Put32(h, 48, dirSector);
  Put32(h, 56, 4096);  // mini stream cutoff
  Put32(h, 60, kEndOfChain);
  Put32(h, 64, 0);
  Put32(h, 68, difatSectors ? firstDifat : kEndOfChain);
  Put32(h, 72, difatSectors);
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) {
    Put32(h, 76 + 4 * i, i < fatSectors ? firstFat + i : kFreeSect);
  }

  std::vector<uint8_t>& t = frame.trailer;
  t.assign(static_cast<size_t>(1 + fatSectors + difatSectors) * kSector, 0);
  // Directory: root, the stream, two unused entries.
  for (size_t e = 0; e < 4; ++e) {
    Put32(t, e * 128 + 68, kNoStream);
    Put32(t, e * 128 + 72, kNoStream);
    Put32(t, e * 128 + 76, kNoStream);
  }
  DirectoryEntry(t, 0, u"Root Entry", 5, 1, kEndOfChain, 0);
  DirectoryEntry(t, 128, u"Workbook", 2, kNoStream, streamSectors ? 0 : kEndOfChain,
                 static_cast<uint32_t>(streamSize));

  const size_t fatAt = kSector;
  const uint32_t fatEntries = fatSectors * kEntriesPerFatSector;
  for (uint32_t s = 0; s < fatEntries; ++s) {
    uint32_t v = kFreeSect;
    if (s < streamSectors) {
      v = s + 1 < streamSectors ? s + 1 : kEndOfChain;
    } else if (s == dirSector) {
      v = kEndOfChain;
    } else if (s >= firstFat && s < firstDifat) {
      v = kFatSect;
    } else if (s >= firstDifat && s < firstDifat + difatSectors) {
      v = kDifSect;
    }
    Put32(t, fatAt + 4 * s, v);
  }

  const size_t difatAt = fatAt + static_cast<size_t>(fatSectors) * kSector;
  for (uint32_t d = 0; d < difatSectors; ++d) {
    const size_t base = difatAt + static_cast<size_t>(d) * kSector;
    for (uint32_t k = 0; k < kDifatEntriesPerSector; ++k) {
      const uint32_t fatIndex = kHeaderDifatEntries + d * kDifatEntriesPerSector + k;
      Put32(t, base + 4 * k, fatIndex < fatSectors ? firstFat + fatIndex : kFreeSect);
    }
    Put32(t, base + 4 * kDifatEntriesPerSector,
          d + 1 < difatSectors ? firstDifat + d + 1 : kEndOfChain);
  }
  return frame;
}

std::vector<uint8_t> BuildCompoundFile(std::span<const uint8_t> workbookStream) {
  const CompoundFrame frame = FrameWorkbookStream(workbookStream.size());
  std::vector<uint8_t> file;
  file.reserve(frame.header.size() + workbookStream.size() + frame.padding + frame.trailer.size());
  file.insert(file.end(), frame.header.begin(), frame.header.end());
  file.insert(file.end(), workbookStream.begin(), workbookStream.end());
  file.insert(file.end(), frame.padding, 0);
  file.insert(file.end(), frame.trailer.begin(), frame.trailer.end());
  return file;
}

}  // namespace pyranex
